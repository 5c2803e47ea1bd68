// The web view hosted in a window: which page it was asked to open, hiding, showing and
// resizing with its window, and a window that stays responsive and asks nothing of the user.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include "skin/controls.h"
#include "skin_window_fixture.h"

namespace {

using SkinTest::PumpUntil;

std::wstring Lower(std::wstring s) {
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return s;
}

// Whether the browser's location (a file URL or a plain path) is the given file.
bool LocationIs(const std::wstring& location, const std::wstring& path) {
  if (location.empty()) return false;
  std::wstring asPath = location;
  if (Lower(location.substr(0, 5)) == L"file:") {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (FAILED(PathCreateFromUrlW(location.c_str(), buffer, &size, 0))) return false;
    asPath.assign(buffer, size);
  }
  return Lower(asPath) == Lower(path);
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// Visible top-level windows of this process other than the given one: dialogs or prompts.
std::vector<std::wstring> OtherVisibleWindows(HWND except) {
  struct Search {
    HWND except;
    std::vector<std::wstring> found;
  } search{except, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == GetCurrentProcessId() && hwnd != s->except && IsWindowVisible(hwnd)) {
          wchar_t text[128] = {};
          GetWindowTextW(hwnd, text, 128);
          s->found.push_back(ClassName(hwnd) + L" \"" + text + L"\"");
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Whether the system registers the web browser control at all.
bool BrowserControlRegistered() {
  CLSID clsid{};
  return SUCCEEDED(CLSIDFromProgID(L"Shell.Explorer.2", &clsid));
}

SIZE WindowSize(HWND hwnd) {
  RECT rc{};
  GetWindowRect(hwnd, &rc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

class WebBrowserTest : public SkinTest::TopWindowTest {
 protected:
  void SetUp() override {
    TopWindowTest::SetUp();
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    FFolder = std::wstring(temp) + L"morvane-web-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(FFolder.c_str(), nullptr);
    FFirst = WritePage(L"first.html", "<html><body><p>First page</p></body></html>");
    FSecond = WritePage(L"second page.html", "<html><body><p>Second page</p></body></html>");
    Web.Create(Top(), 1002);
    ASSERT_NE(Web.Handle(), nullptr);
    Web.SetBounds(0, 0, 544, 232);
    Web.SetVisible(true);
  }
  void TearDown() override {
    DestroyTop();
    DeleteFileW(FFirst.c_str());
    DeleteFileW(FSecond.c_str());
    RemoveDirectoryW(FFolder.c_str());
  }

  std::wstring WritePage(const std::wstring& name, const char* html) {
    const std::wstring path = FFolder + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, html, static_cast<DWORD>(strlen(html)), &written, nullptr);
    CloseHandle(file);
    return path;
  }

  // Navigates and checks everything that tells which page the view was asked for.
  void NavigateAndCheck(const std::wstring& path) {
    Web.Navigate(path);
    EXPECT_EQ(Web.Text(), path);
    EXPECT_EQ(Web.LocationPath(), path);
    // Where the system has the control, the view hosts it; only elsewhere does it fall back.
    EXPECT_EQ(Web.BrowserHosted(), BrowserControlRegistered());
    if (Web.BrowserHosted()) {
      EXPECT_TRUE(PumpUntil([&] { return LocationIs(Web.BrowserLocationUrl(), path); }))
          << "browser location: " << testing::PrintToString(Web.BrowserLocationUrl());
    }
  }

  void ExpectResponsiveAndUnprompted() {
    LRESULT answer = 1;
    EXPECT_TRUE(SkinTest::SendFromOtherThread(Top(), WM_GETTEXTLENGTH, 0, 0, &answer));
    EXPECT_EQ(answer, 9);  // "skin test"
    EXPECT_TRUE(SkinTest::SendFromOtherThread(Web.Handle(), WM_NULL));
    EXPECT_EQ(OtherVisibleWindows(Top()), std::vector<std::wstring>{});
  }

  Skin::TsWebBrowser Web;
  std::wstring FFolder, FFirst, FSecond;
};

TEST_F(WebBrowserTest, IsAReadableChildWindowBeforeAnyPage) {
  EXPECT_EQ(ClassName(Web.Handle()), L"TsWebBrowser");
  EXPECT_EQ(GetDlgItem(Top(), 1002), Web.Handle());
  EXPECT_EQ(Web.Text(), L"");
  EXPECT_EQ(Web.LocationPath(), L"");
  EXPECT_FALSE(Web.BrowserHosted());
  EXPECT_EQ(Web.BrowserWindow(), nullptr);
}

TEST_F(WebBrowserTest, OpensThePathItIsGivenAndASecondReplacesIt) {
  NavigateAndCheck(FFirst);
  ExpectResponsiveAndUnprompted();
  NavigateAndCheck(FSecond);
  EXPECT_FALSE(LocationIs(Web.BrowserLocationUrl(), FFirst));
  ExpectResponsiveAndUnprompted();
  // The same page again is opened again (the page file is rewritten on every call).
  NavigateAndCheck(FSecond);
}

// Without it the control would draw pages in its oldest mode, which runs plain notes together.
TEST_F(WebBrowserTest, AsksForTheCurrentDocumentModeForItsOwnFileName) {
  const wchar_t* key = L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring name = std::wstring(path).substr(std::wstring(path).find_last_of(L'\\') + 1);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name.c_str());
  Web.Navigate(FFirst);
  DWORD mode = 0, size = sizeof mode;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, name.c_str(), RRF_RT_REG_DWORD, nullptr, &mode, &size), ERROR_SUCCESS);
  EXPECT_EQ(mode, Skin::kBrowserDocumentMode);
}

TEST_F(WebBrowserTest, BrowserFillsItsWindowAndHidesAndShowsWithIt) {
  NavigateAndCheck(FFirst);
  if (!Web.BrowserHosted()) GTEST_SKIP() << "no browser control on this system";
  const HWND browser = Web.BrowserWindow();
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(GetParent(browser), Web.Handle());

  struct Bounds {
    int x, y, w, h;
  };
  for (const Bounds b : {Bounds{0, 0, 544, 232}, Bounds{10, 20, 300, 150}, Bounds{0, 0, 816, 348}}) {
    Web.SetBounds(b.x, b.y, b.w, b.h);
    ASSERT_TRUE(PumpUntil([&] {
      const SIZE s = WindowSize(browser);
      return s.cx == b.w && s.cy == b.h;
    }, 15000)) << "browser " << WindowSize(browser).cx << " x " << WindowSize(browser).cy << ", view " << b.w << " x "
        << b.h;
  }

  Web.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(Web.Handle()));
  EXPECT_FALSE(IsWindowVisible(browser));
  Web.SetVisible(true);
  EXPECT_TRUE(IsWindowVisible(Web.Handle()));
  EXPECT_TRUE(IsWindowVisible(browser));
  ExpectResponsiveAndUnprompted();
}

TEST_F(WebBrowserTest, NavigatesWhileHiddenAndShowsThePageLater) {
  // As the start-up check does: the page is opened before the window is ever shown.
  Web.SetVisible(false);
  ShowWindow(Top(), SW_HIDE);
  NavigateAndCheck(FFirst);
  ShowWindow(Top(), SW_SHOWNA);
  Web.SetVisible(true);
  if (Web.BrowserHosted()) {
    EXPECT_TRUE(IsWindowVisible(Web.BrowserWindow()));
  }
  ExpectResponsiveAndUnprompted();
}

TEST_F(WebBrowserTest, ClosingTheWindowReleasesTheBrowser) {
  NavigateAndCheck(FFirst);
  DestroyTop();
  EXPECT_EQ(Web.Handle(), nullptr);
  EXPECT_FALSE(Web.BrowserHosted());
  EXPECT_EQ(Web.BrowserLocationUrl(), L"");
  Web.Navigate(FSecond);  // without a window it only records the path
  EXPECT_EQ(Web.LocationPath(), FSecond);
}

}  // namespace
