// Unit-wide state of the launcher, its fixed names and switches, and the application object.
// Everything here belongs to the main thread.
#pragma once

#include <string>

#include "system/uninstaller_name.h"

class TFormLauncher;

// The five unit-wide texts: empty at start, assigned whole, read and written on the main thread.
extern std::wstring PackageFileName;   // release archive to look up in the public folder
extern std::wstring InstalledVersion;  // file version of the installed product, or "0.0.0"
extern std::wstring DownloadUrl;       // direct download link of the release archive
extern std::wstring InstallDir;        // the product folder, always ending with a backslash
extern std::wstring PackagePath;       // InstallDir + "Update.zip"

// Public link of the release folder on the cloud disk, compiled in. Builds with test hooks take
// the environment variable MORVANE_PUBLIC_FOLDER_LINK instead when it is set.
std::wstring PublicFolderLink();

// Fixed file, folder and process names.
namespace Names {
inline constexpr wchar_t LocalAppDataVariable[] = L"LOCALAPPDATA";
inline constexpr wchar_t ProductFolder[] = L"Tandrel\\";                 // below LOCALAPPDATA
inline constexpr wchar_t InstalledProductExe[] = L"Tandrel\\Tandrel.exe"; // below LOCALAPPDATA
inline constexpr wchar_t RelaunchedCopyPath[] = L"Tandrel\\morvane_old.exe";  // below LOCALAPPDATA
inline constexpr wchar_t ProductExe[] = L"Tandrel.exe";
inline constexpr wchar_t ProductAiExe[] = L"TandrelAI.exe";
inline constexpr wchar_t ReleaseArchive[] = L"Tandrel.zip";
inline constexpr wchar_t UpdateArchive[] = L"Update.zip";
inline constexpr wchar_t DesktopShortcut[] = L"Tandrel.lnk";
inline constexpr wchar_t LauncherExe[] = L"Morvane.exe";
inline constexpr wchar_t RelaunchedCopyExe[] = L"morvane_old.exe";
inline constexpr wchar_t VersionFile[] = L"version.txt";
inline constexpr wchar_t ChangesFile[] = L"Changes.txt";
inline constexpr wchar_t ChangesPage[] = L"temp.html";
inline constexpr wchar_t StartMenuShortcut[] = L"Tandrel.lnk";  // in the Start menu's programs folder
// The copy of the launcher kept in the product folder to remove the product.
inline constexpr const wchar_t* UninstallerExe = kUninstallerExe;
// The product's entry among the installed programs, below HKEY_CURRENT_USER.
inline constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tandrel";
inline constexpr wchar_t DisplayName[] = L"Tandrel";
}  // namespace Names

// Command-line switches.
namespace Switches {
inline constexpr wchar_t CheckMorvane[] = L"checkmorvane";         // accepted, with "-" or "/"
inline constexpr wchar_t RelaunchParams[] = L"-checkmorvane";      // given to the relaunched copy
inline constexpr wchar_t ProductAfterUpdate[] = L"-mrv_del";       // given to the product
inline constexpr wchar_t Uninstall[] = L"uninstall";               // accepted: remove the product
inline constexpr wchar_t Quiet[] = L"quiet";                       // with it: ask and tell nothing
}  // namespace Switches

// The application object.
struct TApplication {
  // The taskbar button belongs to the main window itself.
  bool MainFormOnTaskBar = true;
  TFormLauncher* MainForm = nullptr;
};
extern TApplication Application;

