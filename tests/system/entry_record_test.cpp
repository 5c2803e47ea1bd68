// The record of where each entry of the release archive lies, read strictly: it comes from the
// cloud folder, and the launcher fetches and skips bytes by what it says.
#include "system/entry_record.h"

#include <gtest/gtest.h>

#include <string>

#include "system/errors.h"
#include "system/release_statement.h"

namespace {

const std::string kA(64, 'a'), kB(64, 'b'), kC(64, 'c');

// Two entries, a folder and a file, then the directory at 200 of an archive of 300 bytes.
TEntryRecord Sample() {
  TEntryRecord r;
  r.ArchiveSize = 300;
  r.ArchiveSha256 = kA;
  r.DirectoryOffset = 200;
  r.DirectoryLength = 100;
  r.DirectorySha256 = kB;
  r.Entries = {{0, 35, kC, 0, kA, "bin/"}, {35, 165, kB, 4096, kC, "bin/Tandrel data.dll"}};
  return r;
}

const std::string kSampleText =
    "morvane-files 1\n"
    "archive: 300 " + kA + "\n"
    "directory: 200 100 " + kB + "\n"
    "entry: 0 35 " + kC + " 0 " + kA + " bin/\n"
    "entry: 35 165 " + kB + " 4096 " + kC + " bin/Tandrel data.dll\n";

TEST(EntryRecord, ReadsBackWhatWasWrittenSignedOrNot) {
  EXPECT_EQ(FormatEntryRecord(Sample()), kSampleText);
  std::string reason;
  const auto unsignedRecord = ParseEntryRecord(kSampleText, &reason);
  ASSERT_TRUE(unsignedRecord) << reason;
  EXPECT_TRUE(unsignedRecord->Signature.empty());
  EXPECT_EQ(unsignedRecord->SignedBytes, kSampleText);
  ASSERT_EQ(unsignedRecord->Entries.size(), 2u);
  EXPECT_EQ(unsignedRecord->Entries[1].Name, "bin/Tandrel data.dll");  // the name keeps its blank
  EXPECT_EQ(unsignedRecord->Entries[1].Size, 4096u);
  EXPECT_TRUE(unsignedRecord->Entries[0].IsFolder());

  const std::string signature(64, '\x5A');
  const auto signedRecord = ParseEntryRecord(kSampleText + FormatEntryRecordSignature(signature), &reason);
  ASSERT_TRUE(signedRecord) << reason;
  EXPECT_EQ(signedRecord->Signature, signature);
  EXPECT_EQ(signedRecord->SignedBytes, kSampleText);  // the signature covers every line before it

  // Sizes past 4 GiB read as they are.
  TEntryRecord large = Sample();
  large.ArchiveSize = 6000000000;
  large.DirectoryOffset = large.ArchiveSize - 100;
  large.Entries[1].Length = large.DirectoryOffset - 35;
  const auto big = ParseEntryRecord(FormatEntryRecord(large));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->Entries[1].Length, 5999999865u);
}

TEST(EntryRecord, RefusesEveryOtherForm) {
  auto replaced = [](const std::string& from, const std::string& to) {
    std::string text = kSampleText;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string signature = FormatEntryRecordSignature(std::string(64, '\x5A'));
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"no final line end", kSampleText.substr(0, kSampleText.size() - 1)},
      {"CR LF line ends", replaced("morvane-files 1\n", "morvane-files 1\r\n")},
      {"another format version", replaced("morvane-files 1", "morvane-files 2")},
      {"header only", "morvane-files 1\n"},
      {"upper-case hex", replaced("archive: 300 " + kA, "archive: 300 " + std::string(64, 'A'))},
      {"short hash", replaced("archive: 300 " + kA, "archive: 300 " + kA.substr(1))},
      {"leading zero", replaced("entry: 35 165", "entry: 035 165")},
      {"sign", replaced("entry: 35 165", "entry: +35 165")},
      {"twenty digits", replaced("entry: 35 165", "entry: 35 16500000000000000000")},
      {"two blanks", replaced("entry: 35 165", "entry: 35  165")},
      {"no name", replaced(" bin/Tandrel data.dll", "")},
      {"control character in the name", replaced("Tandrel data", "Tandrel\tdata")},
      {"name not UTF-8", replaced("Tandrel data", "Tandrel \xC0\xAF")},
      {"unknown line", kSampleText + "comment: hi\n"},
      {"directory not at the end", replaced("directory: 200 100", "directory: 200 99")},
      {"directory shorter than its end record", replaced("directory: 200 100", "directory: 290 10")},
      {"entries overlap", replaced("entry: 35 165", "entry: 34 165")},
      {"entries out of order", replaced("entry: 0 35", "entry: 250 35")},
      {"entry reaches into the directory", replaced("entry: 35 165", "entry: 35 166")},
      {"entry shorter than its header", replaced("entry: 0 35", "entry: 0 33")},
      {"folder with a size", replaced(" 0 " + kA + " bin/", " 7 " + kA + " bin/")},
      {"signature not 64 bytes", kSampleText + "signature: AAAA\n"},
      {"line after the signature", kSampleText + signature + "entry: 0 35 " + kC + " 0 " + kA + " x/\n"},
      {"too large", kSampleText + std::string(kMaxEntryRecordFile, 'x') + "\n"},
  };
  for (const Case& c : cases) {
    std::string reason;
    EXPECT_FALSE(ParseEntryRecord(c.text, &reason)) << c.name;
    EXPECT_FALSE(reason.empty()) << c.name;
  }
}

TEST(EntryRecord, FormatRefusesWhatCouldNotBeReadBack) {
  TEntryRecord overlapping = Sample();
  overlapping.Entries[1].Offset = 30;
  TEntryRecord badName = Sample();
  badName.Entries[1].Name = "a\nb";
  TEntryRecord badHash = Sample();
  badHash.Entries[0].Sha256 = "x";
  for (const TEntryRecord* r : {&overlapping, &badName, &badHash}) EXPECT_THROW(FormatEntryRecord(*r), Exception);
}

TEST(EntryRecord, MatchesOnlyTheDirectoryItDescribes) {
  auto item = [](const char* name, uint64_t offset, uint64_t size, uint64_t packed) {
    TZipItem i;
    i.RawName = name;
    i.LocalHeaderOffset = offset;
    i.UncompressedSize = size;
    i.CompressedSize = packed;
    return i;
  };
  const std::vector<TZipItem> directory = {item("bin/", 0, 0, 0), item("bin/Tandrel data.dll", 35, 4096, 100)};
  EXPECT_EQ(RecordMismatch(Sample(), directory), std::nullopt);
  struct Case {
    const char* name;
    std::vector<TZipItem> directory;
  } cases[] = {
      {"an entry more", {directory[0], directory[1], item("x", 200, 1, 1)}},
      {"an entry less", {directory[0]}},
      {"another name", {directory[0], item("bin/Tandrel data.DLL", 35, 4096, 100)}},
      {"another offset", {directory[0], item("bin/Tandrel data.dll", 36, 4096, 100)}},
      {"another size", {directory[0], item("bin/Tandrel data.dll", 35, 4097, 100)}},
      {"data past the recorded length", {directory[0], item("bin/Tandrel data.dll", 35, 4096, 166)}},
      {"another order", {directory[1], directory[0]}},
  };
  for (const Case& c : cases) EXPECT_TRUE(RecordMismatch(Sample(), c.directory).has_value()) << c.name;
}

}  // namespace
