// The installation end to end: a launcher killed in the middle of it, a read-only file of the
// installed product, which processes the button stops, and launchers that meet while one of
// them updates.
#include <string>
#include <vector>

#include "launcher_fixture.h"
#include "system/handles.h"

namespace {

using namespace e2e;

class Installation : public Launcher {
 protected:
  // The installed older product with notes that a Windows "Compressed folder" archive left
  // read-only, and a file of the user's own.
  void InstallOldProduct() {
    Install(L"1.0.0.0");
    CreateDirectoryW((ProductDir() + L"docs").c_str(), nullptr);
    WriteFileBytes(ProductDir() + L"docs\\Changes.txt", "old notes");
    SetFileAttributesW((ProductDir() + L"docs\\Changes.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(ProductDir() + L"settings.ini", "mine");
  }

  // Every name below the product folder with its attributes and content; the downloaded
  // archive, which is no part of the product, left out.
  std::string Snapshot() const { return SnapshotOf(ProductDir(), L""); }

  std::string SnapshotOf(const std::wstring& folder, const std::wstring& relative) const {
    std::string all;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder + relative + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return all;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L".." || (relative.empty() && name == L"Update.zip")) continue;
      const std::wstring path = relative + name;
      all += EncodeUtf8(path) + " [" + std::to_string(data.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE) + "] ";
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        all += "\n" + SnapshotOf(folder, path + L"\\");
      else
        all += std::to_string(std::hash<std::string>{}(ReadFileBytes(folder + path))) + "\n";
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return all;
  }

  // Presses the button of a launcher that stops itself, as a kill would, before the given change
  // of the installation; true when it ended so.
  bool PressAndStopAt(int change) {
    FLauncher = Run(L"Morvane.exe", L"", L"", {{L"MORVANE_TEST_INSTALL_STOP_AT", std::to_wstring(change)}});
    TWindowView view;
    if (!WaitUntil([&] { return (view = TWindowView::Find(FLauncher.Id())).Found() && view.WindowVisible(); }))
      return false;
    view.Press();
    // A launcher that does not stop says why in its window.
    if (!FLauncher.WaitExit(120000)) {
      ADD_FAILURE() << "the launcher did not stop before change " << change << "; its window says \""
                    << EncodeUtf8(TWindowView::Find(FLauncher.Id()).StatusText()) << "\"";
      return false;
    }
    if (FLauncher.ExitCode() != 3) {
      ADD_FAILURE() << "the launcher ended with " << FLauncher.ExitCode() << " before change " << change;
      return false;
    }
    return true;
  }

  // The events by which a launcher started with Hold() stops at a change of its installation,
  // as a slow disk would keep it there, and goes on when Release() says so.
  std::pair<std::wstring, std::wstring> Hold(int change) {
    const std::wstring name = L"Local\\morvane-e2e-" + FName + L"-" + std::to_wstring(GetCurrentProcessId());
    FHeld.Reset(CreateEventW(nullptr, TRUE, FALSE, (name + L".held").c_str()));
    FGo.Reset(CreateEventW(nullptr, TRUE, FALSE, (name + L".go").c_str()));
    return {L"MORVANE_TEST_INSTALL_HOLD_AT", std::to_wstring(change) + L":" + name};
  }
  bool WaitHeld() const {
    return WaitUntil([&] { return WaitForSingleObject(FHeld.Get(), 0) == WAIT_OBJECT_0; }, 120000);
  }
  void Release() const { SetEvent(FGo.Get()); }

  void TearDown() override {
    if (FGo) Release();
    Launcher::TearDown();
  }

  // The new release's program is in place.
  bool NewProgramInstalled() const {
    return ReadFileBytes(ProductDir() + L"Tandrel.exe") == ReadFileBytes(kSample + L"\\product-2.0.0.0\\Tandrel.exe");
  }

  Sys::TKernelHandle FHeld, FGo;
};

TEST_F(Installation, KilledInstallationIsUndoneAtTheNextStartInEitherMode) {
  InstallOldProduct();
  const std::string before = Snapshot();
  const std::string oldProgram = ReadFileBytes(ProductDir() + L"Tandrel.exe");

  // Stopped once every new file is written and the old ones begin to go aside: the old
  // Tandrel.exe is no longer in its place.
  ASSERT_TRUE(PressAndStopAt(5));
  EXPECT_TRUE(PathExists(ProductDir() + L"morvane-install\\record.txt"));
  EXPECT_NE(ReadFileBytes(ProductDir() + L"Tandrel.exe"), oldProgram);
  // The next start, in normal mode: undone before the window shows.
  Open();
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), oldProgram);
  FLauncher.Kill();

  // Stopped after the read-only notes went aside; the next start is a silent check that finds
  // the installed version current and ends unseen.
  // Found by what the disk shows: each stop that comes too early is undone by the next start.
  int change = 6;
  for (; change < 40; ++change) {
    ASSERT_TRUE(PressAndStopAt(change));
    if (!PathExists(ProductDir() + L"docs\\Changes.txt")) break;
  }
  ASSERT_LT(change, 40) << "the notes never went aside";
  Publish("1.0.0.0");
  FLauncher = Run(L"Morvane.exe", L"-checkmorvane");
  ASSERT_TRUE(FLauncher.WaitExit(60000));
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(GetFileAttributesW((ProductDir() + L"docs\\Changes.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

// The notes of the installed product are read-only: the release replaces them all the same,
// and the product starts in its own folder.
TEST_F(Installation, ReleaseReplacesAFormerlyReadOnlyFileAndStartsTheProductInItsFolder) {
  InstallOldProduct();
  auto view = Open();
  view.Press();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  const std::string notes = ReadFileBytes(kRelease + L"\\Changes.txt");
  EXPECT_EQ(ReadFileBytes(ProductDir() + L"docs\\Changes.txt"), notes);
  EXPECT_FALSE(GetFileAttributesW((ProductDir() + L"docs\\Changes.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReadFileBytes(ProductDir() + L"settings.ini"), "mine");
  EXPECT_FALSE(PathExists(ProductDir() + L"morvane-install"));
  ASSERT_TRUE(WaitUntil([&] { return PathExists(ProductDir() + L"cwd.txt"); }));
  std::wstring cwd = DecodeUtf8Lenient(ReadFileBytes(ProductDir() + L"cwd.txt"));
  if (!cwd.empty() && cwd.back() != L'\\') cwd += L'\\';
  EXPECT_EQ(CompareStringOrdinal(cwd.c_str(), -1, ProductDir().c_str(), -1, TRUE), CSTR_EQUAL)
      << EncodeUtf8(cwd) << " " << EncodeUtf8(ProductDir());
}

// The button stops the product where it is installed, and only there; a launcher saved as
// "tandrel.exe" does not stop itself.
TEST_F(Installation, OnlyTheInstalledProductIsStopped) {
  Install(L"2.0.0.0");
  Publish("2.0.0.0");
  WriteFileBytes(ProductDir() + L"mode.txt", "stay");
  const std::wstring elsewhere = FRoot + L"\\elsewhere\\";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  CopyFileW((ProductDir() + L"Tandrel.exe").c_str(), (elsewhere + L"Tandrel.exe").c_str(), FALSE);
  WriteFileBytes(elsewhere + L"mode.txt", "stay");
  FOther = TProcess::Start(ProductDir() + L"Tandrel.exe", L"", {});
  TProcess stranger = TProcess::Start(elsewhere + L"Tandrel.exe", L"", {});
  ASSERT_TRUE(WaitUntil([&] { return ProcessesNamed(L"Tandrel.exe").size() == 2; }));

  auto view = Open(L"tandrel.exe");
  view.Press();
  EXPECT_TRUE(WaitStatus(view, L"Актуальная версия уже установлена")) << EncodeUtf8(view.StatusText());
  EXPECT_TRUE(FOther.WaitExit(10000));
  EXPECT_TRUE(stranger.Running());
  EXPECT_TRUE(FLauncher.Running());
  stranger.Kill();
}

// A product started again while the archive downloads would hold its files: it is stopped
// once more right before the extraction.
TEST_F(Installation, ProductStartedDuringTheDownloadIsStoppedBeforeExtraction) {
  StandinConfig("{\"rate_limit\":100000}");
  Install(L"1.0.0.0");
  WriteFileBytes(ProductDir() + L"mode.txt", "stay");
  auto view = Open();
  view.Press();
  ASSERT_TRUE(WaitStatus(view, L"Скачивание обновления..."));
  FOther = TProcess::Start(ProductDir() + L"Tandrel.exe", L"", {});
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  EXPECT_TRUE(FOther.WaitExit(10000));
  EXPECT_EQ(ReadFileBytes(ProductDir() + L"Tandrel.exe"), ReadFileBytes(kSample + L"\\product-2.0.0.0\\Tandrel.exe"));
}

// Two launchers pressed at once: one downloads and installs, the other downloads nothing, says
// no error and ends up telling that the current version is installed.
TEST_F(Installation, TwoLaunchersPressedTogetherInstallOnce) {
  InstallOldProduct();
  StandinConfig("{\"rate_limit\":200000}");
  FLauncher = Run(L"Morvane.exe");
  FOther = RunAgain(L"Morvane.exe");
  const TWindowView first = WindowOf(FLauncher), second = WindowOf(FOther);
  first.Press();
  second.Press();
  ASSERT_TRUE(WaitUntil([&] { return !FLauncher.Running() || !FOther.Running(); }, 180000));
  const TWindowView& left = FLauncher.Running() ? first : second;
  EXPECT_TRUE(WaitStatus(left, L"Актуальная версия уже установлена")) << EncodeUtf8(left.StatusText());
  EXPECT_TRUE(left.ButtonEnabled());
  EXPECT_TRUE(NewProgramInstalled());
  EXPECT_EQ(StorageRanges().size(), 4u);
  EXPECT_FALSE(PathExists(ProductDir() + L"Update.zip"));
  EXPECT_FALSE(PathExists(ProductDir() + L"morvane-install"));
}

// A launcher opened in either mode while another one installs leaves its work alone: the
// start-up undo passes the record over, the silent check ends unseen without a copy or a
// stopped launcher, and the window says that the update runs elsewhere, then that the product
// is current once the other has finished.
TEST_F(Installation, NormalAndSilentStartsDuringAnothersInstallation) {
  InstallOldProduct();
  // Held once the new Tandrel.exe has taken the old one's place.
  FLauncher = Run(L"Morvane.exe", L"", L"", {Hold(7)});
  WindowOf(FLauncher).Press();
  ASSERT_TRUE(WaitHeld());
  ASSERT_TRUE(PathExists(ProductDir() + L"morvane-install\\record.txt"));
  ASSERT_TRUE(NewProgramInstalled());

  TProcess silent = RunAgain(L"Morvane.exe", L"-checkmorvane");
  ASSERT_TRUE(silent.WaitExit(60000));
  EXPECT_TRUE(PathExists(ProductDir() + L"morvane-install\\record.txt"));
  EXPECT_TRUE(NewProgramInstalled());
  EXPECT_FALSE(PathExists(ProductDir() + L"morvane_old.exe"));
  EXPECT_TRUE(FLauncher.Running());

  FOther = RunAgain(L"Morvane.exe");
  const TWindowView second = WindowOf(FOther);
  EXPECT_TRUE(NewProgramInstalled());  // its start undid nothing
  second.Press();
  EXPECT_TRUE(WaitStatus(second, L"Обновление уже выполняется в другом окне...")) << EncodeUtf8(second.StatusText());
  EXPECT_FALSE(second.ButtonEnabled());
  EXPECT_TRUE(FLauncher.Running());
  EXPECT_TRUE(PathExists(ProductDir() + L"morvane-install\\record.txt"));

  Release();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  EXPECT_TRUE(WaitStatus(second, L"Актуальная версия уже установлена")) << EncodeUtf8(second.StatusText());
  EXPECT_TRUE(second.ButtonEnabled());
  EXPECT_TRUE(NewProgramInstalled());
  EXPECT_EQ(ReadFileBytes(ProductDir() + L"settings.ini"), "mine");
  EXPECT_EQ(StorageRanges().size(), 4u);
  EXPECT_FALSE(PathExists(ProductDir() + L"morvane-install"));
}

// The launcher that installs is killed while another window waits for it: the waiting window
// undoes what it left, offers the button again and installs when pressed; a start after a kill
// undoes it too.
TEST_F(Installation, KilledHolderIsUndoneByTheWindowThatWaited) {
  InstallOldProduct();
  const std::string before = Snapshot();
  // Held once the new Tandrel.exe has taken the old one's place.
  FLauncher = Run(L"Morvane.exe", L"", L"", {Hold(7)});
  WindowOf(FLauncher).Press();
  ASSERT_TRUE(WaitHeld());
  FOther = RunAgain(L"Morvane.exe");
  const TWindowView second = WindowOf(FOther);
  second.Press();
  ASSERT_TRUE(WaitStatus(second, L"Обновление уже выполняется в другом окне...")) << EncodeUtf8(second.StatusText());

  FLauncher.Kill();
  EXPECT_TRUE(WaitStatus(second, L"Нажмите на кнопку для начала установки")) << EncodeUtf8(second.StatusText());
  EXPECT_TRUE(second.ButtonEnabled());
  EXPECT_EQ(Snapshot(), before);
  second.Press();
  ASSERT_TRUE(FOther.WaitExit(120000));
  EXPECT_TRUE(NewProgramInstalled());
  EXPECT_FALSE(PathExists(ProductDir() + L"morvane-install"));

  // Killed with no window waiting: the next start undoes it before its window shows. The
  // product that the install started has written its logs and is stopped first.
  ASSERT_TRUE(WaitStarted());
  ASSERT_TRUE(WaitUntil([&] { return PathExists(ProductDir() + L"cwd.txt"); }));
  for (DWORD pid : ProcessesNamed(L"Tandrel.exe")) TProcess::Attach(pid).Kill();
  InstallOldProduct();
  const std::string again = Snapshot();
  FLauncher = RunAgain(L"Morvane.exe", L"", L"", {Hold(5)});
  WindowOf(FLauncher).Press();
  ASSERT_TRUE(WaitHeld());
  FLauncher.Kill();
  FOther = RunAgain(L"Morvane.exe");
  WindowOf(FOther);
  EXPECT_EQ(Snapshot(), again);
}

// The relaunched copy installs while the user starts the downloaded launcher again, and the
// product starts its silent check: neither stops the copy or downloads, and the window opened
// by hand tells that the product is current once the copy has finished.
TEST_F(Installation, DownloadedLauncherStartedWhileTheRelaunchedCopyInstalls) {
  InstallOldProduct();
  FLauncher = Run(L"morvane_old.exe", L"-checkmorvane", L"", {Hold(5)});
  const TWindowView copy = WindowOf(FLauncher);
  ASSERT_EQ(copy.ButtonText(), L"Обновить");
  copy.Press();
  ASSERT_TRUE(WaitHeld());

  FOther = Run(L"Morvane.exe");
  const TWindowView second = WindowOf(FOther);
  second.Press();
  EXPECT_TRUE(WaitStatus(second, L"Обновление уже выполняется в другом окне...")) << EncodeUtf8(second.StatusText());
  TProcess silent = RunAgain(L"Morvane.exe", L"-checkmorvane");
  ASSERT_TRUE(silent.WaitExit(60000));
  EXPECT_TRUE(FLauncher.Running());
  EXPECT_TRUE(FOther.Running());

  Release();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  ASSERT_TRUE(WaitStarted());
  EXPECT_NE(StartedLog().find(L"-mrv_del"), std::wstring::npos) << EncodeUtf8(StartedLog());
  EXPECT_TRUE(WaitStatus(second, L"Актуальная версия уже установлена")) << EncodeUtf8(second.StatusText());
  EXPECT_TRUE(NewProgramInstalled());
  EXPECT_EQ(StorageRanges().size(), 4u);
}

}  // namespace
