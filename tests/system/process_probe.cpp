// Helper for the process tests.
//   process_probe             waits (up to two minutes) to be stopped
//   process_probe kill-self   stops every process of its own file name, itself included, and
//                             would return 7 if it survived
#include <windows.h>

#include <string>

#include "system/processes.h"
#include "system/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"kill-self") {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    KillProcessByName(ExtractFileName(std::wstring(path, n)));
    return 7;
  }
  Sleep(120000);
  return 3;
}
