// The launcher as a user and a screen reader meet it: Morvane.exe of this build tree started
// under Wine, its window read from outside through window classes, texts and states.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "launcher_driver.h"
#include "screen_capture.h"
#include "support/standin.h"
#include "system/text.h"

namespace {

// Limits that only keep a broken run from hanging the suite.
constexpr DWORD kLimitMs = 90000;

std::string BuildDir() { return EnvOr("MORVANE_BUILD_DIR", "."); }
std::wstring LauncherExe() { return WindowsPath(BuildDir() + "/Morvane.exe"); }

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}


// The current environment with the given variables set, as a block for CreateProcessW.
std::wstring EnvironmentWith(const std::vector<std::pair<std::wstring, std::wstring>>& env) {
  std::wstring block;
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* p = current; *p; p += wcslen(p) + 1) {
    const std::wstring var = p;
    bool replaced = false;
    for (const auto& [name, value] : env)
      if (SameTextAscii(var.substr(0, var.find(L'=')), name)) replaced = true;
    if (!replaced) block += var + L'\0';
  }
  FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : env) block += name + L"=" + value + L'\0';
  return block + L'\0';
}

// One run of the launcher, started with a show command of our choice (STARTUPINFO), the
// release folder pointed at a refused port and a local application data folder of its own.
class TLauncherRun {
 public:
  TLauncherRun(const std::wstring& args, int showCommand = -1) {
    static const std::wstring api = L"http://127.0.0.1:" + std::to_wstring(RefusedLoopbackPort());
    const std::wstring local = WindowsPath(BuildDir() + "/tests/app/app-work/local");
    CreateDirectoryW(WindowsPath(BuildDir() + "/tests/app/app-work").c_str(), nullptr);
    CreateDirectoryW(local.c_str(), nullptr);
    std::wstring env = EnvironmentWith({{L"MORVANE_API_ROOT", api},
                                        {L"MORVANE_PUBLIC_FOLDER_LINK", L"https://disk.yandex.ru/d/AbCdEfGhIjKlMn"},
                                        {L"LOCALAPPDATA", local}});
    const std::wstring exe = LauncherExe();
    std::wstring commandLine = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (showCommand >= 0) {
      si.dwFlags = STARTF_USESHOWWINDOW;
      si.wShowWindow = static_cast<WORD>(showCommand);
    }
    Started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                             env.data(), nullptr, &si, &FInfo) != FALSE;
  }
  ~TLauncherRun() {
    if (!FInfo.hProcess) return;
    if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(FInfo.hProcess, 1);
      WaitForSingleObject(FInfo.hProcess, 10000);
    }
    CloseHandle(FInfo.hProcess);
    CloseHandle(FInfo.hThread);
  }
  TLauncherRun(const TLauncherRun&) = delete;
  TLauncherRun& operator=(const TLauncherRun&) = delete;

  DWORD Id() const { return FInfo.dwProcessId; }
  bool Running() const { return WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT; }
  bool WaitExit(DWORD ms) const { return WaitForSingleObject(FInfo.hProcess, ms) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(FInfo.hProcess, &code);
    return code;
  }

  // The launcher window once it is visible (nullptr when it never shows within the limit).
  HWND WaitForWindow() const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
          const TWindowView view = TWindowView::Find(Id());
          if (view.Found() && IsWindowVisible(view.Window)) found = view.Window;
          return found != nullptr || !Running();
        },
        kLimitMs);
    return found;
  }

  // Closes the window as its close button does and waits for the end of the program.
  bool CloseAndWait(HWND window) const {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return WaitExit(kLimitMs);
  }

  bool Started = false;

 private:
  PROCESS_INFORMATION FInfo{};
};

// The visible top-level windows of a process.
std::vector<HWND> VisibleTopLevelWindows(DWORD pid) {
  struct TSearch {
    DWORD Pid;
    std::vector<HWND> Found;
  } search{pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->Pid && IsWindowVisible(hwnd)) s->Found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

HWND ChildWithId(HWND window, int id) {
  struct TSearch {
    int Id;
    HWND Found;
  } search{id, nullptr};
  EnumChildWindows(
      window,
      [](HWND hwnd, LPARAM param) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        if (GetDlgCtrlID(hwnd) == s->Id) {
          s->Found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// A control's rectangle in the client coordinates of the top-level window.
RECT RectInClient(HWND control, HWND window) {
  RECT rc;
  GetWindowRect(control, &rc);
  MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

SIZE ClientSize(HWND window) {
  RECT rc;
  GetClientRect(window, &rc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

// The controls of state Ready with their places at 96 DPI (client coordinates: x, y, w, h).
struct TControlRow {
  const char* Name;
  int Id;
  const wchar_t* Class;
  int ParentId;  // 0: the window itself
  const wchar_t* Text;
  bool Visible;
  RECT Place;
};

const TControlRow kReadyControls[] = {
    {"sImage1", 1001, L"TsImage", 0, L"", true, {0, 0, 544, 232}},
    {"sWebBrowser1", 1002, L"TsWebBrowser", 0, L"", false, {0, 0, 544, 232}},
    {"sPanel2", 1003, L"TsPanel", 0, L"", true, {0, 232, 544, 202}},
    {"sPanel3", 1004, L"TsPanel", 1003, L"", true, {0, 255, 544, 34}},
    {"sPanel1", 1005, L"TsPanel", 1003, L"", true, {0, 289, 544, 92}},
    {"lblStatus", 1006, L"TLabel", 1003, L"Нажмите на кнопку для начала установки", true, {0, 381, 544, 53}},
    {"ProgressBar", 1007, L"TsGauge", 1004, L"0%", false, {40, 255, 464, 34}},
    {"btnUpdate", 1008, L"TsButton", 1005, L"Установить", true, {150, 304, 244, 62}},
};

int Scaled(int v, int dpi) { return static_cast<int>(std::lround(v * dpi / 96.0)); }

// Every control of the table at its class, ID, parent, text, visibility and place, scaled to
// the DPI (within 2 pixels of rounding away from 96 DPI).
void ExpectReadyControls(HWND window, int dpi) {
  const int slack = dpi == 96 ? 0 : 2;
  for (const TControlRow& row : kReadyControls) {
    SCOPED_TRACE(row.Name);
    HWND control = ChildWithId(window, row.Id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(ClassOf(control), row.Class);
    HWND parent = GetParent(control);
    if (row.ParentId == 0) {
      EXPECT_EQ(parent, window);
    } else {
      EXPECT_EQ(GetDlgCtrlID(parent), row.ParentId);
    }
    EXPECT_EQ(WindowTextOf(control), row.Text);
    EXPECT_EQ(IsWindowVisible(control) != FALSE, row.Visible);
    const RECT rc = RectInClient(control, window);
    EXPECT_NEAR(rc.left, Scaled(row.Place.left, dpi), slack);
    EXPECT_NEAR(rc.top, Scaled(row.Place.top, dpi), slack);
    EXPECT_NEAR(rc.right - rc.left, Scaled(row.Place.right, dpi), slack);
    EXPECT_NEAR(rc.bottom - rc.top, Scaled(row.Place.bottom, dpi), slack);
  }
  EXPECT_TRUE(IsWindowEnabled(ChildWithId(window, 1008)));
}

TEST(LauncherWindow, PlainStartShowsStateReady) {
  TLauncherRun run(L"");
  ASSERT_TRUE(run.Started) << EncodeUtf8(LauncherExe());
  HWND window = run.WaitForWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ClassOf(window), L"TFormLauncher");
  EXPECT_EQ(WindowTextOf(window), L"Установка");
  const SIZE client = ClientSize(window);
  EXPECT_EQ(client.cx, 544);
  EXPECT_EQ(client.cy, 434);

  // Fixed frame with system menu, close and minimise buttons only; top-most; its own
  // taskbar button (no owner, WS_EX_APPWINDOW).
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());

  // Centred on the desktop that spans all monitors.
  RECT wr;
  GetWindowRect(window, &wr);
  const int vx = GetSystemMetrics(SM_XVIRTUALSCREEN), vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int vw = GetSystemMetrics(SM_CXVIRTUALSCREEN), vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  EXPECT_NEAR((wr.left + wr.right) / 2, vx + vw / 2, 1);
  EXPECT_NEAR((wr.top + wr.bottom) / 2, vy + vh / 2, 1);

  ExpectReadyControls(window, 96);

  ASSERT_TRUE(run.CloseAndWait(window));
  EXPECT_EQ(run.ExitCode(), 0u);
}

// The first showing follows the show command the process was started with.
TEST(LauncherWindow, StartUpShowCommandIsHonoured) {
  const struct {
    const char* What;
    int ShowCommand;
    bool Iconic;
    bool Zoomed;
  } cases[] = {
      {"minimised without activation", SW_SHOWMINNOACTIVE, true, false},
      {"minimised", SW_SHOWMINIMIZED, true, false},
      {"maximised", SW_SHOWMAXIMIZED, false, true},
      {"normal", SW_SHOWNORMAL, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TLauncherRun run(L"", c.ShowCommand);
    ASSERT_TRUE(run.Started);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(IsIconic(window) != FALSE, c.Iconic);
    EXPECT_EQ(IsZoomed(window) != FALSE, c.Zoomed);
    ASSERT_TRUE(run.CloseAndWait(window));
    EXPECT_EQ(run.ExitCode(), 0u);
  }
}

// Silent mode with a release folder that cannot be reached: the check fails, the program
// ends with exit code 0 and no window of it is ever visible (no taskbar button either).
TEST(LauncherWindow, SilentModeWithUnreachableFolderEndsUnseen) {
  for (const wchar_t* args : {L"-checkmorvane", L"/CHECKMORVANE", L"\"-CheckMorvane\""}) {
    SCOPED_TRACE(EncodeUtf8(args));
    TLauncherRun run(args);
    ASSERT_TRUE(run.Started);
    std::vector<std::wstring> seen;
    const ULONGLONG end = GetTickCount64() + kLimitMs;
    while (run.Running() && GetTickCount64() < end) {
      for (HWND hwnd : VisibleTopLevelWindows(run.Id())) seen.push_back(ClassOf(hwnd) + L" " + WindowTextOf(hwnd));
      Sleep(1);
    }
    ASSERT_TRUE(run.WaitExit(10000)) << "still running";
    EXPECT_EQ(run.ExitCode(), 0u);
    for (const std::wstring& w : seen) ADD_FAILURE() << "visible: " << EncodeUtf8(w);
  }
}

// The text of a message box of the process, once one is visible.
HWND WaitForMessageBox(const TLauncherRun& run) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        for (HWND hwnd : VisibleTopLevelWindows(run.Id()))
          if (ClassOf(hwnd) == L"#32770") box = hwnd;
        return box != nullptr || !run.Running();
      },
      kLimitMs);
  return box;
}

// "/acver": the skin engine shows its version in a message box; after OK the program goes on
// to its window in state Ready.
TEST(LauncherWindow, VersionRequestShowsMessageBoxThenGoesOn) {
  TLauncherRun run(L"/acver");
  ASSERT_TRUE(run.Started);
  HWND box = WaitForMessageBox(run);
  ASSERT_NE(box, nullptr) << "no message box";
  const std::wstring text = MessageBoxText(box);
  bool versionNumber = false;
  for (size_t i = 0; i + 2 < text.size(); ++i)
    if (iswdigit(text[i]) && text[i + 1] == L'.' && iswdigit(text[i + 2])) versionNumber = true;
  EXPECT_TRUE(versionNumber) << EncodeUtf8(text);
  EXPECT_FALSE(TWindowView::Find(run.Id()).WindowVisible()) << "the window shows only after the box";

  PostMessageW(box, WM_COMMAND, IDOK, 0);
  HWND window = run.WaitForWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowTextOf(ChildWithId(window, 1008)), L"Установить");
  ASSERT_TRUE(run.CloseAndWait(window));
  EXPECT_EQ(run.ExitCode(), 0u);
}

// The DPI of the screen the launcher's window opens on, as a per-monitor aware program sees it
// (the test program is one, like the launcher).
int ScreenDpiAt(POINT where) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  HMODULE shcore = LoadLibraryW(L"shcore.dll");
  auto fn = shcore ? reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                   : nullptr;
  UINT x = 0, y = 0;
  if (!fn || fn(MonitorFromPoint(where, MONITOR_DEFAULTTOPRIMARY), 0 /* MDT_EFFECTIVE_DPI */, &x, &y) != S_OK) x = 0;
  return static_cast<int>(x);
}

bool Blue(const TPixel& p) { return p.B > 120 && p.B > p.R + 80 && p.B > p.G + 40; }
bool Near(const TPixel& a, const TPixel& b) {
  return std::abs(a.R - b.R) <= 8 && std::abs(a.G - b.G) <= 8 && std::abs(a.B - b.B) <= 8;
}
bool Dark(const TPixel& p) { return p.R + p.G + p.B < 300; }

RECT ScaledRect(int x, int y, int w, int h, int dpi) {
  return {Scaled(x, dpi), Scaled(y, dpi), Scaled(x + w, dpi), Scaled(y + h, dpi)};
}
RECT Inset(RECT rc, int by) { return {rc.left + by, rc.top + by, rc.right - by, rc.bottom - by}; }

// The window at the screen's DPI: everything scales, and the picture shows the blue button,
// the logo centred in the free area, the status text and no gauge. The pictures are kept
// under the build tree and in out/screenshots/. A screen's DPI is the user's setting at sign-in
// (and a change of it a message to every open window, which the launcher also follows): the
// entries app_window_dpi144 and app_window_dpi192 run this test in Wine sessions whose screen
// has that DPI from their start (MORVANE_SCREEN_DPI, tools/wine-env), which they check first.
TEST(LauncherWindow, ScalesWithTheScreenDpi) {
  const std::string folder = BuildDir() + "/tests/app/screenshots";
  CreateDirectoryW(WindowsPath(folder).c_str(), nullptr);
  const std::string source = EnvOr("MORVANE_SOURCE_DIR");
  if (!source.empty()) {
    CreateDirectoryW(WindowsPath(source + "/out").c_str(), nullptr);
    CreateDirectoryW(WindowsPath(source + "/out/screenshots").c_str(), nullptr);
  }
  const int expected = std::atoi(EnvOr("MORVANE_SCREEN_DPI", "96").c_str());
  {
    TLauncherRun run(L"");
    ASSERT_TRUE(run.Started);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, nullptr);
    RECT frame{};
    GetWindowRect(window, &frame);
    const int dpi = ScreenDpiAt(POINT{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2});
    SCOPED_TRACE("DPI " + std::to_string(dpi));
    ASSERT_EQ(dpi, expected) << "the screen of this Wine session does not have the DPI this entry asks for";
    const SIZE client = ClientSize(window);
    EXPECT_NEAR(client.cx, Scaled(544, dpi), 1);
    EXPECT_NEAR(client.cy, Scaled(434, dpi), 1);
    ExpectReadyControls(window, dpi);

    // The client area as the screen shows it, once two pictures in a row agree and the
    // button is drawn.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const RECT onScreen{origin.x, origin.y, origin.x + client.cx, origin.y + client.cy};
    const RECT button = Inset(ScaledRect(150, 304, 244, 62, dpi), Scaled(6, dpi));
    TCapture shot, previous;
    WaitUntil(
        [&] {
          previous = shot;
          shot = TCapture::FromScreen(onScreen);
          return shot == previous && shot.Share(button, Blue) > 0.5;
        },
        kLimitMs);
    // The client area is what the program draws (the frame is the display's business).
    const std::string name = "/window-" + std::to_string(dpi) + "dpi.png";
    EXPECT_TRUE(shot.SavePng(WindowsPath(folder + name)));
    if (!source.empty())
      CopyFileW(WindowsPath(folder + name).c_str(), WindowsPath(source + "/out/screenshots" + name).c_str(), FALSE);

    ASSERT_EQ(shot.Width, client.cx);
    const TPixel background = shot.At(Scaled(4, dpi), Scaled(240, dpi));  // free strip of sPanel2
    // The button: blue, with white caption and icon on it.
    EXPECT_GT(shot.Share(button, Blue), 0.6);
    EXPECT_GT(shot.Share(button, [](const TPixel& p) { return p.R > 220 && p.G > 220 && p.B > 220; }), 0.02);
    // The logo at 232 x 232, centred in the free area; beside it only the background.
    const RECT logo = ScaledRect(156, 0, 232, 232, dpi);
    EXPECT_GT(shot.Share(Inset(logo, Scaled(8, dpi)), Blue), 0.25);
    const auto isBackground = [&](const TPixel& p) { return Near(p, background); };
    EXPECT_GT(shot.Share(ScaledRect(0, 0, 150, 232, dpi), isBackground), 0.99);
    EXPECT_GT(shot.Share(ScaledRect(394, 0, 150, 232, dpi), isBackground), 0.99);
    // No gauge: its panel shows the background only.
    EXPECT_GT(shot.Share(ScaledRect(0, 255, 544, 34, dpi), isBackground), 0.99);
    // The status line carries dark text.
    EXPECT_GT(shot.Share(ScaledRect(0, 381, 544, 53, dpi), Dark), 0.005);

    // A change of the screen's DPI while the window is open: the system tells the window the
    // new DPI and a suggested frame, and the window takes both.
    const int other = dpi == 96 ? 144 : 96;
    RECT suggested{frame.left, frame.top, frame.left + Scaled(560, other), frame.top + Scaled(480, other)};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
    // (The frame around the client area stays the session's own here: Wine draws it at the
    // screen's DPI, which no message changes, so only the client area's layout is judged.)
    {
      SCOPED_TRACE("after WM_DPICHANGED to " + std::to_string(other));
      ExpectReadyControls(window, other);
    }

    ASSERT_TRUE(run.CloseAndWait(window));
    EXPECT_EQ(run.ExitCode(), 0u);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Screen pictures and window places in the screen's own pixels, whatever the DPI.
  using SetContextFn = BOOL(WINAPI*)(HANDLE);
  if (auto fn = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"))))
    fn(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
