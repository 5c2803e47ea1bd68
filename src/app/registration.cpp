#include "app/registration.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "app/app_state.h"
#include "app/paths.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/file_tree.h"
#include "system/processes.h"
#include "system/registry.h"
#include "system/shortcut.h"
#include "system/version_info.h"
#include "system/win_error.h"

namespace {
std::wstring Today() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t text[16];
  swprintf(text, std::size(text), L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

// The running launcher copied over the uninstaller, through a temporary name beside it so that
// a copy cut short never stands under the uninstaller's name. An uninstaller that cannot be
// replaced (running, say) stays as it is. True when an uninstaller is there afterwards.
bool PlaceUninstaller(const std::wstring& productFolder) {
  const std::wstring target = UninstallerPath(productFolder);
  const std::wstring own = OwnExePath();
  if (SamePath(own, target)) return true;
  const std::wstring partial = target + L".new";
  if (CopyFileW(own.c_str(), partial.c_str(), FALSE)) {
    if (!MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      DeleteFileW(partial.c_str());
  } else {
    DeleteFileW(partial.c_str());
  }
  return FileExists(target);
}

void SetOrRemove(HKEY key, const wchar_t* name, const std::wstring& value) {
  if (value.empty())
    Registry::DeleteValue(key, name);
  else
    Registry::WriteString(key, name, value);
}
}  // namespace

std::wstring UninstallerPath(const std::wstring& productFolder) { return productFolder + Names::UninstallerExe; }

std::wstring UninstallCommand(const std::wstring& productFolder, bool quiet) {
  std::wstring command = L"\"" + UninstallerPath(productFolder) + L"\" -" + Switches::Uninstall;
  if (quiet) command += std::wstring(L" -") + Switches::Quiet;
  return command;
}

void WriteUninstallEntry(const std::wstring& productFolder) {
  const std::wstring product = productFolder + Names::ProductExe;
  const std::wstring version = GetFileVersionString(product);
  const uint64_t kib = (TreeBytes(productFolder) + 1023) / 1024;

  const Sys::TRegKey key = Registry::CreateUserKey(Names::UninstallKey);
  Registry::WriteString(key.Get(), L"DisplayName", Names::DisplayName);
  // A product without a version resource has no version to show.
  SetOrRemove(key.Get(), L"DisplayVersion", version == L"0.0.0" ? L"" : version);
  SetOrRemove(key.Get(), L"Publisher", GetFileCompanyName(product));
  Registry::WriteString(key.Get(), L"DisplayIcon", product + L",0");
  Registry::WriteString(key.Get(), L"InstallLocation", productFolder);
  Registry::WriteString(key.Get(), L"InstallDate", Today());
  // A DWORD: Windows shows no size for any other type.
  Registry::WriteDword(key.Get(), L"EstimatedSize", static_cast<DWORD>(std::min<uint64_t>(kib, 0xFFFFFFFFu)));
  Registry::WriteDword(key.Get(), L"NoModify", 1);
  Registry::WriteDword(key.Get(), L"NoRepair", 1);
  Registry::WriteString(key.Get(), L"UninstallString", UninstallCommand(productFolder, false));
  Registry::WriteString(key.Get(), L"QuietUninstallString", UninstallCommand(productFolder, true));
}

void RegisterInstallation(const std::wstring& productFolder) {
  const std::wstring product = productFolder + Names::ProductExe;
  try {
    // The same link as on the desktop.
    CreateProgramsShortcut(product, Names::StartMenuShortcut, productFolder, product);
  } catch (...) {
    DebugReportCurrentException(L"Start-menu shortcut");
  }
  try {
    // An entry whose uninstaller is missing would offer a removal that does nothing.
    if (PlaceUninstaller(productFolder)) WriteUninstallEntry(productFolder);
  } catch (...) {
    DebugReportCurrentException(L"uninstall entry");
  }
}
