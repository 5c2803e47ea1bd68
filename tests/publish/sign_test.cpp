// The publisher's key and signature: keygen's file, signatures that verify across libcrypto and
// CNG, and what `check --key` finds in a release folder.
#include "publish/sign.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "publish/entry_list.h"
#include "publish/files.h"
#include "publish/sha256.h"
#include "publish/pack.h"
#include "system/errors.h"
#include "system/entry_record.h"
#include "system/release_statement.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const fs::path kKeys = fs::path("Z:" MORVANE_TEST_KEYS_DIR);
#else
const fs::path kKeys = fs::path(MORVANE_TEST_KEYS_DIR);
#endif

std::string KeyLine(const char* name) {
  std::string line = ReadWholeFile(kKeys / name);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class Signing : public ::testing::Test {
 public:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FRoot = fs::temp_directory_path() / ("morvane-sign-" + std::string(info->name()));
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
  }
  void TearDown() override { fs::remove_all(FRoot); }
  fs::path FRoot;
};

TEST_F(Signing, KeygenWritesAnOwnerOnlyFileOnceAndPrintsItsPublicLine) {
  const fs::path file = FRoot / "release.key";
  const std::string line = GenerateKeyFile(file);
  const std::optional<std::string> point = ParsePublicKeyLine(line);
  ASSERT_TRUE(point);
  const TPublisherKey key = ReadPrivateKeyFile(file);
  EXPECT_EQ(key.Point, *point);
  EXPECT_TRUE(VerifyStatement(*point, "statement", SignStatement(key, "statement")));
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
  const std::string before = ReadWholeFile(file);
  EXPECT_THROW(GenerateKeyFile(file), Exception);
  EXPECT_EQ(ReadWholeFile(file), before);
  // Two keys are two keys.
  EXPECT_NE(GenerateKeyFile(FRoot / "second.key"), line);
}

TEST_F(Signing, DamagedPrivateKeyFilesAreRefused) {
  const std::string good = ReadWholeFile(kKeys / "test.key");
  for (const std::string& text : {std::string(), good.substr(0, 60), "ecdsa-p256:" + good.substr(19), KeyLine("test.pub")}) {
    WriteFile(FRoot / "bad.key", text);
    EXPECT_THROW(ReadPrivateKeyFile(FRoot / "bad.key"), Exception) << text;
  }
}

// libcrypto writes the two numbers of a signature as DER and CNG as r || s: the file carries
// r || s, so that each side reads the other's.
TEST_F(Signing, SignaturesOfLibcryptoAndCngVerifyOnEitherSide) {
  const std::string test = *ParsePublicKeyLine(KeyLine("test.pub")), other = *ParsePublicKeyLine(KeyLine("other.pub"));
  for (const char* fixture : {"signed-by-libcrypto.sig", "signed-by-cng.sig"}) {
    SCOPED_TRACE(fixture);
    const std::optional<TSignedStatement> parsed = ParseSignatureFile(ReadWholeFile(kKeys / fixture));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(VerifyStatement(test, parsed->SignedBytes, parsed->Signature));
    EXPECT_FALSE(VerifyStatement(other, parsed->SignedBytes, parsed->Signature));
    std::string edited = parsed->SignedBytes;
    edited[edited.find("2.0.0.0") + 6] = '1';
    EXPECT_FALSE(VerifyStatement(test, edited, parsed->Signature));
    std::string flipped = parsed->Signature;
    flipped[40] = static_cast<char>(flipped[40] ^ 1);
    EXPECT_FALSE(VerifyStatement(test, parsed->SignedBytes, flipped));
  }
  // This side's own signatures, many of them: r or s with leading zero bytes must keep their width.
  const TPublisherKey key = ReadPrivateKeyFile(kKeys / "test.key");
  for (int i = 0; i < 64; ++i) {
    const std::string message = "statement " + std::to_string(i);
    const std::string signature = SignStatement(key, message);
    ASSERT_EQ(signature.size(), 64u);
    ASSERT_TRUE(VerifyStatement(test, message, signature)) << i;
  }
  // A point off the curve verifies nothing.
  std::string offCurve = test;
  offCurve[63] = static_cast<char>(offCurve[63] ^ 1);
  const std::optional<TSignedStatement> parsed = ParseSignatureFile(ReadWholeFile(kKeys / "signed-by-cng.sig"));
  EXPECT_FALSE(VerifyStatement(offCurve, parsed->SignedBytes, parsed->Signature));
}

std::string Describe(const std::vector<TFinding>& findings) {
  std::string text;
  for (const TFinding& f : findings) text += (f.Error ? "error: " : "warning: ") + EncodeUtf8(f.Text) + "\n";
  return text;
}

TEST_F(Signing, CheckWithTheKeyFindsEveryChangeAfterSigning) {
  const fs::path dir = FRoot / "release";
  fs::create_directories(dir);
  WriteFile(dir / "Tandrel.zip", "archive bytes");
  WriteFile(dir / "version.txt", "\xEF\xBB\xBF" "2.0.0.0\r\n");
  WriteFile(dir / "Changes.txt", "notes");
  SignReleaseFolder(dir, ReadPrivateKeyFile(kKeys / "test.key"));
  const std::string signature = ReadWholeFile(dir / "Tandrel.zip.sig");
  EXPECT_NE(signature.find("version: 2.0.0.0\n"), std::string::npos);  // as the launcher reads version.txt
  const std::string test = KeyLine("test.pub");
  auto editSignature = [](const fs::path& d, const std::function<void(std::string&)>& edit) {
    std::string sig = ReadWholeFile(d / "Tandrel.zip.sig");
    edit(sig);
    WriteFile(d / "Tandrel.zip.sig", sig);
  };

  struct Case {
    const char* name;
    std::string key;
    std::function<void(const fs::path&)> change;
    std::string finding;  // empty: no finding
  } cases[] = {
      {"as signed", test, [](const fs::path&) {}, ""},
      {"unsigned", test, [](const fs::path& d) { fs::remove(d / "Tandrel.zip.sig"); }, "missing"},
      {"signed by another key", KeyLine("other.pub"), [](const fs::path&) {}, "not signed by this key"},
      {"version.txt edited after signing", test, [](const fs::path& d) { WriteFile(d / "version.txt", "2.0.0.1"); },
       "signed for the version"},
      {"archive swapped", test, [](const fs::path& d) { WriteFile(d / "Tandrel.zip", "other bytes!!"); },
       "Tandrel.zip is not the archive"},
      {"notes edited", test, [](const fs::path& d) { WriteFile(d / "Changes.txt", "other notes"); },
       "Changes.txt is not the notes"},
      {"statement edited", test,
       [&](const fs::path& d) { editSignature(d, [](std::string& sig) { sig.replace(sig.find("size: 13"), 8, "size: 14"); }); },
       "not signed by this key"},
      {"signature truncated", test,
       [&](const fs::path& d) { editSignature(d, [](std::string& sig) { sig.erase(sig.size() - 6, 4); }); }, "malformed"},
      {"malformed key line", "ecdsa-p256:QKQP", [](const fs::path&) {}, "not a key line"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path changed = FRoot / ("case" + std::to_string(n++));
    fs::copy(dir, changed);
    c.change(changed);
    const std::string found = Describe(CheckSignature(changed, c.key));
    if (c.finding.empty()) {
      EXPECT_EQ(found, "");
    } else {
      EXPECT_NE(found.find(c.finding), std::string::npos) << found;
    }
  }
}

TEST_F(Signing, EntryRecordIsSignedWithTheStatement) {
  // The record is signed only when it is the record of this very archive.
  const fs::path dir = FRoot / "release";
  fs::create_directories(dir);
  const std::string archive = "not a zip archive, but signed all the same";
  WriteFile(dir / "Tandrel.zip", archive);
  WriteFile(dir / "version.txt", "2.0.0.0");
  WriteFile(dir / "Changes.txt", "notes");
  TEntryRecord lined;
  lined.ArchiveSize = archive.size();
  lined.ArchiveSha256 = EncodeUtf8(Sha256Hex(archive));
  lined.DirectoryLength = archive.size();
  lined.DirectorySha256 = std::string(64, 'b');
  const std::string lines = FormatEntryRecord(lined);
  WriteFile(dir / "Tandrel.zip.files", lines);
  SignReleaseFolder(dir, ReadPrivateKeyFile(kKeys / "test.key"));
  const auto record = ParseEntryRecord(ReadWholeFile(dir / "Tandrel.zip.files"));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->SignedBytes, lines);
  const std::optional<std::string> point = ParsePublicKeyLine(KeyLine("test.pub"));
  ASSERT_TRUE(point);
  EXPECT_TRUE(VerifyStatement(*point, record->SignedBytes, record->Signature));
  EXPECT_EQ(Describe(CheckEntryRecordSignature(dir, *point)), "");
  const std::optional<std::string> other = ParsePublicKeyLine(KeyLine("other.pub"));
  EXPECT_NE(Describe(CheckEntryRecordSignature(dir, *other)).find("error: Tandrel.zip.files: not signed by this key"),
            std::string::npos);
  WriteFile(dir / "Tandrel.zip.files", lines);
  EXPECT_NE(Describe(CheckEntryRecordSignature(dir, *point)).find("warning: Tandrel.zip.files: not signed"),
            std::string::npos);
  // A record of another archive is not signed at all.
  WriteFile(dir / "Tandrel.zip", archive + "!");
  EXPECT_THROW(SignReleaseFolder(dir, ReadPrivateKeyFile(kKeys / "test.key")), Exception);
}

}  // namespace
