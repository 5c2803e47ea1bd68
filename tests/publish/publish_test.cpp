// The publisher's command: what pack writes, and what check finds in a release folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "publish/pack.h"
#include "publish/release_check.h"
#include "system/errors.h"
#include "system/pe_builder.h"
#include "system/text.h"
#include "system/zip_core.h"

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
  }
  void TearDown() override { fs::remove_all(FRoot); }

  fs::path Product() const { return FRoot / "product"; }
  fs::path Out() const { return FRoot / "out"; }

  TReleaseFiles ReadRelease(const fs::path& dir) const {
    auto read = [](const fs::path& p) { return fs::exists(p) ? std::optional(ReadWholeFile(p)) : std::nullopt; };
    return {read(dir / "version.txt"), read(dir / "Changes.txt"), read(dir / "Tandrel.zip")};
  }

  fs::path FRoot;
};

TZipBuildEntry Entry(const char* name, const std::string& data, uint16_t method = 0) {
  TZipBuildEntry entry;
  entry.Name = name;
  entry.Data = data;
  entry.Method = method;
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
  PackRelease(Product(), FRoot / "notes.txt", Out());
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
  // The same folder packs into the same bytes.
  EXPECT_EQ(BuildArchive(ListProduct(Product())), *files.Archive);
}

TEST_F(Publish, PackRefusesWhatTheLauncherCouldNotInstall) {
  struct Case {
    const char* What;
    std::function<void(Publish&)> Spoil;
  } cases[] = {
      {"no Tandrel.exe", [](Publish& t) { fs::remove(t.Product() / "Tandrel.exe"); }},
      {"no version resource", [](Publish& t) { WriteFile(t.Product() / "Tandrel.exe", "MZ"); }},
      {"notes in a code page", [](Publish& t) { WriteFile(t.FRoot / "notes.txt", "\xcd\xee\xe2\xee\xe5"); }},
      {"notes holding U+FFFD", [](Publish& t) { WriteFile(t.FRoot / "notes.txt", "\xEF\xBF\xBD"); }},
#ifndef _WIN32  // names Windows itself would not let exist
      {"device name", [](Publish& t) { WriteFile(t.Product() / "docs" / "con.txt", "x"); }},
      {"stream colon", [](Publish& t) { WriteFile(t.Product() / "a:b", "x"); }},
      {"pipe", [](Publish& t) { WriteFile(t.Product() / "a|b", "x"); }},
      {"backslash", [](Publish& t) { WriteFile(t.Product() / "a\\b", "x"); }},
      {"not UTF-8", [](Publish& t) { WriteFile(t.Product() / "\xff.txt", "x"); }},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SetUp();
    c.Spoil(*this);
    EXPECT_THROW(PackRelease(Product(), FRoot / "notes.txt", Out()), Exception);
    EXPECT_FALSE(fs::exists(Out() / "version.txt"));
  }
}

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
       "Error reading zip file (at the entry \"docs\\a.txt\")"},
      {"bzip2", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Method = 12; })}, true,
       "Item not found (at the entry \"docs\\a.txt\", compressed with method 12"},
      {"LZMA", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Method = 14; })}, true, "Item not found"},
      {"unsafe name", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "../a.txt"; })}, true,
       "Unsafe path in archive"},
      {"invalid name", {base.Version, base.Changes, with(good, [](auto& e) { e[1].Name = "docs/a|b.txt"; })}, true,
       "Invalid characters in path"},
      {"duplicate name",
       {base.Version, base.Changes, with(good, [](auto& e) { e.insert(e.begin() + 2, Entry("DOCS/A.txt", "x")); })}, true,
       "Names differ only in letter case in archive: docs\\a.txt, DOCS\\A.txt"},
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
  };
  EXPECT_EQ(Describe(CheckRelease(base)), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::vector<TFinding> findings = CheckRelease(c.Files);
    ASSERT_EQ(findings.size(), 1u) << Describe(findings);
    EXPECT_EQ(findings[0].Error, c.Error);
    EXPECT_NE(EncodeUtf8(findings[0].Text).find(c.Says), std::string::npos) << Describe(findings);
  }
}

#ifndef _WIN32
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
