#include "system/zip_core.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "system/errors.h"
#include "system/text.h"
#include "zip_builder.h"
#include "zip_test_support.h"

namespace {
// Records what an extraction would put on disk.
class TRecordingOutput final : public TZipOutput {
 public:
  std::map<std::wstring, std::string> Files;
  std::vector<std::wstring> Events;
  std::vector<size_t> Pieces;

  void MakeFolder(const TZipItem& item) override { Events.push_back(L"folder " + item.Name); }
  void BeginFile(const TZipItem& item) override {
    FCurrent = item.Name;
    Files[FCurrent].clear();
    Events.push_back(L"file " + item.Name);
  }
  void Write(const void* data, size_t count) override {
    Files[FCurrent].append(static_cast<const char*>(data), count);
    Pieces.push_back(count);
  }
  void CloseFile() override { Events.push_back(L"close"); }
  void FinishFile(const TZipItem&) override { Events.push_back(L"finish"); }

 private:
  std::wstring FCurrent;
};

// The message an extraction raises, or "" when it succeeds.
std::wstring Extract(const std::string& archive, TRecordingOutput& out) {
  TMemoryZipSource source(archive);
  try {
    ExtractZip(source, out);
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"";
}

TZipBuildEntry Entry(std::string name, std::string data, uint16_t method = 0) {
  TZipBuildEntry e;
  e.Name = std::move(name);
  e.Data = std::move(data);
  e.Method = method;
  return e;
}

std::string Utf8(const std::wstring& text) { return EncodeUtf8(text); }

TEST(ZipCore, FailuresTable) {
  TZipBuildEntry badCrc = Entry("a.txt", "hello", 8);
  badCrc.BadCrc = true;
  TZipBuildEntry badLocal = Entry("a.txt", "hello");
  badLocal.BadLocalSignature = true;
  TZipBuildEntry badCentral = Entry("a.txt", "hello");
  badCentral.BadCentralSignature = true;
  std::string garbageDeflate = BuildZip({Entry("a.txt", "hello", 8)});
  garbageDeflate[30 + 5] = '\xFF';  // first byte of the deflate data: reserved block type 3
  std::string shortStored = BuildZip({Entry("a.txt", std::string(100, 'x'))});
  shortStored = shortStored.substr(0, 30 + 5 + 50);  // data cut in the middle, directory lost too
  std::string emptyArchive = BuildZip({});
  std::string tooShort = BuildZip({Entry("a.txt", "hello")});
  tooShort[30 + 5 + 5 + 24] = 10;  // the directory claims 10 bytes, the entry holds 5

  const struct {
    const char* What;
    std::string Archive;
    const wchar_t* Message;
  } cases[] = {
      {"zero-byte file", "", L"Stream read error"},
      {"text file", "This is not an archive, only some text.\r\n", L"Error reading zip file"},
      {"short text", "PK", L"Error reading zip file"},
      {"method 12", BuildZip({Entry("a.txt", "hello", 12)}), L"Item not found"},
      {"method 14", BuildZip({Entry("a.txt", "hello", 14)}), L"Item not found"},
      {"crc mismatch", BuildZip({badCrc}), L"Error reading zip file"},
      {"local signature", BuildZip({badLocal}), L"Invalid Zip Local Header signature"},
      {"central signature", BuildZip({badCentral}), L"Invalid Zip Central Header signature"},
      {"deflate data", garbageDeflate, L"data error"},
      {"cut archive", shortStored, L"Error reading zip file"},
      {"data shorter than its size", tooShort, L"Error reading zip file"},
      {"control char", BuildZip({Entry("a\x01.txt", "x")}), L"Invalid characters in path"},
      {"quote", BuildZip({Entry("a\".txt", "x")}), L"Invalid characters in path"},
      {"angle", BuildZip({Entry("a<b>.txt", "x")}), L"Invalid characters in path"},
      {"pipe", BuildZip({Entry("a|b.txt", "x")}), L"Invalid characters in path"},
      {"empty archive", emptyArchive, L""},
  };
  for (const auto& c : cases) {
    TRecordingOutput out;
    EXPECT_EQ(Extract(c.Archive, out), c.Message) << c.What;
  }
}

TEST(ZipCore, CrcMismatchWritesTheWholeFileFirst) {
  TZipBuildEntry bad = Entry("b.txt", "second", 8);
  bad.BadCrc = true;
  TRecordingOutput out;
  EXPECT_EQ(Extract(BuildZip({Entry("a.txt", "first"), bad, Entry("c.txt", "third")}), out), L"Error reading zip file");
  EXPECT_EQ(out.Files[L"a.txt"], "first");
  EXPECT_EQ(out.Files[L"b.txt"], "second");
  EXPECT_EQ(out.Files.count(L"c.txt"), 0u);
  EXPECT_EQ(out.Events.back(), L"close");  // closed, but not finished
}

TEST(ZipCore, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
  const char* names[] = {
      "../evil.txt",        "a/../../evil.txt",  "..\\evil.txt",      "a/..",            "/etc/evil.txt",
      "\\evil.txt",         "\\\\server\\share\\x", "//server/share/x", "C:/evil.txt",     "C:evil.txt",
      "file.txt:stream",    "a/b:c",             "CON",               "con.txt",         "bin/NUL",
      "Aux.log",            "prn",               "COM1",              "lpt9.dat",        "a/com7/b.txt",
      "CON .txt",           ".../evil.txt",      ".. /evil.txt",
  };
  for (const char* name : names) {
    TRecordingOutput out;
    const std::wstring message = Extract(BuildZip({Entry("ok.txt", "fine"), Entry(name, "bad")}), out);
    const std::wstring shown = DecodeCp437(name);
    std::wstring slashed = shown;
    for (wchar_t& c : slashed)
      if (c == L'/') c = L'\\';
    EXPECT_EQ(message, L"Unsafe path in archive: " + slashed) << name;
    // The archive is judged whole first: not even the safe entry before it is written.
    EXPECT_EQ(out.Events.size(), 0u) << name;
    EXPECT_EQ(out.Files.size(), 0u) << name;
  }
}

TEST(ZipCore, OrdinaryNamesAreNotMistakenForUnsafeOnes) {
  const wchar_t* names[] = {L"a..b.txt", L"..a", L"a\\b..\\c", L"CONFIG.SYS", L"COM10", L"LPT", L"console.txt",
                            L"bin\\", L".\\bin\\x", L"nul2", L"my con.txt"};
  for (const wchar_t* name : names) EXPECT_FALSE(ZipNameIsUnsafe(name)) << testing::PrintToString(std::wstring(name));
}

TEST(ZipCore, NameDecoding) {
  const std::string cyrillic = Utf8(L"\u041F\u0440\u0438\u0432\u0435\u0442.txt");
  TZipBuildEntry utf8 = Entry(cyrillic, "x");
  utf8.Flags = 0x0800;
  TZipBuildEntry cp437 = Entry(cyrillic, "x");
  TZipBuildEntry highBytes = Entry("\x80\x9B\xE1\xFF.txt", "x");
  TZipBuildEntry unicodeField = Entry("plain.txt", "x");
  unicodeField.LocalExtra = UnicodePathField("plain.txt", cyrillic);
  TZipBuildEntry staleField = Entry("plain.txt", "x");
  staleField.LocalExtra = UnicodePathField("plain.txt", cyrillic, 1);
  TZipBuildEntry slashes = Entry("bin/sub/Tandrel.exe", "x");

  const struct {
    TZipBuildEntry Entry;
    std::wstring Name;
  } cases[] = {
      {utf8, L"\u041F\u0440\u0438\u0432\u0435\u0442.txt"},
      {cp437, DecodeCp437(cyrillic)},
      {highBytes, L"\u00C7\u00A2\u00DF\u00A0.txt"},
      {unicodeField, L"\u041F\u0440\u0438\u0432\u0435\u0442.txt"},
      {staleField, L"plain.txt"},
      {slashes, L"bin\\sub\\Tandrel.exe"},
  };
  for (const auto& c : cases) {
    TRecordingOutput out;
    EXPECT_EQ(Extract(BuildZip({c.Entry}), out), L"");
    ASSERT_EQ(out.Files.size(), 1u);
    EXPECT_EQ(out.Files.begin()->first, c.Name) << c.Entry.Name;
  }
  EXPECT_NE(DecodeCp437(cyrillic), L"\u041F\u0440\u0438\u0432\u0435\u0442.txt");
}

TEST(ZipCore, LargeEntriesGoThroughPiecesOfOneMebibyte) {
  std::string data(2621440 + 3, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
  for (uint16_t method : {0, 8}) {
    TRecordingOutput out;
    EXPECT_EQ(Extract(BuildZip({Entry("big.bin", data, method)}), out), L"");
    EXPECT_EQ(out.Files[L"big.bin"], data);
    EXPECT_EQ(out.Pieces, (std::vector<size_t>{1048576, 1048576, 524291})) << method;
  }
}

TEST(ZipCore, FolderEntriesCreateFoldersOnly) {
  TRecordingOutput out;
  EXPECT_EQ(Extract(BuildZip({Entry("bin/", ""), Entry("bin/Tandrel.exe", "MZ")}), out), L"");
  EXPECT_EQ(out.Events, (std::vector<std::wstring>{L"folder bin\\", L"folder bin\\Tandrel.exe", L"file bin\\Tandrel.exe",
                                                  L"close", L"finish"}));
}

TEST(ZipCore, CommentAfterTheDirectory) {
  TRecordingOutput out;
  EXPECT_EQ(Extract(BuildZip({Entry("a.txt", "hello")}, "a comment that mentions PK\x05\x06 too"), out), L"");
  EXPECT_EQ(out.Files[L"a.txt"], "hello");
}

TEST(ZipCore, PathHelpers) {
  EXPECT_EQ(JoinZipPath(L"C:\\Dest", L"a\\b.txt"), L"C:\\Dest\\a\\b.txt");
  EXPECT_EQ(JoinZipPath(L"C:\\Dest\\", L"b.txt"), L"C:\\Dest\\b.txt");
  EXPECT_EQ(JoinZipPath(L"C:\\Dest/", L"b.txt"), L"C:\\Dest/b.txt");
  EXPECT_EQ(JoinZipPath(L"C:", L"b.txt"), L"C:b.txt");
  EXPECT_EQ(ExtractFilePath(L"C:\\Dest\\a\\b.txt"), L"C:\\Dest\\a\\");
  EXPECT_EQ(ExtractFilePath(L"b.txt"), L"");
  EXPECT_TRUE(DosDateTimeValid(0x5A21, 0x6000));
  EXPECT_FALSE(DosDateTimeValid(0x0000, 0x0000));           // month 0
  EXPECT_TRUE(DosDateTimeValid(0x5A3F, 0x0000));            // January 31 is fine ...
  EXPECT_FALSE(DosDateTimeValid(0x5A5E, 0x0000));           // ... February 30 is not
  EXPECT_FALSE(DosDateTimeValid(0x5A21, 0xC000));           // hour 24
}

// Archives made by Info-ZIP zip, 7-Zip, bsdtar and Python's zipfile: every file of the tree comes
// out with its content. Info-ZIP here writes UTF-8 names without flag bit 11, so those names read
// as code page 437.
TEST(ZipCore, ArchivesOfRealTools) {
  const std::filesystem::path data = ZipDataFolder();
  const std::filesystem::path tree = data / "tree";
  ASSERT_TRUE(std::filesystem::is_directory(tree)) << tree;
  const struct {
    const char* File;
    bool Cp437Names;
    const wchar_t* Prefix;
  } archives[] = {
      {"infozip-stored.zip", true, L""}, {"infozip-deflate.zip", true, L""}, {"infozip-zip64.zip", true, L""},
      {"infozip-comment.zip", true, L""}, {"7z.zip", false, L""},             {"bsdtar.zip", false, L".\\"},
      {"python.zip", false, L""},
  };
  for (const auto& a : archives) {
    const std::string archive = ReadWholeFile(data / "archives" / a.File);
    ASSERT_FALSE(archive.empty()) << a.File;
    TRecordingOutput out;
    EXPECT_EQ(Extract(archive, out), L"") << a.File;
    size_t files = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(tree)) {
      if (!f.is_regular_file()) continue;
      ++files;
      const std::string relative = f.path().lexically_relative(tree).generic_string();
      std::wstring name = a.Cp437Names ? DecodeCp437(relative) : *DecodeUtf8Strict(relative);
      for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
      name = a.Prefix + name;
      ASSERT_EQ(out.Files.count(name), 1u) << a.File << " " << relative;
      EXPECT_EQ(out.Files[name], ReadWholeFile(f.path())) << a.File << " " << relative;
    }
    EXPECT_EQ(out.Files.size(), files) << a.File;
  }
  TRecordingOutput out;
  EXPECT_EQ(Extract(ReadWholeFile(data / "archives" / "empty.zip"), out), L"");
  EXPECT_TRUE(out.Events.empty());
}
}  // namespace
