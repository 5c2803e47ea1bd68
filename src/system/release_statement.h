// The publisher's signed statement about a release, kept beside the archive as
// "Tandrel.zip.sig", and the text form of the publisher's public key. Portable: the file comes
// from the cloud folder and is untrusted until its signature is checked.
//
// The file is strict UTF-8 with LF line ends, no byte-order mark, at most kMaxStatementFile
// bytes. Five statement lines in this order, then the signature line:
//
//   product: Tandrel
//   version: 2.0.0.0                  (exactly the trimmed text of version.txt)
//   size: 1234567                     (bytes of Tandrel.zip, decimal, no leading zeros)
//   sha256: <64 lower-case hex>       (of Tandrel.zip)
//   changes-sha256: <64 lower-case hex> (of Changes.txt, as uploaded)
//   signature: <base64 of r || s>
//
// The signed bytes are the five statement lines with their LFs, exactly as they stand in the
// file. The signature is ECDSA on P-256 with SHA-256, written as the two 32-byte big-endian
// numbers r and s one after the other (88 base64 characters); the file ends with the LF of
// the signature line.
//
// A public key line is "ecdsa-p256:" followed by the base64 of the uncompressed point's two
// 32-byte big-endian coordinates X and Y (88 characters), nothing else on the line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kMaxStatementFile = 4096;
inline constexpr size_t kMaxStatementVersion = 256;  // bytes of the version text

struct TReleaseStatement {
  std::string Product;        // UTF-8
  std::string Version;        // UTF-8, exactly as version.txt reads once trimmed
  int64_t Size = 0;
  std::string Sha256;         // 64 lower-case hex digits
  std::string ChangesSha256;  // 64 lower-case hex digits
};

struct TSignedStatement {
  TReleaseStatement Statement;
  std::string SignedBytes;  // the statement lines exactly as in the file
  std::string Signature;    // 64 bytes: r then s
};

// The statement lines; raises Exception when a field cannot be written in the strict form.
std::string FormatStatement(const TReleaseStatement& statement);
// The whole file: the signed bytes, then the signature line.
std::string FormatSignatureFile(std::string_view signedBytes, std::string_view signature);
// nullopt with the reason (English, for the publisher) when the file is not in the strict form.
std::optional<TSignedStatement> ParseSignatureFile(std::string_view file, std::string* reason = nullptr);

// Whether the text is a SHA-256 as the statement writes it: 64 lower-case hex digits.
bool IsSha256Hex(std::string_view text);

// Standard base64 with padding; decoding accepts only the canonical form of exactly that.
std::string EncodeBase64(std::string_view bytes);
std::optional<std::string> DecodeBase64(std::string_view text);

inline constexpr char kPublicKeyPrefix[] = "ecdsa-p256:";
// The 64 bytes X || Y of a public key line; nullopt when the line is not in that form. Blanks
// at either end are dropped (a line pasted with its line end).
std::optional<std::string> ParsePublicKeyLine(std::string_view line);
std::string FormatPublicKeyLine(std::string_view point);
