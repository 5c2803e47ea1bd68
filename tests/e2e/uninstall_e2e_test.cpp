// The installed product as Windows knows it: the entry among the installed programs, the
// Start-menu shortcut and the uninstaller kept in the product folder, end to end.
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <map>
#include <string>
#include <vector>

#include "launcher_fixture.h"
#include "support/shell_link.h"
#include "system/install_lock.h"

namespace {

using namespace e2e;

const wchar_t kEntryKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tandrel";
const wchar_t kUninstaller[] = L"Uninstall Tandrel.exe";

// One registry value as the API hands it out: its type and its data (texts without their NUL,
// numbers in decimal).
struct TValue {
  DWORD Type = REG_NONE;
  std::wstring Data;
  bool operator==(const TValue&) const = default;
};
using TEntry = std::map<std::wstring, TValue>;

void PrintTo(const TValue& value, std::ostream* out) { *out << "(" << value.Type << ") " << EncodeUtf8(value.Data); }

// Every value of the entry; empty when there is no entry.
TEntry ReadEntry() {
  TEntry entry;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kEntryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return entry;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, size = 0;
    BYTE data[4096];
    size = sizeof data;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    TValue value{type, L""};
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      value.Data.assign(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
      while (!value.Data.empty() && value.Data.back() == L'\0') value.Data.pop_back();
    } else if (type == REG_DWORD && size == 4) {
      value.Data = std::to_wstring(*reinterpret_cast<const DWORD*>(data));
    } else {
      value.Data = L"(" + std::to_wstring(size) + L" bytes)";
    }
    entry[std::wstring(name, nameLength)] = value;
  }
  RegCloseKey(key);
  return entry;
}

bool EntryExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kEntryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// An entry left by an earlier installation, with a value of its own to tell it by.
void PlantEntry() {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kEntryKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const auto& [name, text] : {std::pair{L"DisplayName", L"Tandrel"}, std::pair{L"DisplayVersion", L"1.0.0.0"},
                                   std::pair{L"Planted", L"by the test"}})
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

std::wstring ProgramsLink() {
  wchar_t path[MAX_PATH + 1] = {};
  SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, 0, path);
  return std::wstring(path) + L"\\Tandrel.lnk";
}

void WriteLink(const std::wstring& path, const std::wstring& target) {
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&link))));
  link->SetPath(target.c_str());
  IPersistFile* file = nullptr;
  link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  ASSERT_TRUE(file && SUCCEEDED(file->Save(path.c_str(), TRUE)));
  file->Release();
  link->Release();
  CoUninitialize();
}

std::wstring Today() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t text[16];
  swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

// Bytes of every file below a folder; the sample product's records of its start, which it
// writes only after the launcher has installed it, left out.
uint64_t FolderBytes(const std::wstring& folder, bool top = true) {
  uint64_t total = 0;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || (top && (name == L"started.txt" || name == L"cwd.txt"))) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      total += FolderBytes(folder + name + L"\\", false);
    else
      total += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return total;
}

class Registration : public Launcher {
 protected:
  void SetUp() override {
    Launcher::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, kEntryKey);
    DeleteFileW(ProgramsLink().c_str());
  }

  void TearDown() override {
    FUninstaller.Kill();
    Launcher::TearDown();
  }

  std::wstring Uninstaller() const { return ProductDir() + kUninstaller; }

  // The release installed through the window, as a user installs it; the product started at
  // the end has ended again.
  void InstallThroughTheWindow() {
    auto view = Open();
    view.Press();
    ASSERT_TRUE(FLauncher.WaitExit(120000));
    ASSERT_EQ(FLauncher.ExitCode(), 0u);
    ASSERT_TRUE(WaitStarted());
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed(L"Tandrel.exe").empty(); }));
  }

  // The product's own uninstaller, started as Windows starts it from the entry.
  void StartUninstaller(const std::wstring& args) {
    FUninstaller = TProcess::Start(Uninstaller(), args,
                                   {{L"LOCALAPPDATA", LocalAppData()}, {L"TEMP", TempDir()}, {L"TMP", TempDir()}});
  }

  // The installed product, both links and the entry as they were.
  void ExpectNothingRemoved(const TEntry& entry) const {
    for (const wchar_t* file : {L"Tandrel.exe", L"TandrelAI.exe", L"docs\\Changes.txt", kUninstaller})
      EXPECT_TRUE(PathExists(ProductDir() + file)) << EncodeUtf8(file);
    EXPECT_TRUE(PathExists(DesktopLink()));
    EXPECT_TRUE(PathExists(ProgramsLink()));
    EXPECT_EQ(ReadEntry(), entry);
  }

  // Answers the question Yes; the box that reports the outcome, once it shows (null when none).
  HWND AnswerYes() const {
    const HWND question = WaitMessageBox();
    if (!question) return nullptr;
    ClickMessageBoxButton(question, IDYES);
    HWND report = nullptr;
    return WaitUntil([&] { return (report = FindMessageBox(FUninstaller.Id())) && report != question; }) ? report
                                                                                                         : nullptr;
  }

  HWND WaitMessageBox() const {
    HWND box = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (box = FindMessageBox(FUninstaller.Id())) != nullptr; }));
    return box;
  }

  // The uninstaller's copy moved out of the product folder while it ran; gone once it ended.
  bool TemporaryCopyGone() const {
    return WaitUntil([&] {
      WIN32_FIND_DATAW data{};
      HANDLE find = FindFirstFileW((TempDir() + L"\\Morvane-uninstall-*").c_str(), &data);
      if (find == INVALID_HANDLE_VALUE) return true;
      FindClose(find);
      return false;
    });
  }

  TProcess FUninstaller;
};

// The copy of the launcher the silent check relaunches from the product folder installs the
// update and leaves an uninstaller behind it that removes everything, the copy included.
TEST_F(Registration, SilentRelaunchUpdatesAndItsUninstallerRemovesEverything) {
  Install(L"1.0.0.0");
  WriteFileBytes(Uninstaller(), "an earlier launcher");
  FLauncher = Run(L"Morvane.exe", L"-checkmorvane");
  ASSERT_TRUE(FLauncher.WaitExit(120000));
  TWindowView copy;
  TProcess copyProcess;
  ASSERT_TRUE(WaitUntil([&] {
    for (DWORD pid : ProcessesNamed(L"morvane_old.exe")) {
      copy = TWindowView::Find(pid);
      if (copy.WindowVisible() && !copy.ButtonText().empty()) {
        copyProcess = TProcess::Attach(pid);
        return true;
      }
    }
    return false;
  }));
  copy.Press();
  ASSERT_TRUE(copyProcess.WaitExit(120000));
  ASSERT_TRUE(WaitStarted());
  EXPECT_EQ(ReadFileBytes(Uninstaller()), ReadFileBytes(kBuild + L"\\Morvane.exe"));
  EXPECT_EQ(ReadEntry()[L"DisplayVersion"].Data, L"2.0.0.0");
  ASSERT_TRUE(WaitUntil([] { return ProcessesNamed(L"Tandrel.exe").empty(); }));

  StartUninstaller(L"-uninstall -quiet");
  ASSERT_TRUE(FUninstaller.WaitExit(120000));
  EXPECT_EQ(FUninstaller.ExitCode(), 0u);
  EXPECT_FALSE(PathExists(ProductDir()));
  EXPECT_FALSE(EntryExists());
}

// The entry after a first installation and after an update over an older version: the values
// Windows shows and runs, read back through the registry API.
TEST_F(Registration, EntryDescribesTheInstalledProduct) {
  for (const bool update : {false, true}) {
    SCOPED_TRACE(update ? "update" : "first installation");
    RemoveTree(ProductDir());
    RegDeleteTreeW(HKEY_CURRENT_USER, kEntryKey);
    if (update) {
      Install(L"1.0.0.0");
      PlantEntry();
      // The uninstaller an earlier launcher left: the update replaces it.
      WriteFileBytes(Uninstaller(), "an earlier launcher");
    }
    InstallThroughTheWindow();

    const std::wstring product = ProductDir() + L"Tandrel.exe";
    TEntry entry = ReadEntry();
    // The size in KiB of what lies in the folder now, the uninstaller among it.
    const DWORD kib = static_cast<DWORD>((FolderBytes(ProductDir()) + 1023) / 1024);
    const TEntry expected = {
        {L"DisplayName", {REG_SZ, L"Tandrel"}},
        {L"DisplayVersion", {REG_SZ, L"2.0.0.0"}},
        {L"Publisher", {REG_SZ, L"Tandrel Software"}},
        {L"DisplayIcon", {REG_SZ, product + L",0"}},
        {L"InstallLocation", {REG_SZ, ProductDir()}},
        {L"InstallDate", {REG_SZ, Today()}},
        {L"EstimatedSize", {REG_DWORD, std::to_wstring(kib)}},
        {L"NoModify", {REG_DWORD, L"1"}},
        {L"NoRepair", {REG_DWORD, L"1"}},
        {L"UninstallString", {REG_SZ, L"\"" + Uninstaller() + L"\" -uninstall"}},
        {L"QuietUninstallString", {REG_SZ, L"\"" + Uninstaller() + L"\" -uninstall -quiet"}},
    };
    // A value an earlier installation wrote and this one does not know stays.
    if (update) {
      EXPECT_EQ(entry[L"Planted"].Data, L"by the test");
    }
    entry.erase(L"Planted");
    EXPECT_EQ(entry, expected);
    // The uninstaller is the launcher that installed.
    EXPECT_EQ(ReadFileBytes(Uninstaller()), ReadFileBytes(kBuild + L"\\Morvane.exe"));

    // The Start-menu link is the desktop one's twin.
    const TLinkFields link{product, ProductDir(), product, 0, true};
    EXPECT_EQ(ReadLink(ProgramsLink()), link);
    EXPECT_EQ(ReadLink(DesktopLink()), link);
  }
}

// An installation that fails leaves the entry of the earlier one as it was, and places no
// uninstaller.
TEST_F(Registration, FailedInstallationLeavesTheEntryAlone) {
  Install(L"1.0.0.0");
  PlantEntry();
  const TEntry before = ReadEntry();
  // Another program holds the product's file without letting anyone move or replace it.
  HANDLE held = CreateFileW((ProductDir() + L"Tandrel.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  auto view = Open();
  view.Press();
  EXPECT_TRUE(WaitStatus(view, L"Ошибка при распаковке: ")) << EncodeUtf8(view.StatusText());
  CloseHandle(held);
  EXPECT_EQ(ReadEntry(), before);
  EXPECT_FALSE(PathExists(Uninstaller()));
  EXPECT_FALSE(PathExists(ProgramsLink()));
}

// The removal, quiet as QuietUninstallString runs it and asked and answered Yes as
// UninstallString runs it, while the product is running: the product is stopped and everything
// goes, the files the product wrote into its folder with it.
TEST_F(Registration, UninstallStopsTheProductAndRemovesEverything) {
  for (const bool quiet : {true, false}) {
    SCOPED_TRACE(quiet ? "quiet" : "asked");
    InstallThroughTheWindow();
    WriteFileBytes(ProductDir() + L"mode.txt", "stay");
    FOther = TProcess::Start(ProductDir() + L"Tandrel.exe", L"", {});
    ASSERT_TRUE(WaitUntil([&] { return !ProcessesNamed(L"Tandrel.exe").empty(); }));
    // A read-only file and a folder of the product's own making.
    CreateDirectoryW((ProductDir() + L"cache").c_str(), nullptr);
    WriteFileBytes(ProductDir() + L"cache\\data.bin", "made by the product");
    SetFileAttributesW((ProductDir() + L"cache\\data.bin").c_str(), FILE_ATTRIBUTE_READONLY);

    StartUninstaller(quiet ? L"-uninstall -quiet" : L"-uninstall");
    if (!quiet) {
      const HWND report = AnswerYes();
      ASSERT_NE(report, nullptr);
      EXPECT_EQ(MessageBoxText(report), L"Tandrel удалён с этого компьютера.");
      // Nothing is left by the time it says so.
      EXPECT_FALSE(PathExists(ProductDir()));
      EXPECT_FALSE(EntryExists());
      ClickMessageBoxButton(report, IDOK);
    }
    ASSERT_TRUE(FUninstaller.WaitExit(120000));
    EXPECT_EQ(FUninstaller.ExitCode(), 0u);
    EXPECT_TRUE(FOther.WaitExit(10000));
    EXPECT_FALSE(PathExists(ProductDir()));
    EXPECT_FALSE(PathExists(DesktopLink()));
    EXPECT_FALSE(PathExists(ProgramsLink()));
    EXPECT_FALSE(EntryExists());
    EXPECT_TRUE(TemporaryCopyGone());
  }
}

// Asked first, answered No: nothing changes, and the exit code says nothing was removed.
TEST_F(Registration, UninstallAnsweredNoChangesNothing) {
  InstallThroughTheWindow();
  const TEntry entry = ReadEntry();
  StartUninstaller(L"-uninstall");
  HWND box = WaitMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_NE(MessageBoxText(box).find(L"Удалить Tandrel"), std::wstring::npos) << EncodeUtf8(MessageBoxText(box));
  ClickMessageBoxButton(box, IDNO);
  ASSERT_TRUE(FUninstaller.WaitExit(60000));
  EXPECT_NE(FUninstaller.ExitCode(), 0u);
  ExpectNothingRemoved(entry);
}

// What another program holds open cannot go: the message names it and says the removal is
// incomplete, the entry and the uninstaller stay for another attempt, and the exit code says so.
// The product folder itself held open keeps the uninstaller in it, though it had moved out.
TEST_F(Registration, WhatIsHeldOpenIsNamedAndTheEntryStays) {
  const struct {
    const char* What;
    const wchar_t* Held;  // below the product folder
    bool Quiet;
  } cases[] = {
      {"a file, asked", L"docs\\Changes.txt", false},
      {"a file, quiet", L"docs\\Changes.txt", true},
      {"the product folder, asked", L"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    InstallThroughTheWindow();
    const std::wstring heldPath = ProductDir() + c.Held;
    HANDLE held = CreateFileW(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    StartUninstaller(c.Quiet ? L"-uninstall -quiet" : L"-uninstall");
    if (!c.Quiet) {
      const HWND report = AnswerYes();
      ASSERT_NE(report, nullptr);
      const std::wstring text = MessageBoxText(report);
      EXPECT_NE(text.find(L"не завершено"), std::wstring::npos) << EncodeUtf8(text);
      EXPECT_NE(text.find(heldPath), std::wstring::npos) << EncodeUtf8(text);
      EXPECT_EQ(text.find(L"удалён"), std::wstring::npos) << EncodeUtf8(text);
      ClickMessageBoxButton(report, IDOK);
    }
    ASSERT_TRUE(FUninstaller.WaitExit(60000));
    CloseHandle(held);
    EXPECT_EQ(FUninstaller.ExitCode(), 1u);
    EXPECT_TRUE(PathExists(heldPath));
    EXPECT_TRUE(PathExists(Uninstaller()));
    EXPECT_TRUE(EntryExists());
    // What could go, went.
    EXPECT_FALSE(PathExists(ProductDir() + L"Tandrel.exe"));
  }
}

// While a launcher installs (it holds the product folder's installation lock), the removal
// does not start: it says so when asked, changes nothing, and the exit code says so.
TEST_F(Registration, NoRemovalWhileAnInstallationRuns) {
  InstallThroughTheWindow();
  const TEntry entry = ReadEntry();
  TInstallLock installing(ProductDir());
  ASSERT_TRUE(installing.TryAcquire());
  for (const bool quiet : {true, false}) {
    SCOPED_TRACE(quiet ? "quiet" : "asked");
    StartUninstaller(quiet ? L"-uninstall -quiet" : L"-uninstall");
    if (!quiet) {
      const HWND report = AnswerYes();
      ASSERT_NE(report, nullptr);
      EXPECT_NE(MessageBoxText(report).find(L"обновляется"), std::wstring::npos) << EncodeUtf8(MessageBoxText(report));
      ClickMessageBoxButton(report, IDOK);
    }
    ASSERT_TRUE(FUninstaller.WaitExit(60000));
    EXPECT_EQ(FUninstaller.ExitCode(), 1u);
    ExpectNothingRemoved(entry);
  }
}

// Links named Tandrel.lnk that point somewhere else are somebody else's and stay.
TEST_F(Registration, ShortcutsPointingElsewhereStay) {
  InstallThroughTheWindow();
  const std::wstring elsewhere = FRoot + L"\\elsewhere\\Tandrel.exe";
  for (const std::wstring& link : {DesktopLink(), ProgramsLink()}) WriteLink(link, elsewhere);
  StartUninstaller(L"-uninstall -quiet");
  ASSERT_TRUE(FUninstaller.WaitExit(120000));
  EXPECT_EQ(FUninstaller.ExitCode(), 0u);
  EXPECT_FALSE(PathExists(ProductDir()));
  for (const std::wstring& link : {DesktopLink(), ProgramsLink()}) {
    ASSERT_TRUE(PathExists(link)) << EncodeUtf8(link);
    EXPECT_EQ(ReadLink(link).Target, elsewhere);
  }
  EXPECT_FALSE(EntryExists());
}

}  // namespace
