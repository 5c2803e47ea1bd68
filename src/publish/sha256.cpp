#include "publish/sha256.h"

#include <vector>

#include "publish/files.h"
#include "system/errors.h"

#ifdef _WIN32
#include "system/sha256.h"

struct TSha256Stream::TState {
  TSha256 Hash;
};

TSha256Stream::TSha256Stream() : FState(std::make_unique<TState>()) {}
void TSha256Stream::Update(const void* data, size_t count) { FState->Hash.Update(data, count); }
std::wstring TSha256Stream::HexDigest() { return FState->Hash.HexDigest(); }
#else
#include <openssl/evp.h>

#include "system/text.h"

struct TSha256Stream::TState {
  EVP_MD_CTX* Context = EVP_MD_CTX_new();
  ~TState() { EVP_MD_CTX_free(Context); }
};

TSha256Stream::TSha256Stream() : FState(std::make_unique<TState>()) {
  if (!FState->Context || !EVP_DigestInit_ex(FState->Context, EVP_sha256(), nullptr))
    throw Exception(L"SHA-256 failed");
}

void TSha256Stream::Update(const void* data, size_t count) {
  if (!EVP_DigestUpdate(FState->Context, data, count)) throw Exception(L"SHA-256 failed");
}

std::wstring TSha256Stream::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (!EVP_DigestFinal_ex(FState->Context, digest, &length) || length != 32) throw Exception(L"SHA-256 failed");
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest), length));
}
#endif

TSha256Stream::~TSha256Stream() = default;

std::wstring Sha256Hex(std::string_view bytes) {
  TSha256Stream hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.HexDigest();
}

std::wstring Sha256OfFile(const std::filesystem::path& path) {
  TInFile file(path);
  TSha256Stream hash;
  std::vector<char> piece(1 << 20);
  while (const size_t got = file.Read(piece.data(), piece.size())) hash.Update(piece.data(), got);
  return hash.HexDigest();
}
