// Limits the DLL search as the launcher's entry does, then loads each DLL named on the command
// line by its bare name, as system code does, and writes one line per name into the file named
// first: "<name>=<full path of the module loaded>", or "<name>=" when none loaded. Then the way
// the search was limited: "search=system folder only" or "search=preloaded".
#include <windows.h>

#include <string>

#include "system/dll_search.h"
#include "system/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const Sys::TDllSearch search = Sys::LimitDllSearch();
  std::wstring out;
  for (int i = 2; i < argc; ++i) {
    std::wstring path;
    if (HMODULE module = LoadLibraryW(argv[i])) {
      wchar_t buffer[MAX_PATH * 2] = {};
      path.assign(buffer, GetModuleFileNameW(module, buffer, MAX_PATH * 2));
    }
    out += std::wstring(argv[i]) + L"=" + path + L"\n";
  }
  out += search == Sys::TDllSearch::SystemFolderOnly ? L"search=system folder only\n" : L"search=preloaded\n";
  const std::string bytes = EncodeUtf8(out);
  HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
