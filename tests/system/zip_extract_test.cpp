#include "support/here.h"
#include "system/zip_extract.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

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
  std::wstring Extract(const std::string& archive, const std::wstring& dest = L"") {
    WriteWholeFile(fs::path(FArchive), archive);
    return ExtractFile(FArchive, dest.empty() ? FDest : dest);
  }
  static std::wstring ExtractFile(const std::wstring& archive, const std::wstring& dest) {
    try {
      ExtractPackage(archive, dest);
    } catch (const Exception& e) {
      return e.Message();
    }
    return L"";
  }
  std::string Content(const std::wstring& relative) { return ReadWholeFile(fs::path(FDest + relative)); }
  bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

TEST_F(ZipExtractTest, FileHeldOpenStopsAtThatEntry) {
  fs::create_directories(fs::path(FDest));
  WriteWholeFile(fs::path(FDest + L"a.txt"), "old a");
  WriteWholeFile(fs::path(FDest + L"b.txt"), "old b");
  HANDLE held = CreateFileW((FDest + L"b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::wstring message = Extract(BuildZip({Entry("a.txt", "new a"), Entry("b.txt", "new b"), Entry("c.txt", "c")}));
  CloseHandle(held);
  EXPECT_EQ(message.rfind(L"Cannot create file \"" + FDest + L"b.txt\". ", 0), 0u) << message;
  EXPECT_GT(message.size(), (L"Cannot create file \"" + FDest + L"b.txt\". ").size());
  EXPECT_EQ(Content(L"a.txt"), "new a");
  EXPECT_EQ(Content(L"b.txt"), "old b");
  EXPECT_FALSE(Exists(FDest + L"c.txt"));
}

TEST_F(ZipExtractTest, RunningProgramCannotBeReplaced) {
  fs::create_directories(fs::path(FDest));
  const std::wstring exe = FDest + L"Tandrel.exe";
  ASSERT_TRUE(CopyFileW((HereFolder() + L"process_probe.exe").c_str(), exe.c_str(), FALSE));
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
  EXPECT_EQ(message.rfind(L"Cannot create file \"" + exe + L"\". ", 0), 0u) << message;
  EXPECT_EQ(Content(L"first.txt"), "1");
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

  // The second archive holds the read-only file first and a new file after it (and not the
  // hidden one: Windows refuses to overwrite a hidden file with plain attributes as well).
  readOnly.Data = "second";
  const std::string again = BuildZip({readOnly, Entry("after.txt", "after")});
  HANDLE probe = ::CreateFileW((FDest + L"locked.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool enforced = probe == INVALID_HANDLE_VALUE;
  if (!enforced) CloseHandle(probe);
  const std::wstring message = Extract(again);
  if (enforced) {
    EXPECT_EQ(message.rfind(L"Cannot create file \"" + FDest + L"locked.txt\". ", 0), 0u) << message;
    EXPECT_EQ(Content(L"locked.txt"), "ro");
    EXPECT_FALSE(Exists(FDest + L"after.txt"));
  } else {
    EXPECT_EQ(message, L"");
    EXPECT_EQ(Content(L"locked.txt"), "second");
    EXPECT_TRUE(GetFileAttributesW((FDest + L"locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Content(L"after.txt"), "after");
  }
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
    const wchar_t* Message;
  } cases[] = {
      {"zero-byte file", "", L"Stream read error"},
      {"text file", "Tandrel 1.2.3.4\r\nRelease notes.\r\n", L"Error reading zip file"},
      {"method 12", BuildZip({Entry("a.bin", "x", 12)}), L"Item not found"},
      {"method 14", BuildZip({Entry("a.bin", "x", 14)}), L"Item not found"},
      {"crc mismatch", BuildZip({badCrc}), L"Error reading zip file"},
      {"invalid characters", BuildZip({Entry("a<b>.txt", "x")}), L"Invalid characters in path"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Extract(c.Archive), c.Message) << c.What;
  }
  EXPECT_EQ(Content(L"whole.txt"), "written in full");
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

// An installed product and an archive that could never be written whole: whatever entry
// spoils it, and however late in the archive it stands, the product stays byte for byte.
TEST_F(ZipExtractTest, ArchiveThatCannotBeWrittenWholeLeavesTheProductAsItWas) {
  const std::string installed = BuildZip({Entry("Tandrel.exe", "old program"), Entry("docs/Changes.txt", "old notes")});
  ASSERT_EQ(Extract(installed), L"");
  const auto snapshot = [&] {
    std::string all;
    for (const auto& f : fs::recursive_directory_iterator(fs::path(FDest))) {
      const std::u8string rel = f.path().lexically_relative(fs::path(FDest)).generic_u8string();
      all += std::string(rel.begin(), rel.end()) + "=" + (f.is_regular_file() ? ReadWholeFile(f.path()) : "") + "\n";
    }
    return all;
  };
  const std::string before = snapshot();
  const struct {
    const char* What;
    TZipBuildEntry Last;
    std::wstring Message;
  } cases[] = {
      {"unsafe name", Entry("../escape.txt", "evil"), L"Unsafe path in archive: ..\\escape.txt"},
      {"bzip2", Entry("new.dll", "bzip2 data", 12), L"Item not found"},
      {"invalid characters", Entry("new|.dll", "x"), L"Invalid characters in path"},
  };
  for (const auto& c : cases) {
    const std::string archive =
        BuildZip({Entry("Tandrel.exe", "new program"), Entry("docs/Changes.txt", "new notes"), c.Last});
    EXPECT_EQ(Extract(archive), c.Message) << c.What;
    EXPECT_EQ(snapshot(), before) << c.What;
  }
}

// A release once shipped a hidden system file (a desktop.ini): the next release replaces it.
// A read-only file still stops the extraction (AttributesOfMsDosArchivesCarryOver).
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
}  // namespace
