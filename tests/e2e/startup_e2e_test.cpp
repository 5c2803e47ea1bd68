// The silent start-up check end to end: "-checkmorvane" runs, the relaunch across processes,
// the copy's window with the release notes, and the copy's update.
#include "launcher_fixture.h"
#include "system/changes_page.h"

namespace {

using namespace e2e;

class StartupCheck : public Launcher {
 protected:
  // Runs the launcher in silent mode and watches it until it ends: true when its window was
  // seen on the screen at any time.
  bool RunSilently(const std::wstring& exeName, const std::wstring& apiRoot = L"") {
    FLauncher = Run(exeName, L"-checkmorvane", apiRoot);
    bool shown = false;
    EXPECT_TRUE(WaitUntil([&] {
      if (TWindowView::Find(FLauncher.Id()).WindowVisible()) shown = true;
      return !FLauncher.Running();
    }));
    return shown;
  }

  // A plain launcher named "Morvane.exe" in a folder of its own, with its window up.
  void StartOtherLauncher() {
    CreateDirectoryW((FRoot + L"\\other").c_str(), nullptr);
    CopyFileW((kBuild + L"\\Morvane.exe").c_str(), (FRoot + L"\\other\\Morvane.exe").c_str(), FALSE);
    FOther = TProcess::Start(FRoot + L"\\other\\Morvane.exe", L"", {{L"LOCALAPPDATA", LocalAppData()}});
    ASSERT_TRUE(WaitUntil([&] { return TWindowView::Find(FOther.Id()).WindowVisible(); }));
  }

  // The relaunched copy's window, once it is on the screen.
  TWindowView CopyWindow() {
    TWindowView view;
    WaitUntil([&] {
      for (DWORD pid : ProcessesNamed(L"morvane_old.exe")) {
        view = TWindowView::Find(pid);
        // Shown and answering: the first page of the browser control may keep a fresh
        // prefix busy for a while after the window appears.
        if (view.WindowVisible() && !view.ButtonText().empty()) {
          FCopy = TProcess::Attach(pid);
          return true;
        }
      }
      return false;
    });
    return view;
  }

  std::wstring PagePath() const { return TempDir() + L"\\temp.html"; }

  void TearDown() override {
    FCopy.Kill();
    for (DWORD pid : ProcessesNamed(L"morvane_old.exe")) TProcess::Attach(pid).Kill();
    Launcher::TearDown();
  }

  TProcess FCopy;
};

int ButtonIcon(const TWindowView& view) {
  return static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(view.Button, L"MorvaneImageIndex"))) - 1;
}

TEST_F(StartupCheck, CurrentProductEndsUnseen) {
  struct Case {
    const wchar_t* ownName;
    bool stopsOtherLaunchers;
  } cases[] = {
      {L"Morvane.exe", true},       // every "Morvane.exe" ends, this one among them
      {L"morvane_old.exe", false},  // under another name nothing is stopped
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(EncodeUtf8(c.ownName));
    Install(L"2.0.0.0");
    StartOtherLauncher();
    EXPECT_FALSE(RunSilently(c.ownName));
    EXPECT_EQ(FLauncher.ExitCode(), 0u);
    EXPECT_EQ(FOther.WaitExit(c.stopsOtherLaunchers ? 10000 : 1000), c.stopsOtherLaunchers);
    EXPECT_FALSE(PathExists(ProductDir() + L"morvane_old.exe"));
    FOther.Kill();
  }
}

TEST_F(StartupCheck, NothingIsShownOrStartedWhenTheCheckCannotGoOn) {
  struct Case {
    const char* name;
    bool installed;
    std::string published;  // empty: the sample's
    std::wstring apiRoot;
  } cases[] = {
      {"no product folder", false, "", L""},
      {"blank version.txt", true, " \r\n", L""},
      {"listing unreachable", true, "", L"http://127.0.0.1:1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(ProductDir());
    if (c.installed) Install(L"1.0.0.0");
    CopyTree(kRelease, FFolder);
    if (!c.published.empty()) Publish(c.published);
    EXPECT_FALSE(RunSilently(L"Morvane.exe", c.apiRoot));
    EXPECT_EQ(FLauncher.ExitCode(), 0u);
    EXPECT_FALSE(PathExists(ProductDir() + L"morvane_old.exe"));
    EXPECT_TRUE(ProcessesNamed(L"morvane_old.exe").empty());
    EXPECT_TRUE(ProcessesNamed(L"Tandrel.exe").empty());
  }
}

TEST_F(StartupCheck, NewerReleaseRelaunchesACopyThatOffersAndInstallsTheUpdate) {
  Install(L"1.0.0.0");
  EXPECT_FALSE(RunSilently(L"Morvane.exe"));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  EXPECT_TRUE(PathExists(ProductDir() + L"morvane_old.exe"));

  auto copy = CopyWindow();
  ASSERT_TRUE(copy.WindowVisible());
  EXPECT_EQ(copy.ButtonText(), L"Обновить");
  EXPECT_EQ(ButtonIcon(copy), 1);
  EXPECT_TRUE(copy.ButtonEnabled());
  EXPECT_EQ(copy.StatusText(), L"Нажмите на кнопку для начала установки");
  EXPECT_FALSE(copy.GaugeVisible());
  EXPECT_TRUE(IsWindowVisible(copy.WebView));
  EXPECT_FALSE(IsWindowVisible(copy.Image));
  EXPECT_EQ(copy.WebViewText(), PagePath());
  const std::string notes = ReadFileBytes(kRelease + L"\\Changes.txt");
  EXPECT_EQ(ReadFileBytes(PagePath()), EncodeUtf8(BuildChangesPage(*DecodeUtf8Strict(notes))));

  // The copy's button stops the running "Morvane.exe" and updates.
  StartOtherLauncher();
  copy.Press();
  EXPECT_TRUE(FOther.WaitExit(30000));
  ASSERT_TRUE(FCopy.WaitExit(120000));
  EXPECT_EQ(FCopy.ExitCode(), 0u);
  ASSERT_TRUE(WaitStarted());
  EXPECT_EQ(StartedLog(), L"Tandrel.exe|-mrv_del\r\n");
  EXPECT_TRUE(PathExists(ProductDir() + L"morvane_old.exe"));  // left for the next relaunch
}

TEST_F(StartupCheck, CopyFromAnEarlierCheckStillOpenKeepsTheNewInstanceFromStartingAnything) {
  Install(L"1.0.0.0");
  // The copy of an earlier check, its window still open, holds its file.
  CopyFileW((kBuild + L"\\Morvane.exe").c_str(), (ProductDir() + L"morvane_old.exe").c_str(), FALSE);
  FCopy = TProcess::Start(ProductDir() + L"morvane_old.exe", L"", {{L"LOCALAPPDATA", LocalAppData()}});
  ASSERT_TRUE(WaitUntil([&] { return TWindowView::Find(FCopy.Id()).WindowVisible(); }));
  EXPECT_FALSE(RunSilently(L"Morvane.exe"));
  EXPECT_EQ(ProcessesNamed(L"morvane_old.exe").size(), 1u);
  EXPECT_TRUE(FCopy.Running());
}

TEST_F(StartupCheck, MissingNotesLeaveTheWebViewEmpty) {
  Install(L"1.0.0.0");
  DeleteFileW((FFolder + L"\\Changes.txt").c_str());
  FLauncher = Run(L"morvane_old.exe", L"-checkmorvane");
  TWindowView view;
  ASSERT_TRUE(WaitUntil([&] {
    return (view = TWindowView::Find(FLauncher.Id())).WindowVisible() && !view.ButtonText().empty();
  }));
  EXPECT_EQ(view.ButtonText(), L"Обновить");
  EXPECT_TRUE(view.ButtonEnabled());
  EXPECT_TRUE(IsWindowVisible(view.WebView));
  EXPECT_EQ(view.WebViewText(), L"");
  EXPECT_FALSE(PathExists(PagePath()));
}

TEST_F(StartupCheck, NotesInEveryEncodingGiveTheSameText) {
  const std::wstring text = L"Что нового: ускорена загрузка\r\nИсправлено «сохранение»";
  const std::string utf8 = EncodeUtf8(text);
  std::string cp1251(static_cast<size_t>(WideCharToMultiByte(1251, 0, text.data(), static_cast<int>(text.size()),
                                                             nullptr, 0, nullptr, nullptr)),
                     '\0');
  WideCharToMultiByte(1251, 0, text.data(), static_cast<int>(text.size()), cp1251.data(),
                      static_cast<int>(cp1251.size()), nullptr, nullptr);
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + utf8},
      {"UTF-8", utf8},
      {"windows-1251", cp1251},
  };
  const std::string expected = EncodeUtf8(BuildChangesPage(text));
  // The launchers inherit the test's locale; the Cyrillic one is the ANSI code page of a Russian system.
  ASSERT_EQ(GetACP(), 1251u) << "run the test under a Russian locale (LC_ALL=ru_RU.UTF-8)";
  Install(L"1.0.0.0");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(FFolder + L"\\Changes.txt", c.bytes);
    DeleteFileW(PagePath().c_str());
    FLauncher = Run(L"morvane_old.exe", L"-checkmorvane");
    TWindowView view;
    ASSERT_TRUE(WaitUntil([&] {
      return (view = TWindowView::Find(FLauncher.Id())).WindowVisible() && !view.ButtonText().empty();
    }));
    EXPECT_EQ(view.WebViewText(), PagePath());
    EXPECT_EQ(ReadFileBytes(PagePath()), expected);
    FLauncher.Kill();
  }
}

}  // namespace
