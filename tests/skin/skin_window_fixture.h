// A visible top-level window for the controls under test, and message-loop helpers that never
// rely on timing: waits end on a condition, their time limits are only a safety net.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <thread>

#include "skin/controls.h"

namespace SkinTest {

// Runs this thread's message loop until done() holds or the safety limit passes.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 60000) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// Sends a message to hwnd from another thread, as a test driver or screen reader does, while
// this thread runs its loop. True when the window answered; result gets the answer.
inline bool SendFromOtherThread(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0,
                                LRESULT* result = nullptr) {
  std::atomic<bool> finished{false};
  bool answered = false;
  DWORD_PTR answer = 0;
  std::thread sender([&] {
    answered = SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_NORMAL, 30000, &answer) != 0;
    finished = true;
  });
  PumpUntil([&] { return finished.load(); }, 120000);
  sender.join();
  if (result) *result = static_cast<LRESULT>(answer);
  return answered;
}

// A plain visible top-level window with the controls' classes registered and COM initialised
// as a single-threaded apartment, as the program does. A frameless popup, shown without
// activation: under Wine without a window manager, destroying a framed or an active window
// waits two seconds for the manager's answer.
class TopWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool com = SUCCEEDED(CoInitialize(nullptr));
    ASSERT_TRUE(com);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    Skin::RegisterControlClasses(instance);
    static const ATOM cls = [instance] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = instance;
      wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      wc.lpszClassName = L"MorvaneSkinTestTop";
      return RegisterClassExW(&wc);
    }();
    ASSERT_NE(cls, 0);
    FTop = CreateWindowExW(0, L"MorvaneSkinTestTop", L"skin test", WS_POPUP | WS_CLIPCHILDREN, 40, 40,
                           640, 480, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(FTop, nullptr);
    ShowWindow(FTop, SW_SHOWNA);
    UpdateWindow(FTop);
  }
  void TearDown() override { DestroyTop(); }

  HWND Top() const { return FTop; }
  void DestroyTop() {
    if (FTop) DestroyWindow(FTop);
    FTop = nullptr;
  }

 private:
  HWND FTop = nullptr;
};

}  // namespace SkinTest
