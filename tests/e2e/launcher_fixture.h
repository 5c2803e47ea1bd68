// The fixture of the launcher's end-to-end tests: a run of Morvane.exe under Wine against the
// cloud-disk stand-in, with a local application data folder and a release folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "launcher_driver.h"
#include "standin.h"
#include "system/text.h"

namespace e2e {

inline const std::wstring kBuild = WindowsPath(EnvOr("MORVANE_BUILD_DIR"));
inline const std::wstring kSample = kBuild + L"\\sample";
inline const std::wstring kRelease = kSample + L"\\release\\Tandrel-Sample";

inline std::wstring DesktopLink() {
  wchar_t path[MAX_PATH + 1] = {};
  SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, 0, path);
  return std::wstring(path) + L"\\Tandrel.lnk";
}

// One run of the launcher: a local application data folder of its own, a release folder of its
// own on the stand-in, and a copy of Morvane.exe under the name the case asks for.
class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    StandinReset();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FName = Widen(info->name());
    FRoot = kBuild + L"\\e2e\\" + FName;
    RemoveTree(FRoot);
    CreateDirectoryW((kBuild + L"\\e2e").c_str(), nullptr);
    CreateDirectoryW(FRoot.c_str(), nullptr);
    CreateDirectoryW(LocalAppData().c_str(), nullptr);
    CreateDirectoryW((FRoot + L"\\bin").c_str(), nullptr);
    CreateDirectoryW(TempDir().c_str(), nullptr);
    FFolderId = L"e2e-" + FName;
    FFolder = WindowsPath(EnvOr("MORVANE_STANDIN_ROOT")) + L"\\" + FFolderId;
    RemoveTree(FFolder);
    CopyTree(kRelease, FFolder);
    DeleteFileW(DesktopLink().c_str());
  }

  void TearDown() override {
    for (auto* p : {&FLauncher, &FOther}) p->Kill();
    for (const auto& name : {L"Tandrel.exe", L"TandrelAI.exe"})
      for (DWORD pid : ProcessesNamed(name)) {
        HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
        if (h) TerminateProcess(h, 0), CloseHandle(h);
      }
  }

  std::wstring LocalAppData() const { return FRoot + L"\\local"; }
  std::wstring TempDir() const { return FRoot + L"\\temp"; }
  std::wstring ProductDir() const { return LocalAppData() + L"\\Tandrel\\"; }

  void Install(const std::wstring& version) {
    CreateDirectoryW(ProductDir().c_str(), nullptr);
    CopyFileW((kSample + L"\\product-" + version + L"\\Tandrel.exe").c_str(), (ProductDir() + L"Tandrel.exe").c_str(),
              FALSE);
  }

  void Publish(const std::string& version) { WriteFileBytes(FFolder + L"\\version.txt", version); }

  // Starts a copy of Morvane.exe under the given name from a folder of the run's own.
  TProcess Run(const std::wstring& exeName, const std::wstring& args = L"", const std::wstring& apiRoot = L"",
               const std::vector<std::pair<std::wstring, std::wstring>>& extraEnv = {}) {
    const std::wstring exe = FRoot + L"\\bin\\" + exeName;
    EXPECT_TRUE(CopyFileW((kBuild + L"\\Morvane.exe").c_str(), exe.c_str(), FALSE)) << "copy to bin: error " << GetLastError();
    return RunAgain(exeName, args, apiRoot, extraEnv);
  }

  // Starts the copy that Run made once more (a running copy cannot be replaced), as a user who
  // double-clicks the downloaded launcher a second time.
  TProcess RunAgain(const std::wstring& exeName, const std::wstring& args = L"", const std::wstring& apiRoot = L"",
                    const std::vector<std::pair<std::wstring, std::wstring>>& extraEnv = {}) {
    const std::wstring exe = FRoot + L"\\bin\\" + exeName;
    std::vector<std::pair<std::wstring, std::wstring>> env = {{L"LOCALAPPDATA", LocalAppData()},
                                                              {L"MORVANE_PUBLIC_FOLDER_LINK", FolderLink(FFolderId)},
                                                              {L"TEMP", TempDir()},
                                                              {L"TMP", TempDir()}};
    if (!apiRoot.empty()) env.push_back({L"MORVANE_API_ROOT", apiRoot});
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return TProcess::Start(exe, args, env);
  }

  // Starts the launcher and waits for its window.
  TWindowView Open(const std::wstring& exeName = L"Morvane.exe", const std::wstring& apiRoot = L"") {
    FLauncher = Run(exeName, L"", apiRoot);
    return WindowOf(FLauncher);
  }

  // Waits for the window of a started launcher.
  static TWindowView WindowOf(const TProcess& process) {
    TWindowView view;
    EXPECT_TRUE(WaitUntil([&] { return (view = TWindowView::Find(process.Id())).Found() && view.WindowVisible(); }));
    return view;
  }

  // A fresh product folder, the stand-in switched as config says, the window open and its
  // button pressed.
  TWindowView PressWith(const char* config) {
    RemoveTree(ProductDir());
    StandinReset();
    StandinConfig(config);
    auto view = Open();
    view.Press();
    return view;
  }

  static bool WaitStatus(const TWindowView& view, const std::wstring& prefix) {
    return WaitUntil([&] { return view.StatusText().rfind(prefix, 0) == 0; });
  }

  static size_t ListingRequests() {
    const std::string log = StandinLog();
    size_t count = 0;
    for (size_t pos = 0; (pos = log.find("/v1/disk/public/resources", pos)) != std::string::npos; ++pos) ++count;
    return count;
  }

  // The "Range" of every ranged GET that reached the storage host (the parts of the archive),
  // in the order received.
  static std::vector<std::string> StorageRanges() {
    std::vector<std::string> ranges;
    for (TLoggedRequest& r : StandinRequests())
      if (r.method == "GET" && r.path.rfind("/rdisk/", 0) == 0 && !r.headers["range"].empty())
        ranges.push_back(r.headers["range"]);
    return ranges;
  }

  // Neither the archive nor anything from it in the product folder.
  bool NothingDownloadedOrExtracted() const {
    for (const wchar_t* file : {L"Update.zip", L"Tandrel.exe", L"TandrelAI.exe", L"docs"})
      if (PathExists(ProductDir() + file)) return false;
    return true;
  }

  // A publisher's product folder of the sample release (FRoot\product): both programs and the
  // notes under docs\.
  std::wstring SampleProduct() const {
    const std::wstring product = FRoot + L"\\product";
    CreateDirectoryW(product.c_str(), nullptr);
    CreateDirectoryW((product + L"\\docs").c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((kSample + L"\\product-2.0.0.0\\Tandrel.exe").c_str(), (product + L"\\Tandrel.exe").c_str(), FALSE));
    EXPECT_TRUE(CopyFileW((kSample + L"\\product-ai\\TandrelAI.exe").c_str(), (product + L"\\TandrelAI.exe").c_str(), FALSE));
    EXPECT_TRUE(CopyFileW((kRelease + L"\\Changes.txt").c_str(), (product + L"\\docs\\Changes.txt").c_str(), FALSE));
    return product;
  }

  std::wstring StartedLog() const { return DecodeUtf8Strict(ReadFileBytes(ProductDir() + L"started.txt")).value_or(L"(not UTF-8)"); }
  // The product creates its log, then appends its line: wait for a whole line, not for the file.
  bool WaitStarted() const {
    return WaitUntil([&] { return StartedLog().find(L"\r\n") != std::wstring::npos; });
  }

  std::wstring FName, FRoot, FFolderId, FFolder;
  TProcess FLauncher, FOther;
};

}  // namespace e2e
