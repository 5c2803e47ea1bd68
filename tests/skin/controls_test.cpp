// The drawn controls as real windows: the button's BM_CLICK and the link between a window and
// its object.
#include <gtest/gtest.h>

#include <windows.h>

#include "skin/controls.h"
#include "skin_window_fixture.h"

namespace {

using SkinTest::TopWindowTest;

class ButtonTest : public TopWindowTest {};

TEST_F(ButtonTest, BmClickRunsOnClickOnlyWhileEnabled) {
  struct Case {
    bool enabled;
    int clicks;
  };
  for (const Case c : {Case{true, 1}, Case{false, 0}}) {
    Skin::TsButton button;
    button.Create(Top(), 1008, Skin::TPicture{});
    int clicks = 0;
    TObject* sender = nullptr;
    button.OnClick = [&](TObject* s) {
      ++clicks;
      sender = s;
    };
    button.SetEnabled(c.enabled);
    EXPECT_EQ(SendMessageW(button.Handle(), BM_CLICK, 0, 0), 0);
    EXPECT_EQ(clicks, c.clicks) << "enabled " << c.enabled;
    if (c.clicks) {
      EXPECT_EQ(sender, &button);
    }
  }
}

TEST_F(ButtonTest, BmClickFromAnotherThreadRunsOnTheWindowsThread) {
  Skin::TsButton button;
  button.Create(Top(), 1008, Skin::TPicture{});
  DWORD clickThread = 0;
  button.OnClick = [&](TObject*) { clickThread = GetCurrentThreadId(); };
  // As a test driver does it: from outside, while this thread runs its message loop.
  ASSERT_TRUE(SkinTest::SendFromOtherThread(button.Handle(), BM_CLICK));
  EXPECT_EQ(clickThread, GetCurrentThreadId());
}

TEST_F(TopWindowTest, DestroyedWindowLeavesNoHandleInItsObject) {
  Skin::TsButton button;
  button.Create(Top(), 1008, Skin::TPicture{});
  int clicks = 0;
  button.OnClick = [&](TObject*) { ++clicks; };
  const HWND handle = button.Handle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(GetDlgItem(Top(), 1008), handle);
  // The parent takes its children with it; the object must not keep the dead handle.
  DestroyTop();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(button.Handle(), nullptr);
  button.Click();  // a button without a window does nothing
  EXPECT_EQ(clicks, 0);
}

}  // namespace
