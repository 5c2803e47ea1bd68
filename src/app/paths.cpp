#include "app/paths.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "app/app_state.h"
#include "system/errors.h"
#include "system/handles.h"
#include "system/text.h"

std::wstring LocalAppDataBase() {
  std::wstring base;
  const DWORD len = GetEnvironmentVariableW(Names::LocalAppDataVariable, nullptr, 0);
  if (len > 0) {
    base.resize(len);
    base.resize(GetEnvironmentVariableW(Names::LocalAppDataVariable, base.data(), len));
  }
  if (base.empty()) {
    // Without the variable the product folder would be relative to whatever the current
    // folder is; the user's known local application data folder takes its place.
    wchar_t* known = nullptr;
    const Sys::TScopeExit freeKnown([&known] { CoTaskMemFree(known); });
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known) base = known;
    if (base.empty()) throw Exception(L"Не удалось определить папку локальных данных приложений");
  }
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  return base;
}

std::wstring OwnExePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD len = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (len < path.size()) {
      path.resize(len);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring OwnExeName() { return ExtractFileName(OwnExePath()); }
