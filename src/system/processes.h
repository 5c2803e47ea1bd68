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
// Stops every process whose executable is the file exeName directly inside folder, full paths
// compared as Windows compares them; a program of that name elsewhere, and the calling process,
// are never stopped. Each process is checked after it is opened to be one whose image is that
// file (an identifier reused since the snapshot names another program), and waited for, up to a
// few seconds, so that its files are free when this returns.
void StopProcessesInFolder(const std::wstring& exeName, const std::wstring& folder);
// Whether two paths name the same file as Windows compares names (letter case ignored, the
// long form of each taken where the system knows it).
bool SamePath(const std::wstring& a, const std::wstring& b);
// True when Windows runs natively on an x64 processor.
bool IsWindows64();
