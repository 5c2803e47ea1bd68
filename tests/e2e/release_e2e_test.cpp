// The program as it ships (the release build: no test hooks, its own compiled-in hosts and
// public folder), started from a Downloads folder. The cloud disk's hosts lead to the stand-in
// through the system's hosts file, over HTTPS with a certificate the system trusts
// (tools/with-named-standin); the release folder is what morvane-publish packs.
#include <set>
#include <string>

#include "launcher_fixture.h"

namespace {

using namespace e2e;

const std::wstring kReleaseBuild = WindowsPath(EnvOr("MORVANE_RELEASE_DIR"));
const std::wstring kPlanted[] = {L"version.dll", L"winhttp.dll", L"msimg32.dll"};

class Release : public Launcher {
 protected:
  void SetUp() override {
    Launcher::SetUp();
    ASSERT_TRUE(PathExists(kReleaseBuild + L"\\Morvane.exe")) << "build the release first (the windows preset)";
    // The folder the release's own public link names, packed by the publisher's tool.
    FFolderId = Widen(EnvOr("MORVANE_RELEASE_FOLDER_ID"));
    FFolder = WindowsPath(EnvOr("MORVANE_STANDIN_ROOT")) + L"\\" + FFolderId;
    RemoveTree(FFolder);
    FProduct = SampleProduct();
    // Signed with the private half of the key the release was built with, when it has one.
    const std::string key = EnvOr("MORVANE_RELEASE_PACK_KEY");
    FSigned = !key.empty();
    const std::wstring signing = key.empty() ? L"" : L"--key \"" + WindowsPath(key) + L"\" ";
    TProcess publish = TProcess::Start(kReleaseBuild + L"\\src\\publish\\morvane-publish.exe",
                                       L"pack " + signing + L"\"" + FProduct + L"\" \"" + kRelease + L"\\Changes.txt\" \"" +
                                           FFolder + L"\"",
                                       {});
    ASSERT_TRUE(publish.WaitExit(60000));
    ASSERT_EQ(publish.ExitCode(), 0u);
    FDownloads = FRoot + L"\\Downloads\\";
    CreateDirectoryW(FDownloads.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((kReleaseBuild + L"\\Morvane.exe").c_str(), (FDownloads + L"Morvane.exe").c_str(), FALSE));
  }

  // Starts the downloaded program as a user does (only the usual variables of its own: the
  // run's local application data and temporary folders) and presses its button.
  TWindowView StartAndPress() {
    FLauncher = TProcess::Start(FDownloads + L"Morvane.exe", L"",
                                {{L"LOCALAPPDATA", LocalAppData()}, {L"TEMP", TempDir()}, {L"TMP", TempDir()}});
    TWindowView view;
    EXPECT_TRUE(WaitUntil([&] { return (view = TWindowView::Find(FLauncher.Id())).Found() && view.WindowVisible(); }));
    view.Press();
    return view;
  }

  std::wstring FProduct, FDownloads;
  bool FSigned = false;
};

TEST_F(Release, InstallsFromScratchOverHttpsFromTheCloudDisksOwnHosts) {
  StartAndPress();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  for (const wchar_t* file : {L"Tandrel.exe", L"TandrelAI.exe", L"docs\\Changes.txt"})
    EXPECT_EQ(ReadFileBytes(ProductDir() + file), ReadFileBytes(FProduct + L"\\" + file)) << EncodeUtf8(file);
  EXPECT_FALSE(PathExists(ProductDir() + L"Update.zip"));
  EXPECT_TRUE(PathExists(DesktopLink()));
  ASSERT_TRUE(WaitStarted());
  EXPECT_EQ(StartedLog(), L"Tandrel.exe|\r\n");

  // Every request went to a host of the cloud disk by its name, on the HTTPS port (the
  // stand-in's plain-HTTP port is one the release cannot know), and the archive came in four
  // ranges from the storage host.
  std::set<std::string> hosts;
  size_t ranges = 0;
  for (TLoggedRequest& r : StandinRequests()) {
    hosts.insert(r.host);
    if (r.host == "s1.storage.yandex.net" && !r.headers["range"].empty()) ++ranges;
  }
  EXPECT_EQ(hosts, (std::set<std::string>{"cloud-api.yandex.net", "downloader.disk.yandex.ru", "s1.storage.yandex.net"}));
  EXPECT_EQ(ranges, 4u);
}

// DLLs of a stranger beside the downloaded program, under the names of system DLLs that are no
// known DLLs. Wine searches for them as Windows does only under
// WINEDLLOVERRIDES="version,winhttp,msimg32=n,b", which this test program starts with.
TEST_F(Release, PlantedDllsInTheDownloadsFolderAreNeverLoaded) {
  for (const std::wstring& dll : kPlanted)
    ASSERT_TRUE(CopyFileW((kBuild + L"\\planted\\" + dll).c_str(), (FDownloads + dll).c_str(), FALSE)) << EncodeUtf8(dll);
  StartAndPress();
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  EXPECT_EQ(FLauncher.ExitCode(), 0u);
  EXPECT_TRUE(PathExists(ProductDir() + L"Tandrel.exe"));
  // Wine's own user32 imports version.dll, and so loads a planted one before the program runs a
  // line; the two the program itself asks for stay untouched.
  EXPECT_FALSE(PathExists(FDownloads + L"winhttp.dll.loaded"));
  EXPECT_FALSE(PathExists(FDownloads + L"msimg32.dll.loaded"));
}

// A signed release meets the listing's checksum against the publisher's statement before the
// download; an unsigned one after it, against the bytes.
TEST_F(Release, AWrongPublishedChecksumInstallsNothing) {
  // The archive's published hash alone is wrong: version.txt and Changes.txt keep theirs.
  StandinConfig(
      "{\"listing_fields_of\":{\"Tandrel.zip\":{\"sha256\":"
      "\"00000000000000000000000000000000000000000000000000000000000000ff\"}}}");
  auto view = StartAndPress();
  ASSERT_TRUE(WaitStatus(view, FSigned ? L"Ошибка загрузки: архив обновления в папке не тот, что подписал издатель, установка отменена"
                                       : L"Ошибка загрузки: Контрольная сумма скачанного архива (SHA-256) не совпадает с опубликованной"))
      << EncodeUtf8(view.StatusText());
  EXPECT_FALSE(view.GaugeVisible());
  EXPECT_TRUE(NothingDownloadedOrExtracted());
  EXPECT_FALSE(PathExists(DesktopLink()));
}

}  // namespace
