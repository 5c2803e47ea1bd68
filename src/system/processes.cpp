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

// The long form of a path where the system knows it ("C:\\Users\\IVANOV~1" named in full).
std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = GetLongPathNameW(path.c_str(), buffer, static_cast<DWORD>(std::size(buffer)));
  return n > 0 && n < std::size(buffer) ? std::wstring(buffer, n) : path;
}

// Stopping a process may take a moment; its files stay held until it has ended.
constexpr DWORD kEndWaitMs = 5000;

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

bool SamePath(const std::wstring& a, const std::wstring& b) {
  const std::wstring longA = LongPath(a), longB = LongPath(b);
  return CompareStringOrdinal(longA.c_str(), static_cast<int>(longA.size()), longB.c_str(),
                              static_cast<int>(longB.size()), TRUE) == CSTR_EQUAL;
}

void StopProcessesInFolder(const std::wstring& exeName, const std::wstring& folder) {
  std::wstring image = folder;
  if (!image.empty() && image.back() != L'\\') image += L'\\';
  image += exeName;
  const DWORD self = GetCurrentProcessId();
  WalkProcesses(exeName, [&](const PROCESSENTRY32W& entry) {
    if (entry.th32ProcessID == self) return true;
    const Sys::TKernelHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) return true;
    // The identifier may have gone to another program since the snapshot: its image decides.
    wchar_t path[MAX_PATH * 4];
    DWORD length = static_cast<DWORD>(std::size(path));
    if (!QueryFullProcessImageNameW(process.Get(), 0, path, &length)) return true;
    if (!SamePath(std::wstring(path, length), image)) return true;
    if (TerminateProcess(process.Get(), 0)) WaitForSingleObject(process.Get(), kEndWaitMs);
    return true;
  });
}

bool IsWindows64() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}
