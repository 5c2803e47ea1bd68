#include "publish/sha256.h"

#ifdef _WIN32
#include "system/sha256.h"
#else
#include <openssl/evp.h>

#include "system/errors.h"
#include "system/text.h"
#endif

std::wstring Sha256Hex(std::string_view bytes) {
#ifdef _WIN32
  TSha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.HexDigest();
#else
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) || length != 32)
    throw Exception(L"SHA-256 failed");
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest), length));
#endif
}
