// The folder of the running test program, with a trailing backslash.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring HereFolder() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring here(path, n);
  return here.substr(0, here.find_last_of(L'\\') + 1);
}
