// The publisher's statement file and the public key line, read strictly: one form for one
// content, so that what is checked is exactly what was signed.
#include "system/release_statement.h"

#include <gtest/gtest.h>

#include <string>

#include "system/errors.h"

namespace {

const std::string kHashA(64, 'a');
const std::string kHashB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kSignature(64, '\x5A');

TReleaseStatement Sample() { return {"Tandrel", "2.0.0.0", 311940, kHashA, kHashB}; }

std::string SampleFile() { return FormatSignatureFile(FormatStatement(Sample()), kSignature); }

TEST(ReleaseStatement, ReadsBackWhatWasWrittenAndKeepsTheSignedBytes) {
  const std::string statement = FormatStatement(Sample());
  EXPECT_EQ(statement, "product: Tandrel\nversion: 2.0.0.0\nsize: 311940\nsha256: " + kHashA + "\nchanges-sha256: " +
                           kHashB + "\n");
  std::string reason;
  const auto parsed = ParseSignatureFile(SampleFile(), &reason);
  ASSERT_TRUE(parsed) << reason;
  EXPECT_EQ(parsed->SignedBytes, statement);
  EXPECT_EQ(parsed->Signature, kSignature);
  EXPECT_EQ(parsed->Statement.Product, "Tandrel");
  EXPECT_EQ(parsed->Statement.Version, "2.0.0.0");
  EXPECT_EQ(parsed->Statement.Size, 311940);
  EXPECT_EQ(parsed->Statement.Sha256, kHashA);
  EXPECT_EQ(parsed->Statement.ChangesSha256, kHashB);

  TReleaseStatement cyrillic = Sample();
  cyrillic.Version = "2.0 бета";
  const auto again = ParseSignatureFile(FormatSignatureFile(FormatStatement(cyrillic), kSignature));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Statement.Version, "2.0 бета");
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) ADD_FAILURE() << "no " << from;
  else text.replace(at, from.size(), to);
  return text;
}

TEST(ReleaseStatement, RefusesEveryOtherForm) {
  const std::string good = SampleFile();
  const std::string signatureLine = "signature: " + EncodeBase64(kSignature) + "\n";
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"empty", ""},
      {"byte-order mark", "\xEF\xBB\xBF" + good},
      {"CR LF line ends", Replace(Replace(good, "Tandrel\n", "Tandrel\r\n"), "0.0\n", "0.0\r\n")},
      {"no line end at the end", good.substr(0, good.size() - 1)},
      {"text after the signature", good + "comment: x\n"},
      {"an empty line after the signature", good + "\n"},
      {"a line missing", Replace(good, "size: 311940\n", "")},
      {"lines swapped", Replace(Replace(good, "product: Tandrel\n", ""), "size: 311940\n", "size: 311940\nproduct: Tandrel\n")},
      {"a line twice", Replace(good, "size: 311940\n", "size: 311940\nsize: 311940\n")},
      {"an unknown field", Replace(good, "product:", "produkt:")},
      {"name in capitals", Replace(good, "version:", "Version:")},
      {"no space after the colon", Replace(good, "size: ", "size:")},
      {"two spaces after the colon", Replace(good, "size: ", "size:  ")},
      {"a blank after the version", Replace(good, "2.0.0.0\n", "2.0.0.0 \n")},
      {"an empty version", Replace(good, "version: 2.0.0.0", "version: ")},
      {"a control character in the version", Replace(good, "2.0.0.0", "2.0\t0.0")},
      {"a version that is not UTF-8", Replace(good, "2.0.0.0", "2.0\xC3")},
      {"a version over 256 bytes", Replace(good, "2.0.0.0", std::string(257, '1'))},
      {"size with a leading zero", Replace(good, "size: 311940", "size: 0311940")},
      {"negative size", Replace(good, "size: 311940", "size: -1")},
      {"size with 16 digits", Replace(good, "size: 311940", "size: 1000000000000000")},
      {"upper-case hex", Replace(good, kHashB, "0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef")},
      {"short hash", Replace(good, kHashA, std::string(63, 'a'))},
      {"signature truncated", Replace(good, signatureLine, signatureLine.substr(0, 40) + "\n")},
      {"signature of 63 bytes", Replace(good, signatureLine, "signature: " + EncodeBase64(std::string(63, 'x')) + "\n")},
      {"signature without padding", Replace(good, "==\n", "\n")},
      {"signature in base64url", Replace(good, EncodeBase64(kSignature), EncodeBase64(std::string(64, '\xFB')).replace(0, 1, "-"))},
      {"larger than 4096 bytes", Replace(good, "2.0.0.0", std::string(200, '1')) + std::string(4000, 'x')},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_FALSE(ParseSignatureFile(c.file, &reason)) << c.name;
    EXPECT_FALSE(reason.empty()) << c.name;
  }
}

TEST(ReleaseStatement, WritesOnlyWhatItCanReadBack) {
  struct Case {
    const char* name;
    TReleaseStatement statement;
  } cases[] = {
      {"a line end in the version", {"Tandrel", "2.0\n", 1, kHashA, kHashB}},
      {"an empty version", {"Tandrel", "", 1, kHashA, kHashB}},
      {"negative size", {"Tandrel", "2.0", -1, kHashA, kHashB}},
      {"a hash in capitals", {"Tandrel", "2.0", 1, std::string(64, 'A'), kHashB}},
  };
  for (const auto& c : cases) EXPECT_THROW(FormatStatement(c.statement), Exception) << c.name;
}

TEST(Base64, OneCanonicalTextForEachByteString) {
  struct Case {
    std::string bytes, text;
  } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xFB\xFF", "+/8="}};
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeBase64(c.bytes), c.text);
    EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
  }
  // Bits a padded group leaves over, padding inside, a length not a multiple of 4, other alphabets.
  for (const char* text : {"Zh==", "Zm9=", "Zg==Zg==", "Zg=", "Z===", "Zm-v", "Zm_v", "Zm9v\n", " Zm9v"})
    EXPECT_FALSE(DecodeBase64(text)) << text;
}

TEST(PublicKeyLine, IsThePrefixAndTheBase64OfTheTwoCoordinates) {
  const std::string point(64, '\x11');
  const std::string line = FormatPublicKeyLine(point);
  EXPECT_EQ(line.size(), 99u);
  EXPECT_EQ(ParsePublicKeyLine(line), point);
  EXPECT_EQ(ParsePublicKeyLine("  " + line + "\r\n"), point);  // pasted with its line end
  const std::string encoded = line.substr(11);
  for (const std::string& bad : {std::string(), std::string("ecdsa-p256:"), std::string("ecdsa-p256:AAAA"), "ECDSA-P256:" + encoded,
                                 "ecdsa-p384:" + encoded, "ecdsa-p256: " + encoded, line + "AAAA",
                                 "ecdsa-p256:" + EncodeBase64("\x04" + point), line.substr(0, 98)})
    EXPECT_FALSE(ParsePublicKeyLine(bad)) << bad;
}

}  // namespace
