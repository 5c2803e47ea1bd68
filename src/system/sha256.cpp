#include "system/sha256.h"

#include <windows.h>

#include <climits>

#include "system/errors.h"
#include "system/text.h"

namespace {

constexpr ULONG kDigestSize = 32;

[[noreturn]] void RaiseCng(const wchar_t* step, NTSTATUS status) {
  throw Exception(FormatMessageText(L"SHA-256: %s (%d)", {step, IntToStr(static_cast<int64_t>(status))}));
}

bool Failed(NTSTATUS status) { return status < 0; }

}  // namespace

TSha256::TSha256() {
  NTSTATUS status = BCryptOpenAlgorithmProvider(FAlgorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (Failed(status)) RaiseCng(L"BCryptOpenAlgorithmProvider", status);
  DWORD objectSize = 0;
  ULONG written = 0;
  status = BCryptGetProperty(FAlgorithm.Get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                             sizeof objectSize, &written, 0);
  if (Failed(status)) RaiseCng(L"BCryptGetProperty", status);
  FObject.resize(objectSize);
  status = BCryptCreateHash(FAlgorithm.Get(), FHash.Put(), reinterpret_cast<PUCHAR>(FObject.data()), objectSize,
                            nullptr, 0, 0);
  if (Failed(status)) RaiseCng(L"BCryptCreateHash", status);
}

void TSha256::Update(const void* data, size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const ULONG chunk = count > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(count);
    const NTSTATUS status = BCryptHashData(FHash.Get(), const_cast<PUCHAR>(bytes), chunk, 0);
    if (Failed(status)) RaiseCng(L"BCryptHashData", status);
    bytes += chunk;
    count -= chunk;
  }
}

std::wstring TSha256::HexDigest() {
  unsigned char digest[kDigestSize];
  const NTSTATUS status = BCryptFinishHash(FHash.Get(), digest, kDigestSize, 0);
  if (Failed(status)) RaiseCng(L"BCryptFinishHash", status);
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest), kDigestSize));
}
