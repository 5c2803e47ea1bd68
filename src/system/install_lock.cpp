#include "system/install_lock.h"

#include "system/errors.h"
#include "system/file_stream.h"
#include "system/sha256.h"
#include "system/text.h"
#include "system/win_error.h"
#include "system/zip_judge.h"

namespace {
// The long form of a path whose last segments may not exist yet: the part that exists is
// spelt out in long names, the rest is kept as it is.
std::wstring LongPath(const std::wstring& full) {
  std::wstring head = full, tail;
  for (;;) {
    const DWORD size = GetLongPathNameW(head.c_str(), nullptr, 0);
    if (size > 0) {
      std::wstring buffer(size, L'\0');
      const DWORD got = GetLongPathNameW(head.c_str(), buffer.data(), size);
      if (got > 0 && got < size) {
        buffer.resize(got);
        if (tail.empty()) return buffer;
        return buffer + (buffer.back() == L'\\' ? L"" : L"\\") + tail;
      }
    }
    // One segment up: "C:\a\b" to "C:\a", "C:\a" to "C:\".
    const size_t cut = head.find_last_of(L'\\');
    if (cut == std::wstring::npos) return full;
    const std::wstring up = head.substr(0, cut <= 2 ? cut + 1 : cut);
    if (up == head) return full;
    tail = head.substr(cut + 1) + (tail.empty() ? L"" : L"\\" + tail);
    head = up;
  }
}

Sys::TKernelHandle MakeMutex(const std::wstring& productFolder) {
  const std::wstring name = InstallLockName(productFolder);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!mutex)
    throw Exception(L"Cannot make the installation lock \"" + name + L"\". " + SysErrorMessage(GetLastError()));
  return Sys::TKernelHandle(mutex);
}
}  // namespace

std::wstring InstallLockName(const std::wstring& productFolder) {
  std::wstring full = ExpandFileName(productFolder);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  const std::wstring key = FoldFileName(LongPath(full));
  // A name may not hold "\" and is at most MAX_PATH long: the folder goes in as its digest.
  TSha256 hash;
  const std::string bytes = EncodeUtf8(key);
  hash.Update(bytes.data(), bytes.size());
  return L"Local\\Morvane.Install." + hash.HexDigest();
}

TInstallLock::TInstallLock(const std::wstring& productFolder) : FMutex(MakeMutex(productFolder)) {}

TInstallLock::~TInstallLock() { Release(); }

bool TInstallLock::TryAcquire() {
  if (FHeld) return true;
  const DWORD result = WaitForSingleObject(FMutex.Get(), 0);
  FAbandoned = result == WAIT_ABANDONED;
  FHeld = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  return FHeld;
}

void TInstallLock::Release() {
  if (!FHeld) return;
  ReleaseMutex(FMutex.Get());
  FHeld = false;
}

void TInstallLock::WaitUntilFree(const std::wstring& productFolder) {
  const Sys::TKernelHandle mutex = MakeMutex(productFolder);
  const DWORD result = WaitForSingleObject(mutex.Get(), INFINITE);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex.Get());
}
