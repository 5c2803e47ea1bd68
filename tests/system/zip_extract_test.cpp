#include "support/here.h"
#include "system/zip_extract.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "system/errors.h"
#include "system/file_stream.h"
#include "system/text.h"
#include "system/zip_core.h"
#include "zip_builder.h"
#include "zip_test_support.h"

namespace fs = std::filesystem;

namespace {
void RemoveTree(const fs::path& folder) {
  std::error_code ec;
  if (!fs::exists(folder, ec)) return;
  for (const auto& f : fs::recursive_directory_iterator(folder, ec))
    SetFileAttributesW(f.path().c_str(), FILE_ATTRIBUTE_NORMAL);
  fs::remove_all(folder, ec);
}

TZipBuildEntry Entry(std::string name, std::string data, uint16_t method = 8) {
  TZipBuildEntry e;
  e.Name = std::move(name);
  e.Data = std::move(data);
  e.Method = method;
  return e;
}

// Each test works in a fresh folder of its own: <work>\archive.zip and <work>\dest\.
class ZipExtractTest : public testing::Test {
 protected:
  void SetUp() override {
    FWork = HereFolder() + L"zip-work\\" +
            Widen(testing::UnitTest::GetInstance()->current_test_info()->name()) + L"\\";
    RemoveTree(FWork);
    fs::create_directories(fs::path(FWork));
    FDest = FWork + L"dest\\";
    FArchive = FWork + L"archive.zip";
  }
  void TearDown() override { RemoveTree(FWork); }

  // The message of the extraction's failure, or "" when it succeeds.
  std::wstring Extract(const std::string& archive, const std::wstring& dest = L"", const TInstallOptions& options = {}) {
    WriteWholeFile(fs::path(FArchive), archive);
    return ExtractFile(FArchive, dest.empty() ? FDest : dest, options);
  }
  static std::wstring ExtractFile(const std::wstring& archive, const std::wstring& dest,
                                  const TInstallOptions& options = {}) {
    try {
      ExtractPackage(archive, dest, options);
    } catch (const Exception& e) {
      return e.Message();
    }
    return L"";
  }
  std::string Content(const std::wstring& relative) { return ReadWholeFile(fs::path(FDest + relative)); }
  // Every name below the destination with its content and its attributes.
  std::string Snapshot() {
    std::string all;
    std::error_code ec;
    for (const auto& f : fs::recursive_directory_iterator(fs::path(FDest), ec)) {
      const std::u8string rel = f.path().lexically_relative(fs::path(FDest)).generic_u8string();
      const DWORD attributes = GetFileAttributesW(f.path().c_str()) & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
      all += std::string(rel.begin(), rel.end()) + " [" + std::to_string(attributes) + "] " +
             (f.is_regular_file() ? ReadWholeFile(f.path()) : "") + "\n";
    }
    return all;
  }
  // An installed product: a program, a read-only data file, notes in a folder, and a file of
  // the user's that no release names.
  void InstallOldProduct() {
    TZipBuildEntry locked = Entry("data/locked.dat", "old locked");
    locked.MadeBy = 0x0014;
    locked.ExternalAttributes = 0x21;  // read-only, archive
    ASSERT_EQ(Extract(BuildZip({Entry("Tandrel.exe", "old program"), Entry("docs/Changes.txt", "old notes"), locked})),
              L"");
    WriteWholeFile(fs::path(FDest + L"settings.ini"), "mine");
    ASSERT_TRUE(GetFileAttributesW((FDest + L"data\\locked.dat").c_str()) & FILE_ATTRIBUTE_READONLY);
  }
  // The release that follows it: every old file replaced, new files in a new folder.
  static std::string NewRelease(std::vector<TZipBuildEntry> extra = {}) {
    std::vector<TZipBuildEntry> entries = {Entry("Tandrel.exe", "new program"), Entry("docs/Changes.txt", "new notes"),
                                           Entry("data/locked.dat", "new locked"), Entry("plugins/ai/TandrelAI.exe", "ai")};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return BuildZip(entries);
  }
  bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  // Installs FArchive into the destination in a process of its own that stops itself at the
  // given change, as a kill would (0: never); its exit code (3 when stopped).
  DWORD InstallStoppedAt(int stopAt) {
    SetEnvironmentVariableW(L"MORVANE_TEST_INSTALL_STOP_AT", std::to_wstring(stopAt).c_str());
    std::wstring command = L"\"" + HereFolder() + L"process_probe.exe\" install \"" + FArchive + L"\" \"" + FDest.substr(0, FDest.size() - 1) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"MORVANE_TEST_INSTALL_STOP_AT", nullptr);
    EXPECT_TRUE(started);
    if (!started) return DWORD{99};
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }
  // The message UndoInterruptedInstall raises, or "" when it returns.
  std::wstring Undo() {
    try {
      UndoInterruptedInstall(FDest);
    } catch (const Exception& e) {
      return e.Message();
    }
    return L"";
  }
  std::wstring WorkFolder() const { return FDest + L"morvane-install\\"; }

  std::wstring FWork, FDest, FArchive;
};

TEST_F(ZipExtractTest, ArchivesOfRealTools) {
  const fs::path data = ZipDataFolder();
  const fs::path tree = data / "tree";
  ASSERT_TRUE(fs::is_directory(tree)) << tree;
  for (const char* file : {"infozip-stored.zip", "infozip-deflate.zip", "infozip-zip64.zip", "infozip-comment.zip",
                           "7z.zip", "bsdtar.zip", "python.zip"}) {
    const bool cp437 = std::string(file).rfind("infozip", 0) == 0;
    const std::wstring dest = FWork + Widen(file) + L"\\nested\\";  // missing folders are created
    ASSERT_EQ(ExtractFile((data / "archives" / file).wstring(), dest), L"") << file;
    for (const auto& f : fs::recursive_directory_iterator(tree)) {
      const std::u8string rel8 = f.path().lexically_relative(tree).generic_u8string();
      const std::string relative(rel8.begin(), rel8.end());
      std::wstring name = cp437 ? DecodeCp437(relative) : *DecodeUtf8Strict(relative);
      const fs::path out = fs::path(dest) / fs::path(name);
      if (f.is_directory()) {
        EXPECT_TRUE(fs::is_directory(out)) << file << " " << relative;
      } else {
        EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(f.path())) << file << " " << relative;
      }
    }
  }
  EXPECT_EQ(ExtractFile((data / "archives" / "empty.zip").wstring(), FDest), L"");
}

TEST_F(ZipExtractTest, FolderEntryAndFileInIt) {
  ASSERT_EQ(Extract(BuildZip({Entry("bin/", "", 0), Entry("bin/Tandrel.exe", "MZ program")})), L"");
  EXPECT_TRUE(DirectoryExists(FDest + L"bin"));
  EXPECT_EQ(Content(L"bin\\Tandrel.exe"), "MZ program");
}

TEST_F(ZipExtractTest, OverAnExistingInstallation) {
  fs::create_directories(fs::path(FDest + L"bin"));
  WriteWholeFile(fs::path(FDest + L"bin\\Tandrel.exe"), std::string(5000, 'o'));
  WriteWholeFile(fs::path(FDest + L"settings.ini"), "mine");
  ASSERT_EQ(Extract(BuildZip({Entry("bin/Tandrel.exe", "new"), Entry("readme.txt", "notes", 0)})), L"");
  EXPECT_EQ(Content(L"bin\\Tandrel.exe"), "new");
  EXPECT_EQ(Content(L"readme.txt"), "notes");
  EXPECT_EQ(Content(L"settings.ini"), "mine");
}

// Only some entries of an archive that holds nothing else but its directory (the bytes of the
// others zero, as an update that fetched only what differs leaves it): those are installed,
// the others' files are left as they are, and the names of all are judged as a whole
// installation would judge them.
TEST_F(ZipExtractTest, OnlyTheGivenEntriesOfASparseArchive) {
  const std::string full = BuildZip({Entry("a.txt", "new a"), Entry("b/c.txt", "new c", 8), Entry("Tandrel.exe", "new")});
  TMemoryZipSource source(full);
  uint64_t directory = 0;
  const std::vector<TZipItem> items = ReadZipDirectory(source, &directory);
  ASSERT_EQ(items.size(), 3u);
  // "a.txt" was not fetched: its local record is zeros.
  std::string sparse = full;
  std::fill(sparse.begin(), sparse.begin() + static_cast<std::ptrdiff_t>(items[1].LocalHeaderOffset), '\0');
  WriteWholeFile(fs::path(FArchive), sparse);
  auto install = [&](const std::vector<uint64_t>& offsets) {
    try {
      ExtractPackageEntries(FArchive, FDest, offsets);
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::wstring();
  };
  fs::create_directories(fs::path(FDest));
  WriteWholeFile(fs::path(FDest + L"a.txt"), "new a");
  WriteWholeFile(fs::path(FDest + L"Tandrel.exe"), "old");
  const std::vector<uint64_t> changed = {items[1].LocalHeaderOffset, items[2].LocalHeaderOffset};
  ASSERT_EQ(install(changed), L"");
  EXPECT_EQ(Content(L"a.txt"), "new a");
  EXPECT_EQ(Content(L"b\\c.txt"), "new c");
  EXPECT_EQ(Content(L"Tandrel.exe"), "new");
  EXPECT_FALSE(Exists(FDest + L"morvane-install"));

  // An entry that was not fetched still may not clash with the folder: nothing changes.
  RemoveTree(FDest);
  fs::create_directories(fs::path(FDest + L"a.txt"));
  WriteWholeFile(fs::path(FDest + L"Tandrel.exe"), "old");
  const std::string before = Snapshot();
  EXPECT_NE(install(changed), L"");
  EXPECT_EQ(Snapshot(), before);
  // An offset where no entry begins, and an entry whose local record is not there.
  EXPECT_EQ(install({items[1].LocalHeaderOffset + 1}), L"Error reading zip file");
  EXPECT_EQ(install({items[0].LocalHeaderOffset}), L"Invalid Zip Local Header signature");
  EXPECT_EQ(Snapshot(), before);
}

// A file another program holds open is asked again for a while; then the whole installation
// is undone, the files before it included.
TEST_F(ZipExtractTest, FileHeldOpenUndoesTheWholeInstallation) {
  fs::create_directories(fs::path(FDest));
  WriteWholeFile(fs::path(FDest + L"a.txt"), "old a");
  WriteWholeFile(fs::path(FDest + L"b.txt"), "old b");
  // Read-only as well: the attribute, cleared to move the file aside, comes back.
  SetFileAttributesW((FDest + L"b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string before = Snapshot();
  HANDLE held = CreateFileW((FDest + L"b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  int retries = 0;
  TInstallOptions options;
  options.OnRetry = [&](const std::wstring& path) {
    EXPECT_EQ(path, FDest + L"b.txt");
    ++retries;
  };
  const std::wstring message =
      Extract(BuildZip({Entry("a.txt", "new a"), Entry("b.txt", "new b"), Entry("c.txt", "c")}), L"", options);
  CloseHandle(held);
  EXPECT_EQ(message.rfind(L"Cannot create file \"" + FDest + L"b.txt\". ", 0), 0u) << message;
  EXPECT_GT(message.size(), (L"Cannot create file \"" + FDest + L"b.txt\". ").size());
  EXPECT_GT(retries, 1);
  EXPECT_EQ(Snapshot(), before);
}

// A file held open only for a moment (a scanner looking at it) does not fail the installation.
TEST_F(ZipExtractTest, FileHeldOpenBrieflyIsAskedAgain) {
  fs::create_directories(fs::path(FDest));
  WriteWholeFile(fs::path(FDest + L"b.txt"), "old b");
  HANDLE held = CreateFileW((FDest + L"b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TInstallOptions options;
  options.OnRetry = [&](const std::wstring&) {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
  };
  EXPECT_EQ(Extract(BuildZip({Entry("a.txt", "new a"), Entry("b.txt", "new b")}), L"", options), L"");
  EXPECT_EQ(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Content(L"a.txt"), "new a");
  EXPECT_EQ(Content(L"b.txt"), "new b");
}

TEST_F(ZipExtractTest, RunningProgramIsReplacedOrNothingIs) {
  fs::create_directories(fs::path(FDest));
  const std::wstring exe = FDest + L"Tandrel.exe";
  ASSERT_TRUE(CopyFileW((HereFolder() + L"process_probe.exe").c_str(), exe.c_str(), FALSE));
  const std::string before = Snapshot();
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const std::wstring message = Extract(BuildZip({Entry("first.txt", "1"), Entry("Tandrel.exe", "new program")}));
  TerminateProcess(pi.hProcess, 1);
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // Windows lets the file of a running program be renamed, so it goes aside like any other;
  // a system that refuses leaves the product as it was.
  if (message.empty()) {
    EXPECT_EQ(Content(L"Tandrel.exe"), "new program");
    EXPECT_EQ(Content(L"first.txt"), "1");
  } else {
    EXPECT_EQ(message.rfind(L"Cannot create file \"" + exe + L"\". ", 0), 0u) << message;
    EXPECT_EQ(Snapshot(), before);
  }
}

// Attributes carry over from archives made on MS-DOS hosts only. A second extraction over the
// read-only file stops at that entry where the system enforces the attribute; Wine running as
// root lets the owner write any file, and there the second run replaces the file and marks it
// read-only again.
TEST_F(ZipExtractTest, AttributesOfMsDosArchivesCarryOver) {
  TZipBuildEntry readOnly = Entry("locked.txt", "ro");
  readOnly.MadeBy = 0x0014;               // MS-DOS host
  readOnly.ExternalAttributes = 0x29;     // read-only, archive, and the volume-label bit
  TZipBuildEntry hidden = Entry("hidden.txt", "h");
  hidden.MadeBy = 0x0014;
  hidden.ExternalAttributes = 0x22;
  TZipBuildEntry unixHost = Entry("unix.txt", "u");
  unixHost.MadeBy = 0x031E;
  unixHost.ExternalAttributes = 0x81A40001;  // mode bits high, a stray read-only bit low
  ASSERT_EQ(Extract(BuildZip({readOnly, hidden, unixHost})), L"");
  const DWORD locked = GetFileAttributesW((FDest + L"locked.txt").c_str());
  EXPECT_EQ(locked & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(GetFileAttributesW((FDest + L"hidden.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(GetFileAttributesW((FDest + L"unix.txt").c_str()) & FILE_ATTRIBUTE_READONLY);

  // The next release replaces the read-only file (the attribute is cleared first) and sets the
  // archive's attribute on the new one.
  readOnly.Data = "second";
  ASSERT_EQ(Extract(BuildZip({readOnly, Entry("after.txt", "after")})), L"");
  EXPECT_EQ(Content(L"locked.txt"), "second");
  EXPECT_TRUE(GetFileAttributesW((FDest + L"locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Content(L"after.txt"), "after");
  // And a release from another host leaves it writable.
  ASSERT_EQ(Extract(BuildZip({Entry("locked.txt", "third")})), L"");
  EXPECT_EQ(Content(L"locked.txt"), "third");
  EXPECT_FALSE(GetFileAttributesW((FDest + L"locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ZipExtractTest, DateAndTimeBecomeCreationAndLastWriteTime) {
  TZipBuildEntry dated = Entry("dated.txt", "d");
  dated.DosDate = static_cast<uint16_t>((2019 - 1980) << 9 | 7 << 5 | 14);  // 2019-07-14
  dated.DosTime = static_cast<uint16_t>(13 << 11 | 45 << 5 | 30 / 2);      // 13:45:30
  TZipBuildEntry invalid = Entry("undated.txt", "u");
  invalid.DosDate = 0;  // month 0: no valid date, the times stay as created
  ASSERT_EQ(Extract(BuildZip({dated, invalid})), L"");
  HANDLE file = CreateFileW((FDest + L"dated.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME created{}, written{}, local{};
  GetFileTime(file, &created, nullptr, &written);
  CloseHandle(file);
  for (const FILETIME& t : {created, written}) {
    WORD date = 0, time = 0;
    FileTimeToLocalFileTime(&t, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    EXPECT_EQ(date, dated.DosDate);
    EXPECT_EQ(time, dated.DosTime);
  }
  EXPECT_EQ(Content(L"undated.txt"), "u");
}

TEST_F(ZipExtractTest, CyrillicNamesWithAndWithoutFlag) {
  const std::string bytes = EncodeUtf8(L"\u041F\u0440\u0438\u0432\u0435\u0442.txt");
  TZipBuildEntry utf8 = Entry(bytes, "utf8");
  utf8.Flags = 0x0800;
  TZipBuildEntry oem = Entry(bytes, "oem");
  ASSERT_EQ(Extract(BuildZip({utf8, oem})), L"");
  EXPECT_EQ(Content(L"\u041F\u0440\u0438\u0432\u0435\u0442.txt"), "utf8");
  EXPECT_EQ(Content(DecodeCp437(bytes)), "oem");
}

TEST_F(ZipExtractTest, FailuresTable) {
  TZipBuildEntry badCrc = Entry("whole.txt", "written in full");
  badCrc.BadCrc = true;
  const struct {
    const char* What;
    std::string Archive;
    std::wstring Message;
  } cases[] = {
      {"zero-byte file", "", L"Stream read error"},
      {"text file", "Tandrel 1.2.3.4\r\nRelease notes.\r\n", L"Error reading zip file"},
      {"method 12", BuildZip({Entry("a.bin", "x", 12)}), L"Item not found"},
      {"method 14", BuildZip({Entry("a.bin", "x", 14)}), L"Item not found"},
      {"crc mismatch", BuildZip({badCrc}), L"Error reading zip file: " + FDest + L"whole.txt"},
      {"invalid characters", BuildZip({Entry("a<b>.txt", "x")}), L"Invalid characters in path"},
      // The launcher keeps its uninstaller under this name beside the product.
      {"the uninstaller's name", BuildZip({Entry("uninstall TANDREL.exe", "x")}),
       L"Name reserved for the installation in archive: uninstall TANDREL.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Extract(c.Archive), c.Message) << c.What;
  }
  EXPECT_FALSE(Exists(FDest + L"whole.txt"));
  const std::wstring missing = FWork + L"missing.zip";
  const std::wstring message = ExtractFile(missing, FDest);
  EXPECT_EQ(message.rfind(L"Cannot open file \"" + missing + L"\". ", 0), 0u) << message;
}

// Names that would write outside the destination, or to a device or a stream, are refused
// before anything is written for them; nothing appears outside the destination.
TEST_F(ZipExtractTest, UnsafeNamesWriteNothingOutside) {
  const char* names[] = {"../escape.txt", "sub/../../escape.txt", "/escape.txt", "\\escape.txt",
                         "C:/escape.txt",  "first.txt:stream",     "CON",         "sub/nul.txt",
                         "..\\escape.txt", "Z:escape.txt"};
  for (const char* name : names) {
    std::wstring shown = DecodeCp437(name);
    for (wchar_t& c : shown)
      if (c == L'/') c = L'\\';
    EXPECT_EQ(Extract(BuildZip({Entry("first.txt", "ok"), Entry(name, "evil")})), L"Unsafe path in archive: " + shown)
        << name;
    EXPECT_FALSE(Exists(FWork + L"escape.txt")) << name;
    EXPECT_FALSE(Exists(L"\\escape.txt")) << name;
    EXPECT_FALSE(Exists(L"C:\\escape.txt")) << name;
    EXPECT_FALSE(Exists(FDest + L"sub")) << name;
    // The archive is judged whole before the first write: not even the safe entry is written.
    EXPECT_FALSE(Exists(FDest + L"first.txt")) << name;
    EXPECT_FALSE(Exists(FDest)) << name;
  }
}

// An installed product and a release that fails: whatever spoils it, and however late it
// shows, the product stays byte for byte as it was, its read-only file and the user's own file
// included.
TEST_F(ZipExtractTest, FailedInstallationLeavesTheProductAsItWas) {
  InstallOldProduct();
  // Spelt in other letter case than the release spells it: it comes back under its own name.
  ASSERT_TRUE(MoveFileW((FDest + L"Tandrel.exe").c_str(), (FDest + L"respelt").c_str()));
  ASSERT_TRUE(MoveFileW((FDest + L"respelt").c_str(), (FDest + L"tandrel.EXE").c_str()));
  const std::string before = Snapshot();
  ASSERT_NE(before.find("tandrel.EXE"), std::string::npos);
  TZipBuildEntry badCrc = Entry("zz-last.dll", "spoilt");
  badCrc.BadCrc = true;
  TZipBuildEntry encrypted = Entry("secret.dat", "x");
  encrypted.Flags = 0x0001;
  // UTF-8 that encodes a lone high surrogate: the record could not keep the name exactly.
  TZipBuildEntry surrogate = Entry("docs/\xED\xA0\xBD.txt", "x");
  surrogate.Flags = 0x0800;
  std::string garbage = NewRelease({Entry("zz-last.dll", "deflated data", 8)});
  garbage[garbage.find("zz-last.dll") + 11] = '\xFF';  // its deflate data: a reserved block type
  const struct {
    const char* What;
    std::string Archive;
    std::wstring Message;  // the start of it
  } cases[] = {
      {"unsafe name", NewRelease({Entry("../escape.txt", "evil")}), L"Unsafe path in archive: ..\\escape.txt"},
      {"bzip2", NewRelease({Entry("new.dll", "bzip2 data", 12)}), L"Item not found"},
      {"invalid characters", NewRelease({Entry("new|.dll", "x")}), L"Invalid characters in path"},
      {"question mark", NewRelease({Entry("new?.dll", "x")}), L"Invalid characters in path"},
      {"letter case", NewRelease({Entry("DOCS/changes.TXT", "x")}), L"Names differ only in letter case"},
      {"a file where the product has a folder", NewRelease({Entry("DATA", "x")}),
       L"A folder of the product folder has the name of a file in archive: DATA"},
      {"a folder where the product has a file", NewRelease({Entry("settings.ini/x.txt", "x")}),
       L"A file of the product folder has the name of a folder in archive"},
      {"encrypted", NewRelease({encrypted}), L"Encrypted entry in archive: secret.dat"},
      {"half a surrogate pair", NewRelease({surrogate}), L"Name with an unpaired surrogate in archive"},
      {"path too long", NewRelease({Entry(std::string(200, 'x') + "/" + std::string(100, 'y'), "x")}), L"Path too long for the product folder"},
      {"crc mismatch at the end", NewRelease({badCrc}), L"Error reading zip file: " + FDest + L"zz-last.dll"},
      {"damaged deflate data at the end", garbage, L"data error: " + FDest + L"zz-last.dll"},
  };
  for (const auto& c : cases) {
    const std::wstring message = Extract(c.Archive);
    EXPECT_EQ(message.rfind(c.Message, 0), 0u) << c.What << ": " << EncodeUtf8(message);
    EXPECT_EQ(Snapshot(), before) << c.What;
  }

  // Too little room: both figures, and nothing written.
  TInstallOptions full;
  full.FreeSpace = 3 * 1024 * 1024;
  EXPECT_EQ(Extract(NewRelease(), L"", full), L"Недостаточно места на диске: нужно 17 МБ, свободно 3 МБ");
  EXPECT_EQ(Snapshot(), before);

  // A failure at each change in turn (a full disk, an I/O error): undone every time.
  int changes = 0;
  for (int failAt = 1;; ++failAt) {
    TInstallOptions options;
    bool failed = false;
    options.BeforeChange = [&](int change) {
      changes = change;
      if (change == failAt) {
        failed = true;
        throw Exception(L"disk failure");
      }
    };
    const std::wstring message = Extract(NewRelease(), L"", options);
    if (!failed) {
      EXPECT_EQ(message, L"");
      break;
    }
    EXPECT_EQ(message.rfind(L"disk failure", 0), 0u) << failAt;
    EXPECT_EQ(Snapshot(), before) << failAt;
  }
  // Two new folders, the writing of each of the four files, and for each of the three it
  // replaces the old one aside and the new one renamed into place.
  EXPECT_EQ(changes, 12);
  EXPECT_EQ(Content(L"Tandrel.exe"), "new program");
  EXPECT_EQ(Content(L"data\\locked.dat"), "new locked");
  EXPECT_EQ(Content(L"settings.ini"), "mine");
  EXPECT_FALSE(Exists(FDest + L"morvane-install"));
}

// A file of the user's where the installation keeps its record: nothing can be recorded, so
// nothing is changed, that file included.
TEST_F(ZipExtractTest, RecordThatCannotBeWrittenChangesNothing) {
  InstallOldProduct();
  WriteWholeFile(fs::path(FDest + L"morvane-install"), "the user's");
  const std::string before = Snapshot();
  const std::wstring message = Extract(NewRelease());
  EXPECT_EQ(message.rfind(L"Cannot create file \"" + FDest + L"morvane-install", 0), 0u) << EncodeUtf8(message);
  EXPECT_EQ(Snapshot(), before);
}

// Power-loss order: every new file is on the disk before the first old file goes aside and
// before any new file takes its place; each is made durable under its temporary name, once.
// Enough files that several wait for the disk at once.
TEST_F(ZipExtractTest, OldFilesGoAsideOnlyOnceEveryNewFileIsDurable) {
  InstallOldProduct();
  std::vector<TZipBuildEntry> extra;
  for (int i = 0; i < 150; ++i) extra.push_back(Entry("lib/part" + std::to_string(i) + ".dll", std::string(i * 37, 'x')));
  const size_t files = 4 + extra.size();
  std::mutex lock;
  std::vector<std::wstring> durable;
  std::set<std::wstring> missing;  // reported durable while not on disk
  TInstallOptions options;
  options.OnDurable = [&](const std::wstring& path) {
    std::lock_guard<std::mutex> guard(lock);
    durable.push_back(path);
    if (!Exists(path)) missing.insert(path);
  };
  int checked = 0, early = 0;
  options.BeforeChange = [&](int) {
    size_t aside = 0;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(fs::path(FDest + L"morvane-install"), ec))
      if (f.path().filename() != "record.txt") ++aside;
    // A file new to the product is written under its own name before the commit, so only the
    // old files show whether replacing has begun.
    const bool replacing = aside > 0 || !Exists(FDest + L"Tandrel.exe") || Content(L"Tandrel.exe") != "old program" ||
                           !Exists(FDest + L"docs\\Changes.txt") || Content(L"docs\\Changes.txt") != "old notes";
    std::lock_guard<std::mutex> guard(lock);
    ++checked;
    if (replacing && durable.size() != files) ++early;
  };
  ASSERT_EQ(Extract(NewRelease(extra), L"", options), L"");
  EXPECT_GT(checked, static_cast<int>(files));
  EXPECT_EQ(early, 0);
  EXPECT_TRUE(missing.empty());
  ASSERT_EQ(durable.size(), files);
  std::set<std::wstring> once(durable.begin(), durable.end());
  EXPECT_EQ(once.size(), files);
  // A file that replaces one was durable under a temporary name, renamed away since; a file
  // new to the product under its own name, where it stays.
  const std::set<std::wstring> replacing = {FDest + L"Tandrel.exe", FDest + L"docs\\Changes.txt",
                                            FDest + L"data\\locked.dat"};
  size_t temporaries = 0;
  for (const std::wstring& path : durable) {
    EXPECT_EQ(path.rfind(FDest, 0), 0u) << EncodeUtf8(path);
    if (path.find(L"~mv") != std::wstring::npos) {
      ++temporaries;
      EXPECT_FALSE(Exists(path)) << EncodeUtf8(path);
    } else {
      EXPECT_FALSE(replacing.count(path)) << EncodeUtf8(path);
      EXPECT_TRUE(Exists(path)) << EncodeUtf8(path);
    }
  }
  EXPECT_EQ(temporaries, replacing.size());
  EXPECT_EQ(Content(L"Tandrel.exe"), "new program");
  EXPECT_EQ(Content(L"lib\\part149.dll"), std::string(149 * 37, 'x'));
  EXPECT_FALSE(Exists(FDest + L"morvane-install"));
}

// A read-only file goes aside writable (a read-only file can be renamed but not deleted, so the
// clean-up after the installation could not remove it), and the archive's attribute is still
// set on its successor. Checked on the attributes, since Wine running as root deletes
// read-only files all the same.
TEST_F(ZipExtractTest, ReadOnlyFileGoesAsideWritable) {
  InstallOldProduct();
  std::vector<DWORD> aside;
  TInstallOptions options;
  options.BeforeChange = [&](int) {
    for (const auto& f : fs::directory_iterator(fs::path(FDest + L"morvane-install")))
      if (f.path().filename() != "record.txt") aside.push_back(GetFileAttributesW(f.path().c_str()));
  };
  TZipBuildEntry locked = Entry("data/locked.dat", "new locked");
  locked.MadeBy = 0x0014;
  locked.ExternalAttributes = 0x21;
  ASSERT_EQ(Extract(BuildZip({locked}), L"", options), L"");
  ASSERT_FALSE(aside.empty());
  for (DWORD attributes : aside) EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Content(L"data\\locked.dat"), "new locked");
  EXPECT_TRUE(GetFileAttributesW((FDest + L"data\\locked.dat").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(Exists(FDest + L"morvane-install"));
}

// A run killed at any change of the installation leaves a record; the next start undoes it, and
// the installation that follows succeeds.
TEST_F(ZipExtractTest, KilledInstallationIsUndoneAtTheNextStart) {
  InstallOldProduct();
  const std::string before = Snapshot();
  WriteWholeFile(fs::path(FArchive), NewRelease());
  const auto install = [&](int stopAt) { return InstallStoppedAt(stopAt); };
  int stopAt = 1, newFileInPlace = 0;
  for (; stopAt < 40; ++stopAt) {
    const DWORD code = install(stopAt);
    if (code == 0) break;  // no change left to stop at: installed
    ASSERT_EQ(code, 3u) << stopAt;
    EXPECT_TRUE(Exists(FDest + L"morvane-install\\record.txt")) << stopAt;
    // The file new to the product, killed after it was written under its own name: the undo
    // deletes it along with its new folders.
    if (Exists(FDest + L"plugins\\ai\\TandrelAI.exe")) ++newFileInPlace;
    ASSERT_NO_THROW(UndoInterruptedInstall(FDest)) << stopAt;
    EXPECT_EQ(Snapshot(), before) << stopAt;
  }
  // Stopped at every change: two new folders, the writing of each of the four files, and for
  // each of the three it replaces the old one aside and the new one renamed into place.
  EXPECT_EQ(stopAt, 13);
  EXPECT_GT(newFileInPlace, 0);
  EXPECT_EQ(Content(L"plugins\\ai\\TandrelAI.exe"), "ai");
  EXPECT_EQ(Content(L"data\\locked.dat"), "new locked");

  // Killed again, then started straight into the next installation: it undoes first.
  InstallOldProduct();
  WriteWholeFile(fs::path(FArchive), NewRelease());
  ASSERT_EQ(install(7), 3u);
  EXPECT_EQ(install(0), 0u);
  EXPECT_EQ(Content(L"Tandrel.exe"), "new program");
  EXPECT_FALSE(Exists(FDest + L"morvane-install"));
}

// A release once shipped a hidden system file (a desktop.ini): the next release replaces it.
TEST_F(ZipExtractTest, HiddenAndSystemFilesAreReplaced) {
  TZipBuildEntry ini = Entry("desktop.ini", "[.ShellClassInfo]\r\n");
  ini.MadeBy = 0x0014;                 // MS-DOS host
  ini.ExternalAttributes = 0x26;       // hidden, system, archive
  ASSERT_EQ(Extract(BuildZip({ini, Entry("Tandrel.exe", "1")})), L"");
  const DWORD first = GetFileAttributesW((FDest + L"desktop.ini").c_str());
  ASSERT_EQ(first & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  ini.Data = "[.ShellClassInfo]\r\nIconResource=Tandrel.exe,0\r\n";
  ASSERT_EQ(Extract(BuildZip({ini, Entry("Tandrel.exe", "2")})), L"");
  EXPECT_EQ(Content(L"desktop.ini"), ini.Data);
  EXPECT_EQ(Content(L"Tandrel.exe"), "2");
  const DWORD second = GetFileAttributesW((FDest + L"desktop.ini").c_str());
  EXPECT_EQ(second & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  // The same file from an archive of another host, which sets no attributes: replaced too.
  ASSERT_EQ(Extract(BuildZip({Entry("desktop.ini", "plain")})), L"");
  EXPECT_EQ(Content(L"desktop.ini"), "plain");
}

// An undo that meets a record it cannot trust stops and keeps every file: the product stays as
// the killed run left it, every saved file stays in the work folder, and once the record is
// put right the undo brings the product back whole.
TEST_F(ZipExtractTest, UntrustworthyRecordStopsTheUndoAndKeepsEverySavedFile) {
  InstallOldProduct();
  const std::string before = Snapshot();
  WriteWholeFile(fs::path(FArchive), NewRelease());
  // Past the first replacements (the new files in place of the old, the old ones saved aside):
  // the first stop after which a saved file lies in the work folder, and one more.
  int stop = 1;
  for (;; ++stop) {
    ASSERT_LT(stop, 80);
    ASSERT_EQ(InstallStoppedAt(stop), 3u);
    const bool saved = Exists(WorkFolder() + L"0");
    ASSERT_EQ(Undo(), L"");
    ASSERT_EQ(Snapshot(), before) << stop;
    if (saved) break;
  }
  ASSERT_EQ(InstallStoppedAt(stop + 1), 3u);
  const std::wstring recordPath = WorkFolder() + L"record.txt";
  const std::string good = ReadWholeFile(fs::path(recordPath));
  ASSERT_NE(good.find("\nend\n"), std::string::npos);
  ASSERT_TRUE(Exists(WorkFolder() + L"0"));
  const std::string firstLine = good.substr(0, good.find('\n') + 1);
  const std::string rest = good.substr(firstLine.size());
  // A record of the same changes with one more line that names a file elsewhere.
  auto withLine = [&](const std::string& line) { return firstLine + line + "\n" + rest; };
  const std::wstring outside = FWork + L"outside.txt";

  const struct {
    const char* What;
    std::optional<std::string> Record;  // the record's text; none keeps the good one
    const wchar_t* Extra;      // a file put into the work folder, or nullptr
    bool Folder;               // ... a folder of that name instead
    bool HeldOpen;             // the record held open for writing by another program
    const wchar_t* Message;    // the start of the message
  } cases[] = {
      {"text after the end", good + "x", nullptr, false, false, L"The installation's record"},
      {"a torn last line", good.substr(0, good.size() - 2), nullptr, false, false, L"The installation's record"},
      {"an empty record", std::string(), nullptr, false, false, L"The installation's record"},
      {"a field too many", withLine("D\tbin\textra"), nullptr, false, false, L"The installation's record"},
      {"attributes that are no number", withLine("F\ta.txt\t~mv0zzz.tmp\t\t-1\t"), nullptr, false, false,
       L"The installation's record"},
      {"a name that climbs out", withLine("F\t..\\..\\outside.txt\t~mv0zzz.tmp\t\t0\t"), nullptr, false, false,
       L"The installation's record"},
      {"a name that climbs with slashes", withLine("F\tdocs/../../outside.txt\t~mv0zzz.tmp\t\t0\t"), nullptr, false,
       false, L"The installation's record"},
      {"a rooted name", withLine("F\t" + EncodeUtf8(outside) + "\t~mv0zzz.tmp\t\t0\t"), nullptr, false, false,
       L"The installation's record"},
      {"a temporary elsewhere", withLine("F\ta.txt\t..\\~mv0zzz.tmp\t\t0\t"), nullptr, false, false,
       L"The installation's record"},
      {"a temporary that is no temporary", withLine("F\ta.txt\tsettings.ini\t\t0\t"), nullptr, false, false,
       L"The installation's record"},
      {"a replaced file without a temporary name", withLine("F\tsettings.ini\t\t9\t32\tsettings.ini"), nullptr,
       false, false, L"The installation's record"},
      {"a saved name that is a path", withLine("F\ta.txt\t~mv0zzz.tmp\t0\\..\\..\\settings.ini\t0\t"), nullptr,
       false, false, L"The installation's record"},
      {"a spelling in another folder", withLine("F\ta.txt\t~mv0zzz.tmp\t\t0\tdata\\a.txt"), nullptr, false, false,
       L"The installation's record"},
      {"a name inside the work folder", withLine("F\tmorvane-install\\0\t~mv0zzz.tmp\t\t0\t"), nullptr, false, false,
       L"The installation's record"},
      {"a name that is not UTF-8", withLine("F\t\xED\xA0\xBD.txt\t~mv0zzz.tmp\t\t0\t"), nullptr, false, false,
       L"The installation's record"},
      {"a stray file in the work folder", std::nullopt, L"7", false, false, L"The installation's folder"},
      {"a finished mark beside the record", std::nullopt, L"done.txt", false, false, L"The installation's folder"},
      {"a folder in the work folder", std::nullopt, L"sub", true, false, L"The installation's folder"},
      {"the record held open for writing", std::nullopt, nullptr, false, true, L"The installation's record"},
  };
  WriteWholeFile(fs::path(outside), "the user's");
  const std::string left = Snapshot();
  for (const auto& c : cases) {
    if (c.Record) WriteWholeFile(fs::path(recordPath), *c.Record);
    if (c.Extra && c.Folder) CreateDirectoryW((WorkFolder() + c.Extra).c_str(), nullptr);
    if (c.Extra && !c.Folder) WriteWholeFile(fs::path(WorkFolder() + c.Extra), "stale");
    HANDLE held = c.HeldOpen ? CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
    const std::string damaged = Snapshot();
    const std::wstring message = Undo();
    EXPECT_EQ(message.rfind(c.Message, 0), 0u) << c.What << ": " << EncodeUtf8(message);
    EXPECT_EQ(Snapshot(), damaged) << c.What;
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (c.Extra) c.Folder ? RemoveDirectoryW((WorkFolder() + c.Extra).c_str()) : DeleteFileW((WorkFolder() + c.Extra).c_str());
    WriteWholeFile(fs::path(recordPath), good);
    EXPECT_EQ(Snapshot(), left) << c.What;
  }
  EXPECT_EQ(ReadWholeFile(fs::path(outside)), "the user's");
  DeleteFileW(outside.c_str());
  // Put right, the record is undone in full.
  EXPECT_EQ(Undo(), L"");
  EXPECT_EQ(Snapshot(), before);
}

// A work folder that some earlier run left holding files counts for nothing: the installation
// refuses to start on it, and a start never takes a stale file for one it saved, nor a stale
// finished mark for an installation that completed.
TEST_F(ZipExtractTest, LeftoversInTheWorkFolderAreNeverTakenForThisInstallations) {
  InstallOldProduct();
  const struct {
    const char* What;
    const wchar_t* Name;
    bool Refused;
  } cases[] = {
      {"a saved file that could not be deleted", L"0", true},
      {"a finished mark alone", L"done.txt", true},
      {"a record alone that is no record", L"record.txt", true},
      {"a record torn while it was written", L"record.new", false},
  };
  for (const auto& c : cases) {
    InstallOldProduct();
    CreateDirectoryW(WorkFolder().c_str(), nullptr);
    WriteWholeFile(fs::path(WorkFolder() + c.Name), "stale");
    const std::string before = Snapshot();
    const std::wstring message = Extract(NewRelease());
    if (c.Refused) {
      EXPECT_NE(message, L"") << c.What;
      EXPECT_EQ(Snapshot(), before) << c.What;
      EXPECT_EQ(Content(L"Tandrel.exe"), "old program") << c.What;
      DeleteFileW((WorkFolder() + c.Name).c_str());
      RemoveDirectoryW(WorkFolder().c_str());
    } else {
      EXPECT_EQ(message, L"") << c.What;
      EXPECT_EQ(Content(L"Tandrel.exe"), "new program") << c.What;
    }
    EXPECT_FALSE(Exists(WorkFolder())) << c.What;
  }

  // Killed at any change after a stale file had been cleared away: the killed run's own
  // record explains everything, and the undo puts the old product back.
  InstallOldProduct();
  const std::string old = Snapshot();
  WriteWholeFile(fs::path(FArchive), NewRelease());
  ASSERT_EQ(InstallStoppedAt(3), 3u);
  EXPECT_EQ(Undo(), L"");
  EXPECT_EQ(Snapshot(), old);
}

// The work folder as a link to another folder: the undo touches nothing there.
TEST_F(ZipExtractTest, WorkFolderThatIsALinkIsRefused) {
  InstallOldProduct();
  const std::wstring elsewhere = FWork + L"elsewhere";
  fs::create_directories(fs::path(elsewhere));
  WriteWholeFile(fs::path(elsewhere + L"\\record.txt"), "morvane install record 1\nend\n");
  WriteWholeFile(fs::path(elsewhere + L"\\0"), "the user's");
  if (!CreateSymbolicLinkW(WorkFolder().substr(0, WorkFolder().size() - 1).c_str(), elsewhere.c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    GTEST_SKIP() << "no folder link can be made here: error " << GetLastError();
  // Wine makes the link but its own file functions do not follow it (the folder looks absent).
  if (GetFileAttributesW(WorkFolder().c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    GTEST_SKIP() << "the folder link is made but not followed here: error " << code;
  }
  const std::wstring message = Undo();
  EXPECT_EQ(message.rfind(L"The installation's folder", 0), 0u) << EncodeUtf8(message);
  EXPECT_EQ(ReadWholeFile(fs::path(elsewhere + L"\\0")), "the user's");
  EXPECT_TRUE(Exists(elsewhere + L"\\record.txt"));
  RemoveDirectoryW(WorkFolder().substr(0, WorkFolder().size() - 1).c_str());
}

// Where the volume makes 8.3 names, the work folder's short name is as reserved as its own.
TEST_F(ZipExtractTest, WorkFolderShortNameIsReserved) {
  InstallOldProduct();
  CreateDirectoryW(WorkFolder().c_str(), nullptr);
  wchar_t buffer[MAX_PATH + 1] = {};
  std::wstring shortPath(buffer, GetShortPathNameW(WorkFolder().c_str(), buffer, MAX_PATH + 1));
  RemoveDirectoryW(WorkFolder().c_str());
  if (!shortPath.empty() && shortPath.back() == L'\\') shortPath.pop_back();
  const std::wstring shortName = shortPath.substr(shortPath.find_last_of(L'\\') + 1);
  if (shortName.empty() || FoldFileName(shortName) == FoldFileName(L"morvane-install"))
    GTEST_SKIP() << "this volume makes no short names";
  const std::string before = Snapshot();
  const std::wstring message =
      Extract(BuildZip({Entry(EncodeUtf8(shortName) + "/2", "evil"), Entry("Tandrel.exe", "new program")}));
  EXPECT_EQ(message.rfind(L"Name reserved for the installation in archive", 0), 0u) << EncodeUtf8(message);
  EXPECT_EQ(Snapshot(), before);
}

// A second undo while an installation runs (another thread here, another launcher in use)
// changes nothing and lets the installation finish.
TEST_F(ZipExtractTest, UndoDuringAnotherInstallationTouchesNothing) {
  InstallOldProduct();
  std::wstring message;
  std::string during, after;
  TInstallOptions options;
  // The three files written before change 5 are still held open by the flusher until they are
  // durable; the snapshot waits for that so that it can read them.
  std::mutex lock;
  std::condition_variable flushed;
  size_t durable = 0;
  options.OnDurable = [&](const std::wstring&) {
    std::lock_guard<std::mutex> guard(lock);
    ++durable;
    flushed.notify_all();
  };
  options.BeforeChange = [&](int change) {
    if (change != 5) return;
    {
      std::unique_lock<std::mutex> guard(lock);
      flushed.wait(guard, [&] { return durable == 3; });
    }
    during = Snapshot();
    std::thread([&] { message = Undo(); }).join();
    after = Snapshot();
  };
  ASSERT_EQ(Extract(NewRelease(), L"", options), L"");
  EXPECT_EQ(message.rfind(L"Another installation into", 0), 0u) << EncodeUtf8(message);
  EXPECT_FALSE(during.empty());
  EXPECT_EQ(after, during);
  EXPECT_EQ(Content(L"Tandrel.exe"), "new program");
  EXPECT_EQ(Content(L"data\\locked.dat"), "new locked");
}
}  // namespace
