#include "system/processes.h"

#include <tlhelp32.h>

#include <cstddef>
#include <string_view>

#include "system/text.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32W) == 556, "process entry record of the 32-bit build");
#endif

namespace {
// The file-name part of a snapshot entry: the text after its last "\" or ":".
std::wstring_view EntryName(const PROCESSENTRY32W& entry) {
  std::wstring_view exe(entry.szExeFile, wcsnlen(entry.szExeFile, std::size(entry.szExeFile)));
  const size_t cut = exe.find_last_of(L"\\:");
  return cut == std::wstring_view::npos ? exe : exe.substr(cut + 1);
}

class TSnapshot {
 public:
  TSnapshot() : FHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)) {}
  ~TSnapshot() {
    if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  }
  TSnapshot(const TSnapshot&) = delete;
  TSnapshot& operator=(const TSnapshot&) = delete;

  // Calls visit(entry) for each entry matching the name until visit returns false.
  template <typename Visit>
  void Walk(const std::wstring& exeName, Visit visit) {
    if (FHandle == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(FHandle, &entry); more; more = Process32NextW(FHandle, &entry)) {
      if (SameTextAscii(EntryName(entry), exeName) && !visit(entry)) return;
    }
  }

 private:
  HANDLE FHandle;
};

void Terminate(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return;
  TerminateProcess(process, 0);
  CloseHandle(process);
}
}  // namespace

bool IsProcessRunning(const std::wstring& exeName) {
  bool found = false;
  TSnapshot().Walk(exeName, [&](const PROCESSENTRY32W&) {
    found = true;
    return false;
  });
  return found;
}

void KillProcessByName(const std::wstring& exeName) {
  TSnapshot().Walk(exeName, [](const PROCESSENTRY32W& entry) {
    Terminate(entry.th32ProcessID);
    return true;
  });
}

void KillProcessByNameExcept(const std::wstring& exeName, DWORD exceptPid) {
  TSnapshot().Walk(exeName, [&](const PROCESSENTRY32W& entry) {
    if (entry.th32ProcessID != exceptPid) Terminate(entry.th32ProcessID);
    return true;
  });
}

bool IsWindows64() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}
