// The silent start-up check ("-checkmorvane"): with nothing newer the program ends unseen;
// with a newer release "Morvane.exe" relaunches a copy of itself, and the copy shows the
// window ready to update, with the release notes.
#include <windows.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "app/changes.h"
#include "app/launcher.h"
#include "system/processes.h"
#include "system/text.h"
#include "system/version_info.h"

void TFormLauncher::RunStartupCheck() {
  sWebBrowser1.SetVisible(true);
  sWebBrowser1.SetAlignClient(true);
  sImage1.SetVisible(false);
  sImage1.SetAlignClient(false);
  Realign();

  const std::wstring published = GetRemoteVersion(PublicFolderLink(), Names::VersionFile);
  if (published.empty()) {
    lblStatus.SetText(L"Не удалось получить версию обновления.");
    return;
  }
  InstalledVersion = GetFileVersionString(LocalAppDataBase() + Names::InstalledProductExe);
  const bool runsAsLauncher = OwnExeName() == Names::LauncherExe;

  if (CompareVersions(InstalledVersion, published) < 0) {
    if (runsAsLauncher) {
      const std::wstring copy = LocalAppDataBase() + Names::RelaunchedCopyPath;
      if (CopyFileW(OwnExePath().c_str(), copy.c_str(), FALSE)) {
        ShellExecuteW(nullptr, L"open", copy.c_str(), Switches::RelaunchParams, nullptr, SW_SHOWNORMAL);
        Close();
      }
      return;
    }
    Application.ShowMainForm = true;
    ProgressBar.SetProgress(0);
    btnUpdate.SetCaption(L"Обновить");
    btnUpdate.SetImageIndex(1);
    ProgressBar.SetVisible(false);
    ShowChanges(PublicFolderLink(), sWebBrowser1);
    return;
  }

  // Current or newer: the launcher started as "Morvane.exe" ends every instance of that name,
  // its own process among them.
  if (IsProcessRunning(Names::LauncherExe) && runsAsLauncher) KillProcessByName(Names::LauncherExe);
  Close();
}
