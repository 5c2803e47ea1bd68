#include "publish/sha256.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>

#include "system/handles.h"
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <cstdint>

#include "system/errors.h"

std::wstring Sha256Hex(std::string_view bytes) {
  unsigned char digest[32];
#ifdef _WIN32
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    throw Exception(L"SHA-256 is not available");
  const Sys::TScopeExit close([algorithm] { BCryptCloseAlgorithmProvider(algorithm, 0); });
  // One call per 1 GiB, so sizes beyond ULONG fit.
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
    throw Exception(L"SHA-256 is not available");
  const Sys::TScopeExit destroy([hash] { BCryptDestroyHash(hash); });
  for (size_t at = 0; at < bytes.size(); at += 1u << 30) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size() - at, 1u << 30));
    if (!BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)), piece, 0)))
      throw Exception(L"SHA-256 failed");
  }
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0))) throw Exception(L"SHA-256 failed");
#else
  unsigned length = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) || length != sizeof digest)
    throw Exception(L"SHA-256 failed");
#endif
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  for (const unsigned char b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}
