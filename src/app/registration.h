// What makes an installed product known to Windows: the uninstaller kept beside it, the
// Start-menu shortcut and the entry among the installed programs.
#pragma once

#include <string>

// The uninstaller's path in the product folder (which ends with "\").
std::wstring UninstallerPath(const std::wstring& productFolder);
// The command line Windows runs to remove the product: the uninstaller's quoted path, then
// "-uninstall", and "-quiet" for the form that asks nothing.
std::wstring UninstallCommand(const std::wstring& productFolder, bool quiet);

// After a completed installation: writes the Start-menu shortcut, puts the running launcher's
// copy in place as the uninstaller and writes the entry. Never raises: the product is installed
// whatever fails here; an entry is written only when an uninstaller stands behind it.
void RegisterInstallation(const std::wstring& productFolder);

// The entry below HKEY_CURRENT_USER for the product installed in productFolder: display name,
// the product's file version and company, its icon, folder, today's date, its size in KiB, no
// modify or repair, and the two uninstall commands. Raises when the registry refuses.
void WriteUninstallEntry(const std::wstring& productFolder);
