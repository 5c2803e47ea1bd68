#include "system/release_statement.h"

#include <array>

#include "system/errors.h"
#include "system/text.h"

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<const char*, 6> kFields = {"product", "version", "size", "sha256", "changes-sha256", "signature"};
constexpr size_t kMaxProduct = 64;
constexpr size_t kMaxSizeDigits = 15;
constexpr size_t kPointSize = 64, kSignatureSize = 64;

bool IsDecimal(std::string_view text) {
  if (text.empty() || text.size() > kMaxSizeDigits || (text.size() > 1 && text[0] == '0')) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Text that fits in one value: no control character, no blank at either end.
bool IsPlainValue(std::string_view text, size_t maxBytes) {
  if (text.empty() || text.size() > maxBytes) return false;
  if (static_cast<unsigned char>(text.front()) <= 0x20 || static_cast<unsigned char>(text.back()) <= 0x20) return false;
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return DecodeUtf8Strict(text).has_value();
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::optional<TSignedStatement> Fail(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
  return std::nullopt;
}

}  // namespace

bool IsSha256Hex(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k)
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kBase64[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    size_t pad = 0;
    if (last) pad = text[i + 3] == '=' ? (text[i + 2] == '=' ? 2 : 1) : 0;
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int value = k < 4 - pad ? Base64Value(text[i + k]) : 0;
      if (value < 0) return std::nullopt;
      group = group << 6 | static_cast<uint32_t>(value);
    }
    // The bits a padded group leaves unused must be zero: one text for one byte string.
    if ((pad == 1 && (group & 0xFF) != 0) || (pad == 2 && (group & 0xFFFF) != 0)) return std::nullopt;
    for (size_t k = 0; k < 3 - pad; ++k) out += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
  }
  return out;
}

std::string FormatStatement(const TReleaseStatement& s) {
  if (!IsPlainValue(s.Product, kMaxProduct)) throw Exception(L"The product name cannot be signed");
  if (!IsPlainValue(s.Version, kMaxStatementVersion))
    throw Exception(L"The version text cannot be signed: it must be 1 to 256 bytes of UTF-8 without control characters");
  if (s.Size < 0 || !IsDecimal(std::to_string(s.Size))) throw Exception(L"The archive size cannot be signed");
  if (!IsSha256Hex(s.Sha256) || !IsSha256Hex(s.ChangesSha256)) throw Exception(L"A SHA-256 to sign is not 64 hex digits");
  return std::string(kFields[0]) + ": " + s.Product + "\n" + kFields[1] + ": " + s.Version + "\n" + kFields[2] + ": " +
         std::to_string(s.Size) + "\n" + kFields[3] + ": " + s.Sha256 + "\n" + kFields[4] + ": " + s.ChangesSha256 + "\n";
}

std::string FormatSignatureFile(std::string_view signedBytes, std::string_view signature) {
  return std::string(signedBytes) + kFields[5] + ": " + EncodeBase64(signature) + "\n";
}

std::optional<TSignedStatement> ParseSignatureFile(std::string_view file, std::string* reason) {
  if (file.size() > kMaxStatementFile) return Fail(reason, "larger than " + std::to_string(kMaxStatementFile) + " bytes");
  if (file.empty() || file.back() != '\n') return Fail(reason, "does not end with a line end");
  std::array<std::string_view, kFields.size()> values;
  size_t pos = 0, signedEnd = 0;
  for (size_t i = 0; i < kFields.size(); ++i) {
    if (pos >= file.size()) return Fail(reason, std::string("the line \"") + kFields[i] + "\" is missing");
    const size_t end = file.find('\n', pos);
    const std::string_view line = file.substr(pos, end - pos);
    const std::string head = std::string(kFields[i]) + ": ";
    if (line.substr(0, head.size()) != head)
      return Fail(reason, "line " + std::to_string(i + 1) + " is not \"" + kFields[i] + ": ...\"");
    values[i] = line.substr(head.size());
    pos = end + 1;
    if (i + 1 == kFields.size() - 1) signedEnd = pos;
  }
  if (pos != file.size()) return Fail(reason, "text after the signature line");

  TSignedStatement out;
  TReleaseStatement& s = out.Statement;
  if (!IsPlainValue(values[0], kMaxProduct)) return Fail(reason, "the product is not a plain text");
  if (!IsPlainValue(values[1], kMaxStatementVersion)) return Fail(reason, "the version is not a plain text");
  if (!IsDecimal(values[2])) return Fail(reason, "the size is not a decimal number");
  if (!IsSha256Hex(values[3]) || !IsSha256Hex(values[4])) return Fail(reason, "a SHA-256 is not 64 lower-case hex digits");
  std::optional<std::string> signature = DecodeBase64(values[5]);
  if (!signature || signature->size() != kSignatureSize) return Fail(reason, "the signature is not 64 bytes in base64");
  s.Product = values[0];
  s.Version = values[1];
  s.Size = std::stoll(std::string(values[2]));
  s.Sha256 = values[3];
  s.ChangesSha256 = values[4];
  out.SignedBytes = file.substr(0, signedEnd);
  out.Signature = std::move(*signature);
  return out;
}

std::optional<std::string> ParsePublicKeyLine(std::string_view line) {
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= 0x20) line.remove_prefix(1);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 0x20) line.remove_suffix(1);
  const std::string_view prefix = kPublicKeyPrefix;
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::optional<std::string> point = DecodeBase64(line.substr(prefix.size()));
  if (!point || point->size() != kPointSize) return std::nullopt;
  return point;
}

std::string FormatPublicKeyLine(std::string_view point) { return kPublicKeyPrefix + EncodeBase64(point); }
