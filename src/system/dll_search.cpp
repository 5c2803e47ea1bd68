#include "system/dll_search.h"

#include <cstring>
#include <vector>

#include "system/asked_text.h"

namespace Sys {

namespace {

bool PlainFileName(std::wstring_view name) {
  return !name.empty() && name.find_first_of(L"\\/:") == std::wstring_view::npos && name != L"." && name != L"..";
}

// The DLLs that the shell (shell32, its property and theme helpers), COM (ole32, combase), the
// common controls and the web browser control (ieframe, mshtml, urlmon, WinINet) load by bare
// name on the systems that lack SetDefaultDllDirectories, and that are not known DLLs there.
// Also the program's own delay-loaded ones, which their hook loads by full path anyway.
constexpr const wchar_t* kPreloaded[] = {
    // shell, themes, window manager
    L"uxtheme.dll", L"dwmapi.dll", L"propsys.dll", L"linkinfo.dll", L"ntshrui.dll", L"cscapi.dll", L"slc.dll",
    L"apphelp.dll", L"msimg32.dll", L"oleacc.dll", L"version.dll", L"windowscodecs.dll", L"xmllite.dll",
    // security, profiles, sign-in
    L"cryptbase.dll", L"cryptsp.dll", L"rsaenh.dll", L"bcrypt.dll", L"secur32.dll", L"sspicli.dll", L"ntmarta.dll",
    L"profapi.dll", L"userenv.dll", L"wtsapi32.dll", L"winsta.dll", L"srvcli.dll", L"netutils.dll", L"samcli.dll",
    // the web browser control
    L"ieframe.dll", L"mshtml.dll", L"iertutil.dll", L"urlmon.dll", L"wininet.dll", L"mlang.dll", L"msls31.dll",
    L"imgutil.dll", L"msimtf.dll", L"sxs.dll", L"dwrite.dll", L"d2d1.dll", L"winhttp.dll",
    // networking below WinINet and WinHTTP
    L"dnsapi.dll", L"iphlpapi.dll", L"winnsi.dll", L"mswsock.dll", L"rasapi32.dll", L"rasman.dll", L"rtutils.dll",
    L"sensapi.dll", L"webio.dll", L"mpr.dll",
};

// The file names of the DLLs in a folder.
std::vector<std::wstring> DllsIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW((folder + L"\\*.dll").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::wstring ProgramFolder() {
  std::wstring path = AskedText([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories() {
#ifdef MORVANE_TEST_HOOKS
  // Tests play a system without the loader update.
  if (GetEnvironmentVariableW(L"MORVANE_HIDE_SET_DEFAULT_DLL_DIRECTORIES", nullptr, 0) > 0) return nullptr;
#endif
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                  : nullptr;
}

void ReportSearch([[maybe_unused]] TDllSearch search) {
#ifdef MORVANE_TEST_HOOKS
  // Tests see which way the search was limited: the word goes into the file named here.
  wchar_t path[MAX_PATH * 2];
  const DWORD len = GetEnvironmentVariableW(L"MORVANE_DLL_SEARCH_REPORT", path, MAX_PATH * 2);
  if (len == 0 || len >= MAX_PATH * 2) return;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const char* word = search == TDllSearch::SystemFolderOnly ? "system folder only" : "preloaded";
  DWORD written = 0;
  WriteFile(file, word, static_cast<DWORD>(strlen(word)), &written, nullptr);
  CloseHandle(file);
#endif
}

}  // namespace

std::wstring SystemFolder() {
  return AskedText([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); });
}

HMODULE LoadSystemLibrary(std::wstring_view name, DWORD flags) {
  const std::wstring folder = SystemFolder();
  if (!PlainFileName(name) || folder.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::wstring path = folder + L"\\" + std::wstring(name);
  // A data file has no imports; a DLL to run has its own imports searched from its folder on.
  const DWORD dataOnly = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
  return LoadLibraryExW(path.c_str(), nullptr, (flags & dataOnly) ? flags : flags | LOAD_WITH_ALTERED_SEARCH_PATH);
}

TDllSearch LimitDllSearch() {
  if (const auto setDefault = FindSetDefaultDllDirectories(); setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    ReportSearch(TDllSearch::SystemFolderOnly);
    return TDllSearch::SystemFolderOnly;
  }
  // The current folder out of the search.
  SetDllDirectoryW(L"");
  // Loaded for the life of the process: a later load by name finds them loaded.
  for (const wchar_t* name : kPreloaded) LoadSystemLibrary(name);
  const std::wstring own = ProgramFolder();
  if (!own.empty()) {
    const std::wstring system = SystemFolder();
    for (const std::wstring& name : DllsIn(own)) {
      // Only a name the system folder also holds can stand in for a system DLL.
      if (GetFileAttributesW((system + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES) LoadSystemLibrary(name);
    }
  }
  ReportSearch(TDllSearch::Preloaded);
  return TDllSearch::Preloaded;
}

}  // namespace Sys
