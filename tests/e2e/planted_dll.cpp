// A DLL that a stranger could put beside the launcher under the name of a system DLL. Loaded,
// it only leaves a marker beside itself: "<its file name>.loaded".
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 16];
    const DWORD len = GetModuleFileNameW(instance, path, MAX_PATH);
    if (len > 0 && len < MAX_PATH) {
      lstrcpyW(path + len, L".loaded");
      HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}
