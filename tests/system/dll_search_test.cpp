// DLLs of the system folder by full path, and the DLL search limited on both kinds of system:
// with SetDefaultDllDirectories, and without it (Vista, 7 without its loader update), which a
// test hook plays.
#include "system/dll_search.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "system/handles.h"
#include "system/text.h"
#include "system/win_error.h"

#include "support/files.h"
#include "support/here.h"

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}

// Whether a module's path is the given DLL in the system folder: a 32-bit program on 64-bit
// Windows may see it under the folder of the 32-bit system DLLs instead.
bool IsSystemDll(const std::wstring& path, const std::wstring& name) {
  std::vector<std::wstring> folders = {Sys::SystemFolder()};
  wchar_t wow64[MAX_PATH] = {};
  if (const UINT n = GetSystemWow64DirectoryW(wow64, MAX_PATH); n > 0 && n < MAX_PATH) folders.emplace_back(wow64, n);
  for (const std::wstring& folder : folders)
    if (Lower(path) == Lower(folder + L"\\" + name)) return true;
  return false;
}

std::wstring ModulePath(HMODULE module) {
  wchar_t buffer[MAX_PATH * 2] = {};
  return std::wstring(buffer, GetModuleFileNameW(module, buffer, MAX_PATH * 2));
}

TEST(LoadSystemLibrary, TakesTheSystemFolderCopyAndOnlyPlainNames) {
  const std::wstring system = Sys::SystemFolder();
  ASSERT_FALSE(system.empty());
  EXPECT_NE(system.back(), L'\\');
  wchar_t expected[MAX_PATH] = {};
  GetSystemDirectoryW(expected, MAX_PATH);
  EXPECT_EQ(Lower(system), Lower(expected));

  // oleacc runs from the system folder, without LOAD_LIBRARY_SEARCH_SYSTEM32 (which the older
  // systems refuse).
  const Sys::TModule oleacc(Sys::LoadSystemLibrary(L"oleacc.dll"));
  ASSERT_TRUE(oleacc) << GetLastError();
  EXPECT_TRUE(IsSystemDll(ModulePath(oleacc.Get()), L"oleacc.dll")) << EncodeUtf8(ModulePath(oleacc.Get()));
  EXPECT_NE(GetProcAddress(oleacc.Get(), "AccessibleObjectFromWindow"), nullptr);

  // WinINet mapped as data, for its message texts.
  const Sys::TModule wininet(Sys::LoadSystemLibrary(L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(wininet) << GetLastError();
  EXPECT_FALSE(ModuleMessageText(wininet.Get(), 12002).empty());  // ERROR_INTERNET_TIMEOUT

  for (const wchar_t* name : {L"", L".", L"..", L"..\\oleacc.dll", L"sub\\oleacc.dll", L"C:oleacc.dll",
                              L"C:\\windows\\system32\\oleacc.dll", L"/oleacc.dll", L"no-such-library.dll"}) {
    EXPECT_EQ(Sys::LoadSystemLibrary(name), nullptr) << EncodeUtf8(name);
  }
}

// The probe, copied with DLLs of system names into a folder of its own (as a Downloads folder),
// limits the search and then loads those names by bare name. Wine searches for them as Windows
// does only under WINEDLLOVERRIDES="msimg32,jsproxy,hid=n,b" (CMake sets it for this test).
// msimg32 is one the shell and the browser control load by name; jsproxy one that WinHTTP loads;
// hid is on no list and nothing on it loads it: the system's copy is loaded first only because
// a DLL of its name lies beside the program.
TEST(LimitDllSearch, BareNamesComeFromTheSystemFolderOnBothKindsOfSystem) {
  const std::wstring here = HereFolder();
  const std::wstring build = here + L"..\\..\\";
  const std::wstring folder = here + L"dll-search-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::vector<std::wstring> planted = {L"msimg32.dll", L"jsproxy.dll", L"hid.dll"};
  ASSERT_TRUE(CopyFileW((here + L"dll_search_probe.exe").c_str(), (folder + L"probe.exe").c_str(), FALSE));
  for (const std::wstring& dll : planted)
    ASSERT_TRUE(CopyFileW((build + L"planted\\" + dll).c_str(), (folder + dll).c_str(), FALSE)) << EncodeUtf8(dll);

  struct Case {
    bool hide;
    const char* search;
  };
  const Case cases[] = {{false, "system folder only"}, {true, "preloaded"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.search);
    for (const std::wstring& dll : planted) DeleteFileW((folder + dll + L".loaded").c_str());
    SetEnvironmentVariableW(L"MORVANE_HIDE_SET_DEFAULT_DLL_DIRECTORIES", c.hide ? L"1" : nullptr);
    const std::wstring reportPath = folder + L"report.txt";
    std::wstring command = L"\"" + folder + L"probe.exe\" \"" + reportPath + L"\"";
    for (const std::wstring& dll : planted) command += L" " + dll;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi));
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    SetEnvironmentVariableW(L"MORVANE_HIDE_SET_DEFAULT_DLL_DIRECTORIES", nullptr);
    ASSERT_EQ(code, 0u);

    // "<name>=<path>" lines, then "search=<way>".
    const std::wstring report = DecodeUtf8Strict(ReadFileBytes(reportPath)).value_or(L"?");
    std::vector<std::wstring> lines;
    for (size_t start = 0, end; (end = report.find(L'\n', start)) != std::wstring::npos; start = end + 1)
      lines.push_back(report.substr(start, end - start));
    ASSERT_EQ(lines.size(), planted.size() + 1) << EncodeUtf8(report);
    for (size_t i = 0; i < planted.size(); ++i) {
      const std::wstring prefix = planted[i] + L"=";
      ASSERT_EQ(lines[i].substr(0, prefix.size()), prefix);
      EXPECT_TRUE(IsSystemDll(lines[i].substr(prefix.size()), planted[i])) << EncodeUtf8(lines[i]);
    }
    EXPECT_EQ(EncodeUtf8(lines.back()), std::string("search=") + c.search);
    for (const std::wstring& dll : planted)
      EXPECT_EQ(GetFileAttributesW((folder + dll + L".loaded").c_str()), INVALID_FILE_ATTRIBUTES) << EncodeUtf8(dll);
  }
  for (const wchar_t* name : {L"probe.exe", L"report.txt", L"msimg32.dll", L"jsproxy.dll", L"hid.dll"})
    DeleteFileW((folder + name).c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
