// The installation end to end: a launcher killed in the middle of it, a read-only file of the
// installed product, and which processes the button stops.
#include <string>
#include <vector>

#include "launcher_fixture.h"

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
};

TEST_F(Installation, KilledInstallationIsUndoneAtTheNextStartInEitherMode) {
  InstallOldProduct();
  const std::string before = Snapshot();
  const std::string oldProgram = ReadFileBytes(ProductDir() + L"Tandrel.exe");

  // Stopped after the new Tandrel.exe took the old one's place, while TandrelAI.exe is written.
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
  ASSERT_TRUE(PressAndStopAt(8));
  EXPECT_FALSE(PathExists(ProductDir() + L"docs\\Changes.txt"));
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

}  // namespace
