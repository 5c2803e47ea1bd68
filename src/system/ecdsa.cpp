#include "system/ecdsa.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "system/errors.h"
#include "system/handles.h"
#include "system/text.h"

namespace {

constexpr ULONG kCoordinate = 32;

using TCngKey = Sys::TOwned<Sys::Traits::Null<BCRYPT_KEY_HANDLE, &BCryptDestroyKey>>;

[[noreturn]] void RaiseCng(const wchar_t* step, NTSTATUS status) {
  throw Exception(FormatMessageText(L"ECDSA P-256: %s (%d)", {step, IntToStr(static_cast<int64_t>(status))}));
}

Sys::TCngAlgorithm OpenAlgorithm(const wchar_t* name) {
  Sys::TCngAlgorithm algorithm;
  const NTSTATUS status = BCryptOpenAlgorithmProvider(algorithm.Put(), name, nullptr, 0);
  if (status < 0) RaiseCng(L"BCryptOpenAlgorithmProvider", status);
  return algorithm;
}

// The key blob CNG imports and exports: its header, then X, Y and, for a private key, d.
std::string KeyBlob(ULONG magic, std::string_view point, std::string_view privateKey) {
  BCRYPT_ECCKEY_BLOB header{magic, kCoordinate};
  std::string blob(reinterpret_cast<const char*>(&header), sizeof header);
  blob.append(point);
  blob.append(privateKey);
  return blob;
}

TCngKey ImportKey(const Sys::TCngAlgorithm& algorithm, const wchar_t* type, const std::string& blob, NTSTATUS& status) {
  TCngKey key;
  status = BCryptImportKeyPair(algorithm.Get(), nullptr, type, key.Put(),
                               reinterpret_cast<PUCHAR>(const_cast<char*>(blob.data())), static_cast<ULONG>(blob.size()), 0);
  return key;
}

}  // namespace

std::string Sha256Digest(std::string_view bytes) {
  Sys::TCngAlgorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  Sys::TCngHash hash;
  NTSTATUS status = BCryptCreateHash(algorithm.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0);
  if (status < 0) RaiseCng(L"BCryptCreateHash", status);
  // The statement and the notes the program hashes here are far below 4 GiB.
  status = BCryptHashData(hash.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                          static_cast<ULONG>(bytes.size()), 0);
  if (status < 0) RaiseCng(L"BCryptHashData", status);
  std::string digest(32, '\0');
  status = BCryptFinishHash(hash.Get(), reinterpret_cast<PUCHAR>(digest.data()), 32, 0);
  if (status < 0) RaiseCng(L"BCryptFinishHash", status);
  return digest;
}

bool VerifyP256(std::string_view point, std::string_view message, std::string_view signature) {
  if (point.size() != 2 * kCoordinate || signature.size() != 2 * kCoordinate) return false;
  Sys::TCngAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  NTSTATUS status = 0;
  TCngKey key = ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, KeyBlob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, point, {}), status);
  if (status < 0) return false;  // not a point of the curve
  std::string digest = Sha256Digest(message);
  std::string rs(signature);
  status = BCryptVerifySignature(key.Get(), nullptr, reinterpret_cast<PUCHAR>(digest.data()),
                                 static_cast<ULONG>(digest.size()), reinterpret_cast<PUCHAR>(rs.data()),
                                 static_cast<ULONG>(rs.size()), 0);
  return status == 0;
}

TP256KeyPair GenerateP256() {
  Sys::TCngAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  TCngKey key;
  NTSTATUS status = BCryptGenerateKeyPair(algorithm.Get(), key.Put(), 256, 0);
  if (status < 0) RaiseCng(L"BCryptGenerateKeyPair", status);
  status = BCryptFinalizeKeyPair(key.Get(), 0);
  if (status < 0) RaiseCng(L"BCryptFinalizeKeyPair", status);
  ULONG size = 0;
  status = BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0);
  if (status < 0) RaiseCng(L"BCryptExportKey", status);
  std::string blob(size, '\0');
  status = BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, reinterpret_cast<PUCHAR>(blob.data()), size, &size, 0);
  if (status < 0) RaiseCng(L"BCryptExportKey", status);
  if (size != sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate) throw Exception(L"ECDSA P-256: unexpected key blob");
  TP256KeyPair pair{blob.substr(sizeof(BCRYPT_ECCKEY_BLOB), 2 * kCoordinate),
                    blob.substr(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate, kCoordinate)};
  SecureZeroMemory(blob.data(), blob.size());
  return pair;
}

std::string SignP256(const TP256KeyPair& pair, std::string_view message) {
  if (pair.Point.size() != 2 * kCoordinate || pair.Private.size() != kCoordinate)
    throw Exception(L"ECDSA P-256: the private key has the wrong length");
  Sys::TCngAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  NTSTATUS status = 0;
  std::string blob = KeyBlob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, pair.Point, pair.Private);
  TCngKey key = ImportKey(algorithm, BCRYPT_ECCPRIVATE_BLOB, blob, status);
  SecureZeroMemory(blob.data(), blob.size());
  if (status < 0) RaiseCng(L"BCryptImportKeyPair", status);
  std::string digest = Sha256Digest(message);
  std::string signature(2 * kCoordinate, '\0');
  ULONG written = 0;
  status = BCryptSignHash(key.Get(), nullptr, reinterpret_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                          reinterpret_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), &written, 0);
  if (status < 0 || written != signature.size()) RaiseCng(L"BCryptSignHash", status);
  return signature;
}
