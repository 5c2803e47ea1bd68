// Helper for the process tests.
//   process_probe             waits (up to two minutes) to be stopped
//   process_probe kill-self   stops every process of its own file name, itself included, and
//                             would return 7 if it survived
//   process_probe stop-own    stops every process of its own file in its own folder, which
//                             spares itself, and returns 8
//   process_probe install A D installs the archive A into the folder D: 0 done, 5 failed
//   process_probe lock D E    takes the installation lock of the folder D, sets the event E and
//                             waits (up to two minutes) to be stopped; 6 when another holds it
#include <windows.h>

#include <cstdio>
#include <string>

#include "system/errors.h"
#include "system/install_lock.h"
#include "system/processes.h"
#include "system/zip_extract.h"
#include "system/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"kill-self") {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    KillProcessByName(ExtractFileName(std::wstring(path, n)));
    return 7;
  }
  if (argc > 1 && std::wstring(argv[1]) == L"stop-own") {
    wchar_t path[MAX_PATH * 2];
    const std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 2));
    StopProcessesInFolder(ExtractFileName(self), self.substr(0, self.find_last_of(L'\\') + 1));
    return 8;
  }
  if (argc > 3 && std::wstring(argv[1]) == L"install") {
    try {
      ExtractPackage(argv[2], argv[3]);
    } catch (const Exception& e) {
      std::fputs(e.what(), stderr);
      return 5;
    }
    return 0;
  }
  if (argc > 3 && std::wstring(argv[1]) == L"lock") {
    TInstallLock lock(argv[2]);
    if (!lock.TryAcquire()) return 6;
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (held) SetEvent(held);
    Sleep(120000);
    return 3;
  }
  Sleep(120000);
  return 3;
}
