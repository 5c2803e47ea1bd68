// The file name of the uninstaller the launcher keeps in the product folder (a copy of itself).
// The installation reserves it: no release may carry a file of that name at its top level.
#pragma once

inline constexpr wchar_t kUninstallerExe[] = L"Uninstall Tandrel.exe";
