#include "system/processes.h"

#include <tlhelp32.h>

#include <cstddef>
#include <string_view>

#include "system/handles.h"
#include "system/text.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32W) == 556, "process entry record of the 32-bit build");
#endif

namespace {
// Calls visit(entry) for each process whose executable name matches, until visit returns false.
template <typename Visit>
void WalkProcesses(const std::wstring& exeName, Visit visit) {
  const Sys::TFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    const std::wstring_view exe(entry.szExeFile, wcsnlen(entry.szExeFile, std::size(entry.szExeFile)));
    if (SameTextAscii(ExtractFileName(exe), exeName) && !visit(entry)) return;
  }
}

void Terminate(DWORD pid) {
  const Sys::TKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (process) TerminateProcess(process.Get(), 0);
}
}  // namespace

bool IsProcessRunning(const std::wstring& exeName) {
  bool found = false;
  WalkProcesses(exeName, [&](const PROCESSENTRY32W&) {
    found = true;
    return false;
  });
  return found;
}

void KillProcessByName(const std::wstring& exeName) {
  WalkProcesses(exeName, [](const PROCESSENTRY32W& entry) {
    Terminate(entry.th32ProcessID);
    return true;
  });
}

void KillProcessByNameExcept(const std::wstring& exeName, DWORD exceptPid) {
  WalkProcesses(exeName, [&](const PROCESSENTRY32W& entry) {
    if (entry.th32ProcessID != exceptPid) Terminate(entry.th32ProcessID);
    return true;
  });
}

bool IsWindows64() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}
