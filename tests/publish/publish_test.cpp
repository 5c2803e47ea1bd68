// The publisher's command: what pack writes, and what check finds in a release folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <string>
#include <vector>

#include "publish/entry_list.h"
#include "publish/files.h"
#include "publish/pack.h"
#include "publish/release_check.h"
#include "publish/sha256.h"
#include "system/errors.h"
#include "system/pe_builder.h"
#include "system/text.h"
#include "system/zip_core.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fs = std::filesystem;

namespace {

const std::string kNotes = "Что нового: быстрее.\n";

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

fs::path U8(const char* text) { return fs::path(reinterpret_cast<const char8_t*>(text)); }

// A folder of its own for each test, below the system's temporary folder.
class Publish : public ::testing::Test {
 public:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FRoot = fs::temp_directory_path() / ("morvane-publish-" + std::string(info->name()));
    fs::remove_all(FRoot);
    TPeBuild exe;
    exe.FileMS = 0x00020000;
    exe.FileLS = 0x00000001;
    WriteFile(Product() / "Tandrel.exe", BuildPe(exe));
    WriteFile(Product() / "TandrelAI.exe", "ai");
    WriteFile(Product() / "docs" / "readme.txt", "read me");
    WriteFile(Product() / U8("Данные") / U8("файл.txt"), "данные");
    WriteFile(FRoot / "notes.txt", kNotes);
    FOut = FRoot / "out";
  }
  void TearDown() override { fs::remove_all(FRoot); }

  fs::path Product() const { return FRoot / "product"; }
  fs::path Out() const { return FOut; }

  TReleaseFiles ReadRelease(const fs::path& dir) const {
    auto read = [](const fs::path& p) { return fs::exists(p) ? std::optional(ReadWholeFile(p)) : std::nullopt; };
    return {read(dir / "version.txt"), read(dir / "Changes.txt"), read(dir / "Tandrel.zip")};
  }

  fs::path FRoot, FOut;
};

TZipBuildEntry Entry(const char* name, const std::string& data, uint16_t method = 0) {
  TZipBuildEntry entry;
  entry.Name = name;
  entry.Data = data;
  entry.Method = method;
  return entry;
}

TZipBuildEntry Utf8(TZipBuildEntry entry) {
  entry.Flags |= 0x0800;
  return entry;
}

std::string Describe(const std::vector<TFinding>& findings) {
  std::string text;
  for (const TFinding& f : findings) text += (f.Error ? "error: " : "warning: ") + EncodeUtf8(f.Text) + "\n";
  return text;
}

// The entries of an archive as the launcher's reader delivers them.
class TNames final : public TZipOutput {
 public:
  std::vector<TZipItem> Items;
  void MakeFolder(const TZipItem& item) override { Items.push_back(item); }
  void BeginFile(const TZipItem&) override {}
  void Write(const void*, size_t) override {}
  void CloseFile() override {}
  void FinishFile(const TZipItem&) override {}
};

TEST_F(Publish, PackWritesWhatCheckAccepts) {
  const TPackResult result = PackRelease(Product(), FRoot / "notes.txt", Out());
  EXPECT_EQ(Describe(result.Findings), "");
  ASSERT_TRUE(result.Written);
  const TReleaseFiles files = ReadRelease(Out());
  EXPECT_EQ(Describe(CheckRelease(files)), "");
  EXPECT_EQ(*files.Version, "2.0.0.1");
  EXPECT_EQ(*files.Changes, "\xEF\xBB\xBF" + kNotes);  // the mark makes every launcher read UTF-8

  TMemoryZipSource source(*files.Archive);
  TNames names;
  ExtractZip(source, names);
  std::vector<std::wstring> order;
  for (const TZipItem& item : names.Items) {
    order.push_back(item.Name);
    EXPECT_TRUE(item.Flags & 0x0800) << item.RawName;
    EXPECT_EQ(item.Method, item.IsFolder() ? 0 : 8) << item.RawName;
    EXPECT_TRUE(DosDateTimeValid(item.DosDate, item.DosTime)) << item.RawName;
  }
  const std::vector<std::wstring> expected = {L"TandrelAI.exe", L"docs\\", L"docs\\readme.txt",
                                              L"Данные\\", L"Данные\\файл.txt", L"Tandrel.exe"};
  EXPECT_EQ(order, expected);
  // The summary tells what was written.
  EXPECT_EQ(result.Version, L"2.0.0.1");
  EXPECT_EQ(result.Entries, expected.size());
  EXPECT_EQ(result.ArchiveSize, files.Archive->size());
  EXPECT_EQ(result.Sha256, Sha256Hex(*files.Archive));
  const std::vector<std::string> written = {"Tandrel.zip", "Tandrel.zip.files", "Changes.txt", "version.txt"};
  EXPECT_EQ(result.Files, written);
  EXPECT_TRUE(result.Unwritten.empty());
  // The same folder packs into the same bytes, and the staging folder is gone.
  PackRelease(Product(), FRoot / "notes.txt", FRoot / "again");
  EXPECT_EQ(ReadWholeFile(FRoot / "again" / "Tandrel.zip"), *files.Archive);
  const std::vector<fs::path> left(fs::directory_iterator(FRoot), fs::directory_iterator{});
  EXPECT_EQ(left.size(), 4u);  // product, notes.txt, out, again
}

// Each case spoils the product folder in one way; pack refuses with the name and the reason,
// and the good release already in OUT_DIR stays as it was.
TEST_F(Publish, PackRefusesWhatTheLauncherCouldNotInstall) {
  struct Case {
    const char* What;
    std::function<void(Publish&)> Spoil;
    const char* Says;
  } cases[] = {
      {"no Tandrel.exe", [](Publish& t) { fs::remove(t.Product() / "Tandrel.exe"); }, "No Tandrel.exe"},
      {"no version resource", [](Publish& t) { WriteFile(t.Product() / "Tandrel.exe", "MZ"); }, "no version resource"},
      {"notes in a code page", [](Publish& t) { WriteFile(t.FRoot / "notes.txt", "\xcd\xee\xe2\xee\xe5"); },
       "ANSI code page"},
      {"notes holding U+FFFD", [](Publish& t) { WriteFile(t.FRoot / "notes.txt", "\xEF\xBF\xBD"); }, "ANSI code page"},
      {"notes missing", [](Publish& t) { fs::remove(t.FRoot / "notes.txt"); }, "notes.txt\". "},
      {"notes a folder", [](Publish& t) { fs::remove(t.FRoot / "notes.txt"); fs::create_directory(t.FRoot / "notes.txt"); },
       "notes.txt\". It is a folder"},
      {"product missing", [](Publish& t) { fs::remove_all(t.Product()); }, "product\". "},
      {"the uninstaller's name", [](Publish& t) { WriteFile(t.Product() / "Uninstall Tandrel.exe", "x"); },
       "Name reserved for the installation in archive: Uninstall Tandrel.exe"},
      {"OUT_DIR inside PRODUCT_DIR", [](Publish& t) { t.FOut = t.Product() / "release"; }, "inside the product folder"},
      {"OUT_DIR is PRODUCT_DIR", [](Publish& t) { t.FOut = t.Product() / "docs" / ".."; }, "inside the product folder"},
      {"a path too long below a user profile",
       [](Publish& t) { WriteFile(t.Product() / std::string(120, 'a') / std::string(100, 'b'), "x"); },
       "the path is 221 characters long: installed below C:\\Users\\<user>\\AppData\\Local\\Tandrel\\ it passes "
       "Windows' path limit for user folder names longer than 6 characters"},
#ifndef _WIN32  // links and names Windows itself would not let exist
      {"Cyrillic names differing in case",
       [](Publish& t) { WriteFile(t.Product() / U8("Данные") / U8("ФАЙЛ.txt"), "x"); },
       "\"Данные/файл.txt\": the launcher refuses it: \"Names differ only in letter case in archive: "
       "Данные\\ФАЙЛ.txt, Данные\\файл.txt\""},
      {"a name ending with a dot", [](Publish& t) { WriteFile(t.Product() / "docs" / "notes.", "x"); },
       "\"docs/notes.\": its part \"notes.\" ends with a dot"},
      {"link to a file inside",
       [](Publish& t) { fs::create_symlink("docs/readme.txt", t.Product() / "README.txt"); },
       "\"README.txt\": a link to \"docs/readme.txt\""},
      {"link out of the product folder",
       [](Publish& t) {
         WriteFile(t.FRoot / "LICENSE.txt", "x");
         fs::create_symlink("../../LICENSE.txt", t.Product() / "docs" / "LICENSE.txt");
       },
       "\"docs/LICENSE.txt\": a link to \"../../LICENSE.txt\""},
      {"linked Tandrel.exe",
       [](Publish& t) {
         fs::rename(t.Product() / "Tandrel.exe", t.FRoot / "Tandrel.exe");
         fs::create_symlink(t.FRoot / "Tandrel.exe", t.Product() / "Tandrel.exe");
       },
       "\"Tandrel.exe\": a link"},
      {"linked folder", [](Publish& t) { fs::create_directory_symlink("docs", t.Product() / "more"); }, "\"more\": a link"},
      {"question mark", [](Publish& t) { WriteFile(t.Product() / "what?.txt", "x"); }, "\"what?.txt\": it holds \"?\""},
      {"asterisk", [](Publish& t) { WriteFile(t.Product() / "docs" / "*.txt", "x"); }, "it holds \"*\""},
      {"device name", [](Publish& t) { WriteFile(t.Product() / "docs" / "con.txt", "x"); }, "is a device name"},
      {"device name as a folder", [](Publish& t) { WriteFile(t.Product() / "x" / "COM1", "x"); },
       "\"x/COM1\": its part \"COM1\" is a device name"},
      {"stream colon", [](Publish& t) { WriteFile(t.Product() / "a:b", "x"); }, "\"a:b\": it holds \":\""},
      {"pipe", [](Publish& t) { WriteFile(t.Product() / "a|b", "x"); }, "it holds \"|\""},
      {"backslash", [](Publish& t) { WriteFile(t.Product() / "a\\b", "x"); }, "folder separator"},
      {"not UTF-8", [](Publish& t) { WriteFile(t.Product() / "caf\xe9", "x"); }, "the name is not UTF-8"},
      {"file and folder differing in case", [](Publish& t) { WriteFile(t.Product() / "DOCS", "x"); },
       "\"docs/\": the launcher refuses it: \"Name is both a file and a folder in archive: docs\\\""},
      {"not a file", [](Publish& t) { mkfifo((t.Product() / "pipe").c_str(), 0600); }, "neither a file nor a folder"},
#endif
  };
  const fs::path saved = FRoot.parent_path() / (FRoot.filename().string() + "-good");
  fs::remove_all(saved);
  ASSERT_TRUE(PackRelease(Product(), FRoot / "notes.txt", saved).Written);
  const TReleaseFiles good = ReadRelease(saved);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SetUp();
    fs::copy(saved, Out());
    c.Spoil(*this);
    try {
      PackRelease(Product(), FRoot / "notes.txt", Out());
      ADD_FAILURE() << "packed";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.Says), std::string::npos) << e.what();
    }
    const TReleaseFiles now = ReadRelease(FRoot / "out");
    EXPECT_EQ(now.Archive, good.Archive);
    EXPECT_EQ(now.Version, good.Version);
    EXPECT_EQ(now.Changes, good.Changes);
    EXPECT_FALSE(fs::exists(FRoot / ".out.pack"));
  }
  fs::remove_all(saved);
}

// The check runs on the new release before OUT_DIR changes; a step may add a file of its own.
TEST_F(Publish, PackReplacesOutDirOnlyAfterItsCheck) {
  ASSERT_TRUE(PackRelease(Product(), FRoot / "notes.txt", Out()).Written);
  const TReleaseFiles before = ReadRelease(Out());
  WriteFile(Out() / "Tandrel-old.zip", "old");

  // A step that spoils the release: the check refuses it and OUT_DIR stays as it was.
  WriteFile(Product() / "docs" / "new.txt", "new");
  const TPackResult refused = PackRelease(Product(), FRoot / "notes.txt", Out(), [](const fs::path& staging, auto&) {
    WriteWholeFile(staging / "version.txt", "9.9");
  });
  EXPECT_FALSE(refused.Written);
  EXPECT_NE(Describe(refused.Findings).find("error: version.txt: says 9.9, but Tandrel.exe in the archive is 2.0.0.1"),
            std::string::npos)
      << Describe(refused.Findings);
  EXPECT_EQ(ReadRelease(Out()).Archive, before.Archive);
  EXPECT_EQ(ReadRelease(Out()).Version, before.Version);

  // A step that adds a file: it moves into OUT_DIR with the others; a file pack did not write is named.
  const TPackResult written = PackRelease(Product(), FRoot / "notes.txt", Out(), [](const fs::path& staging, auto& files) {
    WriteWholeFile(staging / "Tandrel.zip.sig", "signature");
    files.push_back("Tandrel.zip.sig");
  });
  ASSERT_TRUE(written.Written) << Describe(written.Findings);
  EXPECT_EQ(written.Files.back(), "version.txt");
  EXPECT_EQ(ReadWholeFile(Out() / "Tandrel.zip.sig"), "signature");
  EXPECT_NE(ReadRelease(Out()).Archive, before.Archive);
  EXPECT_EQ(written.Unwritten, std::vector<fs::path>{Out() / "Tandrel-old.zip"});
  EXPECT_FALSE(fs::exists(FRoot / ".out.pack"));

  // A file that cannot be replaced is named with the reason and with what was replaced before it.
  fs::remove(Out() / "version.txt");
  fs::create_directories(Out() / "version.txt" / "x");
  try {
    PackRelease(Product(), FRoot / "notes.txt", Out());
    ADD_FAILURE() << "replaced";
  } catch (const Exception& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("Cannot replace file \"" + (Out() / "version.txt").string() + "\". "), std::string::npos) << text;
    EXPECT_NE(text.find("(replaced already: Tandrel.zip Tandrel.zip.files Changes.txt;"), std::string::npos) << text;
  }
  EXPECT_FALSE(fs::exists(FRoot / ".out.pack"));
}

// The record pack writes beside the archive names every entry where the launcher's reader finds
// it, with the SHA-256 of exactly the bytes extraction writes; check holds it to the archive.
TEST_F(Publish, EntryRecordDescribesTheArchiveAndCheckHoldsItToIt) {
  ASSERT_TRUE(PackRelease(Product(), FRoot / "notes.txt", Out()).Written);
  const std::string archive = ReadWholeFile(Out() / "Tandrel.zip");
  const std::string text = ReadWholeFile(Out() / "Tandrel.zip.files");
  std::string reason;
  const std::optional<TEntryRecord> record = ParseEntryRecord(text, &reason);
  ASSERT_TRUE(record) << reason;
  EXPECT_TRUE(record->Signature.empty());
  EXPECT_EQ(record->ArchiveSize, archive.size());
  EXPECT_EQ(Widen(record->ArchiveSha256), Sha256Hex(archive));
  TMemoryZipSource source(archive);
  uint64_t directory = 0;
  std::vector<TZipItem> items = ReadZipDirectory(source, &directory);
  EXPECT_EQ(record->DirectoryOffset, directory);
  EXPECT_EQ(RecordMismatch(*record, items), std::nullopt);
  ASSERT_EQ(record->Entries.size(), 6u);
  // Each local record lies whole in the archive, and its content's hash is the file's own.
  const std::map<std::string, std::string> contents = {
      {"TandrelAI.exe", "ai"}, {"docs/", ""}, {"docs/readme.txt", "read me"}, {"Данные/", ""}, {"Данные/файл.txt", "данные"}};
  for (const TRecordedEntry& e : record->Entries) {
    EXPECT_EQ(Widen(e.Sha256), Sha256Hex(archive.substr(e.Offset, e.Length))) << e.Name;
    if (contents.count(e.Name)) {
      EXPECT_EQ(Widen(e.ContentSha256), Sha256Hex(contents.at(e.Name))) << e.Name;
    }
  }
  EXPECT_EQ(Widen(record->Entries.back().ContentSha256), Sha256Hex(ReadWholeFile(Product() / "Tandrel.exe")));
  EXPECT_EQ(Describe(CheckReleaseFolder(Out())), "");

  auto edited = [&](const std::string& from, const std::string& to) {
    std::string changed = text;
    const size_t at = changed.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) changed.replace(at, from.size(), to);
    return changed;
  };
  const TRecordedEntry& readme = record->Entries[2];
  const std::string readmeContent = readme.ContentSha256;
  TEntryRecord moved = *record;
  moved.Entries[2].Offset += 1;
  moved.Entries[2].Length -= 1;
  struct Case {
    const char* name;
    std::string record;      // empty: the record as packed
    std::string archive;     // empty: the archive as packed
    std::string finding;
  } cases[] = {
      {"malformed", edited("morvane-files 1", "morvane-files 9"), "", "malformed"},
      {"content hash of another file", edited(readmeContent, std::string(64, '0')), "",
       "\"docs/readme.txt\": its content is not what the record says"},
      {"an entry elsewhere", FormatEntryRecord(moved), "", "\"docs/readme.txt\": its bytes in Tandrel.zip are not where"},
      {"another name", edited(" docs/readme.txt\n", " docs/README.txt\n"), "", "entry 3 is named \"docs/README.txt\""},
      // The first entry's time changed: an archive as good, but not the one recorded.
      {"record of another archive", "", archive.substr(0, 10) + "\x01" + archive.substr(11), "made for another Tandrel.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(Out() / "Tandrel.zip.files", c.record.empty() ? text : c.record);
    WriteWholeFile(Out() / "Tandrel.zip", c.archive.empty() ? archive : c.archive);
    const std::string found = Describe(CheckReleaseFolder(Out()));
    EXPECT_NE(found.find("error: Tandrel.zip.files: " + c.finding), std::string::npos) << found;
  }
  // A folder without a record is a release as before: launchers download the whole archive.
  WriteWholeFile(Out() / "Tandrel.zip", archive);
  fs::remove(Out() / "Tandrel.zip.files");
  EXPECT_EQ(Describe(CheckReleaseFolder(Out())), "");
}

#ifndef _WIN32
// The entry count is judged from the listing, before anything is compressed.
TEST_F(Publish, PackRefusesTooManyEntriesBeforeCompressing) {
  fs::create_directories(Product() / "many");
  for (int i = 0; i < 65530; ++i) std::ofstream(Product() / "many" / std::to_string(i));
  try {
    ListProduct(Product());
    ADD_FAILURE() << "listed";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("65,537 files and folders"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("at most 65,534 entries"), std::string::npos) << e.what();
  }
}
#endif

// Each fixture spoils one thing of a good release folder; check reports it, and nothing else.
TEST(Check, FindsEachFaultOfAReleaseFolder) {
  TPeBuild v2;
  v2.FileMS = 0x00020000;
  v2.FileLS = 0;
  const std::string exe = BuildPe(v2);
  const std::vector<TZipBuildEntry> good = {
      Entry("docs/", ""), Entry("docs/a.txt", "notes", 8), Entry("Tandrel.exe", exe, 8)};
  auto with = [](std::vector<TZipBuildEntry> entries, auto change) {
    change(entries);
    return BuildZip(entries);
  };
  const TReleaseFiles base{std::string("2.0.0.0\r\n"), std::string("Новое"), BuildZip(good)};
  struct Case {
    const char* What;
    TReleaseFiles Files;
    bool Error;
    const char* Says;
  } cases[] = {
      {"version.txt missing", {std::nullopt, base.Changes, base.Archive}, true, "version.txt: missing"},
      {"version.txt blank", {std::string(" \r\n"), base.Changes, base.Archive}, true, "version.txt: blank"},
      {"version.txt unparsable", {std::string("2.0b"), base.Changes, base.Archive}, true, "is not a version"},
      {"version.txt not UTF-8", {std::string("2.0\xff"), base.Changes, base.Archive}, true, "not UTF-8"},
      {"version.txt newer", {std::string("2.0.0.1"), base.Changes, base.Archive}, true, "at every start"},
      {"version.txt older", {std::string("1.9"), base.Changes, base.Archive}, true, "never be offered"},
      {"no version resource", {base.Version, base.Changes, with(good, [](auto& e) { e[2].Data = "MZ"; })}, true,
       "no version resource"},
      {"archive missing", {base.Version, base.Changes, std::nullopt}, true, "Tandrel.zip: missing"},
      {"not an archive", {base.Version, base.Changes, std::string("hello")}, true, "Error reading zip file"},
      {"central signature", {base.Version, base.Changes, with(good, [](auto& e) { e[1].BadCentralSignature = true; })},
       true, "Invalid Zip Central Header signature"},
      {"local signature", {base.Version, base.Changes, with(good, [](auto& e) { e[1].BadLocalSignature = true; })},
       true, "Invalid Zip Local Header signature"},
      {"CRC", {base.Version, base.Changes, with(good, [](auto& e) { e[1].BadCrc = true; })}, true,
       "\"docs\\a.txt\": the launcher fails with \"Error reading zip file\": its CRC-32 does not match"},
      {"cut short", {base.Version, base.Changes, base.Archive->substr(0, base.Archive->size() - 10)}, true,
       "\"Error reading zip file\": no zip directory at its end: it is not a zip archive, or it is cut short"},
      {"empty archive", {base.Version, base.Changes, std::string()}, true, "\"Stream read error\": the file is empty"},
      {"bzip2", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Method = 12; })}, true,
       "\"docs\\a.txt\": compressed with BZip2 (method 12): the launcher reads only stored and deflate"},
      {"Deflate64", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Method = 9; })}, true,
       "compressed with Deflate64 (method 9)"},
      {"unknown method", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Method = 77; })}, true,
       "compressed with method 77:"},
      {"encrypted", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Flags |= 1; })}, true,
       "\"docs\\a.txt\": encrypted: the launcher cannot decrypt it"},
      {"encrypted with AES",
       {base.Version, base.Changes, with(good, [](auto& e) { e[1].Flags |= 1, e[1].Method = 99; })}, true,
       "encrypted with AES"},
      {"LZMA", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Method = 14; })}, true, "Item not found"},
      {"unsafe name", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "../a.txt"; })}, true,
       "Unsafe path in archive"},
      {"invalid name", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/a|b.txt"; })}, true,
       "Invalid characters in path"},
      {"duplicate name",
       {base.Version, base.Changes, with(good, [](auto& e) { e.insert(e.begin() + 2, Entry("docs/a.txt", "x")); })}, true,
       "\"docs\\a.txt\": the launcher refuses it: \"Duplicate name in archive: docs\\a.txt\""},
      {"names differing in case",
       {base.Version, base.Changes, with(good, [](auto& e) { e.insert(e.begin() + 2, Entry("DOCS/A.txt", "x")); })}, true,
       "\"DOCS\\A.txt\": the launcher refuses it: \"Names differ only in letter case in archive: docs\\a.txt, DOCS\\A.txt\""},
      {"Cyrillic names differing in case",
       {base.Version, base.Changes,
        with(good, [](auto& e) { e.insert(e.begin(), {Utf8(Entry("Данные.txt", "x")), Utf8(Entry("ДАННЫЕ.txt", "y"))}); })},
       true, "\"ДАННЫЕ.txt\": the launcher refuses it: \"Names differ only in letter case in archive: Данные.txt, ДАННЫЕ.txt\""},
      {"file where a folder goes",
       {base.Version, base.Changes, with(good, [](auto& e) { e.insert(e.begin() + 2, Entry("docs/a.txt/b", "x")); })},
       true, "\"docs\\a.txt\\b\": the launcher refuses it: \"Name is both a file and a folder in archive"},
      {"question mark", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/a?.txt"; })}, true,
       "\"docs\\a?.txt\": it holds \"?\", which Windows does not allow"},
      {"asterisk", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/*.txt"; })}, true,
       "it holds \"*\""},
      {"empty folder part", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs//a.txt"; })}, true,
       "it has an empty folder part"},
      {"file named dot", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/."; })}, true,
       "\"docs\\.\": it is a file named \".\""},
      {"same name with a dot part",
       {base.Version, base.Changes, with(good, [](auto& e) { e.insert(e.begin() + 2, Entry("./docs/a.txt", "x")); })},
       true, "\".\\docs\\a.txt\": the launcher refuses it: \"Duplicate name in archive"},
      {"device name", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "x/COM1"; })}, true,
       "\"x\\COM1\": its part \"COM1\" is a device name on Windows (CON, NUL, COM1...): no file can have it (the "
       "launcher: \"Unsafe path in archive: x\\COM1\")"},
      {"half a surrogate pair",
       {base.Version, base.Changes, with(good, [](auto& e) { e[1] = Utf8(Entry("docs/\xED\xA0\xBD.txt", "x")); })},
       true, "it holds half of a UTF-16 surrogate pair, which no UTF-8 text can keep"},
      {"path too long for every user",
       {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/" + std::string(230, 'a'); })}, true,
       "the path is 235 characters long: installed below C:\\Users\\<user>\\AppData\\Local\\Tandrel\\ it passes "
       "Windows' path limit for every user"},
      {"path too long for some users",
       {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/" + std::string(210, 'a'); })}, true,
       "for user folder names longer than 12 characters"},
      {"path near the limit",
       {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/" + std::string(175, 'a'); })}, false,
       "it passes Windows' path limit for user folder names longer than 47 characters"},
      {"name without the UTF-8 flag",
       {base.Version, base.Changes, with(good, [](auto& e) { e.insert(e.begin(), Entry("Документы.txt", "x")); })},
       false, "\"╨ö╨╛╨║╤â╨╝╨╡╨╜╤é╤ï.txt\": the name is not marked as UTF-8, so users get it in code page 437 as "
              "shown here, not \"Документы.txt\""},
      {"read-only file",
       {base.Version, base.Changes, with(good, [](auto& e) { e[1].MadeBy = 0x0014, e[1].ExternalAttributes = 0x21; })},
       false, "\"docs\\a.txt\": read-only: installed so, it stops the next update"},
      {"no Tandrel.exe", {base.Version, base.Changes, with(good, [](auto& e) { e.pop_back(); })}, true,
       "no Tandrel.exe at the root"},
      {"Tandrel.exe in a folder",
       {base.Version, base.Changes, with(good, [](auto& e) { e[2].Name = "docs/Tandrel.exe"; })}, true,
       "no Tandrel.exe at the root"},
      {"Tandrel.exe early", {base.Version, base.Changes, with(good, [](auto& e) { std::swap(e[0], e[2]); })}, false,
       "not the last entry"},
      {"Changes.txt missing", {base.Version, std::nullopt, base.Archive}, false, "Changes.txt: missing"},
      {"Changes.txt in a code page", {base.Version, std::string("\xcd\xee\xe2\xee\xe5"), base.Archive}, true,
       "ANSI code page"},
      {"Changes.txt broken after a mark", {base.Version, std::string("\xEF\xBB\xBF\xcd\xee"), base.Archive}, true,
       "No mapping for the Unicode character"},
      {"Changes.txt empty", {base.Version, std::string(""), base.Archive}, false, "Changes.txt: empty"},
      {"Changes.txt blank after a mark", {base.Version, std::string("\xEF\xBB\xBF \r\n"), base.Archive}, false,
       "Changes.txt: empty"},
      {"plain Changes.txt with markup", {base.Version, std::string("Новое:\r\n- a<b теперь работает\r\n"), base.Archive},
       false, "Changes.txt: plain text with \"<\" on line 2"},
      {"HTML Changes.txt in another charset",
       {base.Version, std::string("<html><head><meta charset=\"windows-1251\"></head><body>Новое</body></html>"),
        base.Archive},
       false, "declares the charset \"windows-1251\""},
      {"HTML Changes.txt with a meta tag but no charset",
       {base.Version,
        std::string("<!DOCTYPE html><html><head><meta name=\"viewport\" content=\"width=device-width\"></head>"
                    "<body>Новое</body></html>"),
        base.Archive},
       false, "a <meta> tag but no charset"},
  };
  EXPECT_EQ(Describe(CheckRelease(base)), "");
  // What looks odd but installs the same everywhere.
  const TReleaseFiles accepted[] = {
      {base.Version, base.Changes,
       with(good, [](auto& e) { e[1].Name = "docs/\x94.txt", e[1].LocalExtra = UnicodePathField("docs/\x94.txt", "docs/ü.txt"); })},
      {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "./docs/a.txt"; })},  // what bsdtar writes
      {base.Version, base.Changes, with(good, [](auto& e) { e[1].ExternalAttributes = 0x21; })},  // Unix host
      {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/" + std::string(160, 'a'); })},
      {base.Version, std::string("Новое: a & b, 1 > 0"), base.Archive},
      {base.Version, std::string("<html><head><meta charset=\"UTF-8\"></head><body>Новое</body></html>"), base.Archive},
      {base.Version, std::string("<html><head></head><body>Новое</body></html>"), base.Archive},
  };
  for (const TReleaseFiles& files : accepted) EXPECT_EQ(Describe(CheckRelease(files)), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::vector<TFinding> findings = CheckRelease(c.Files);
    ASSERT_EQ(findings.size(), 1u) << Describe(findings);
    EXPECT_EQ(findings[0].Error, c.Error);
    EXPECT_NE(EncodeUtf8(findings[0].Text).find(c.Says), std::string::npos) << Describe(findings);
  }
}

#ifndef _WIN32
// The command as a publisher runs it: exit code, and what goes to which stream.
struct TRun {
  int Exit = -1;
  std::string Out, Err;
  long PeakKiB = 0;  // the command's peak resident memory
};

TRun RunPublish(const fs::path& dir, const std::vector<std::string>& args) {
  const std::string helper = MORVANE_PEAK_MEMORY, program = MORVANE_PUBLISH_PROGRAM;
  const std::string peak = (dir / "peak").string();
  std::vector<char*> argv{const_cast<char*>(helper.c_str()), const_cast<char*>(peak.c_str()),
                          const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string out = (dir / "stdout").string(), err = (dir / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = 0;
  TRun run;
  const int started = posix_spawn(&child, helper.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) {
    ADD_FAILURE() << program << ": " << std::strerror(started);
    return run;
  }
  int status = 0;
  waitpid(child, &status, 0);
  run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.PeakKiB = std::stol(ReadWholeFile(peak));
  run.Out = ReadWholeFile(out);
  run.Err = ReadWholeFile(err);
  return run;
}

const std::string kKeys = MORVANE_TEST_KEYS_DIR;

std::string KeyLine(const char* name) {
  std::string line = ReadWholeFile(kKeys + name);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

TEST_F(Publish, CommandLine) {
  const std::string product = Product().string(), notes = (FRoot / "notes.txt").string(), out = Out().string();
  struct Case {
    std::vector<std::string> Args;
    int Exit;
    const char* Out;  // in standard output
    const char* Err;  // in standard error
  } cases[] = {
      {{"--help"}, 0, "morvane-publish pack [--key PRIVATE_KEY_FILE] PRODUCT_DIR NOTES OUT_DIR", ""},
      {{"help"}, 0, "morvane-publish check [--key PUBLIC_KEY_LINE] DIR", ""},
      {{"help", "keygen"}, 0, "an existing file is never replaced", ""},
      {{"help", "pack"}, 0, "replaced only\nwhen the check finds no error", ""},
      {{"check", "--help"}, 0, "usage: morvane-publish check [--key PUBLIC_KEY_LINE] DIR", ""},
      {{"pack", "--key"}, 2, "", "--key needs a value"},
      {{"keygen", "--key", "x", out}, 2, "", "unknown option \"--key\""},
      {{"check", out, "--key", "x"}, 2, "", "unknown option \"--key\""},
      {{}, 2, "", "no command given"},
      {{"publish"}, 2, "", "unknown command \"publish\""},
      {{"help", "publish"}, 2, "", "unknown command \"publish\""},
      {{"pack", product}, 2, "", "\"pack\" takes 3 arguments"},
      {{"check", out, "--fast"}, 2, "", "unknown option \"--fast\""},
      {{"check", (FRoot / "none").string()}, 1, "", "Cannot open folder \""},
      {{"pack", product, notes, out}, 0,
       "pack: wrote version 2.0.0.1 into " , ""},
      {{"pack", product, notes, out}, 0, "pack: 6 entries, 713 bytes of files; Tandrel.zip ", ""},
      {{"check", out}, 0, "check: ready to upload", ""},
      // Signed in the staging folder before the check, and checked with the public key.
      {{"pack", "--key", kKeys + "test.key", product, notes, out}, 0, "Tandrel.zip.sig, ", ""},
      {{"check", "--key", KeyLine("test.pub"), out}, 0, "check: ready to upload", ""},
      {{"check", "--key", KeyLine("other.pub"), out}, 1, "Tandrel.zip.sig: not signed by this key", ""},
      {{"pack", "--key", kKeys + "none.key", product, notes, out}, 1, "", "Cannot open file \""},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& arg : c.Args) line += " " + arg;
    SCOPED_TRACE(line);
    const TRun run = RunPublish(FRoot, c.Args);
    EXPECT_EQ(run.Exit, c.Exit);
    EXPECT_NE(run.Out.find(c.Out), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
    if (!*c.Out) EXPECT_EQ(run.Out, "");
    if (!*c.Err) EXPECT_EQ(run.Err, "");
  }
}

// A product with one large file packs and checks in pieces: the publisher's peak memory does not
// grow with the file (the file is sparse, so the test needs little disk).
TEST_F(Publish, PackStreamsLargeFiles) {
  const uint64_t size = 2ull << 30;
  {
    std::ofstream(Product() / "large.bin");
  }
  fs::resize_file(Product() / "large.bin", size);
  const TRun run = RunPublish(FRoot, {"pack", Product().string(), (FRoot / "notes.txt").string(), Out().string()});
  ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("2,147,48"), std::string::npos) << run.Out;
  EXPECT_LT(run.PeakKiB, 64 * 1024) << "peak memory of pack, KiB";
}

// Archives of a good product folder made by the usual tools are accepted (their entry order is
// their own, so Tandrel.exe may come early: a warning at most).
TEST_F(Publish, ArchivesOfTheUsualToolsPassTheCheck) {
  fs::create_directories(Out());
  WriteFile(Out() / "version.txt", "2.0.0.1\r\n");
  WriteFile(Out() / "Changes.txt", kNotes);
  const std::string product = Product().string(), zip = (Out() / "Tandrel.zip").string();
  const char* tools[] = {"zip -q -r -X '%z' .", "7z a -tzip -bd -bso0 '%z' .", "bsdtar --format zip -cf '%z' ."};
  for (const std::string tool : tools) {
    SCOPED_TRACE(tool);
    fs::remove(zip);
    std::string command = "cd '" + product + "' && " + tool;
    command.replace(command.find("%z"), 2, zip);
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const TFinding& f : CheckRelease(ReadRelease(Out()))) EXPECT_FALSE(f.Error) << EncodeUtf8(f.Text);
  }
}
#endif

}  // namespace
