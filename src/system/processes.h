// Running processes by executable file name, and the native processor architecture.
#pragma once

#include <windows.h>

#include <string>

// True when a running process's executable name matches (ASCII letters compared without case).
bool IsProcessRunning(const std::wstring& exeName);
// Asks every matching process to terminate with exit code 0; the caller is not spared.
void KillProcessByName(const std::wstring& exeName);
// The same walk, but the process with the given identifier is never terminated.
void KillProcessByNameExcept(const std::wstring& exeName, DWORD exceptPid);
// True when Windows runs natively on an x64 processor.
bool IsWindows64();
