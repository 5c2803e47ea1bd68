// The publisher's statement file as it comes from the cloud folder, and public key lines. A file
// that is read must be the one form its content has: written again, it gives the same bytes,
// and its signed bytes are its own beginning.
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/release_statement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (const auto parsed = ParseSignatureFile(bytes)) {
    if (parsed->Signature.size() != 64) __builtin_trap();
    if (FormatStatement(parsed->Statement) != parsed->SignedBytes) __builtin_trap();
    if (FormatSignatureFile(parsed->SignedBytes, parsed->Signature) != bytes) __builtin_trap();
  }
  if (const auto point = ParsePublicKeyLine(bytes)) {
    if (point->size() != 64 || !ParsePublicKeyLine(FormatPublicKeyLine(*point))) __builtin_trap();
  }
  if (const auto decoded = DecodeBase64(bytes)) {
    if (EncodeBase64(*decoded) != bytes) __builtin_trap();
  }
  return 0;
}
