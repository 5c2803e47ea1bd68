#include "app/app_state.h"

#include "app/public_folder_link.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>

#include "system/text.h"
#endif

std::wstring PackageFileName;
std::wstring InstalledVersion;
std::wstring DownloadUrl;
std::wstring InstallDir;
std::wstring PackagePath;

TApplication Application;

std::wstring PublicFolderLink() {
#ifdef MORVANE_TEST_HOOKS
#ifdef _WIN32
  wchar_t buffer[2048];
  const DWORD n = GetEnvironmentVariableW(L"MORVANE_PUBLIC_FOLDER_LINK", buffer, 2048);
  if (n > 0 && n < 2048) return std::wstring(buffer, n);
#else
  if (const char* value = std::getenv("MORVANE_PUBLIC_FOLDER_LINK")) {
    if (auto text = DecodeUtf8Strict(value)) return *text;
  }
#endif
#endif
  return MORVANE_PUBLIC_FOLDER_LINK_TEXT;
}
