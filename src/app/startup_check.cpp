#include "app/startup_check.h"

#include <windows.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "app/changes.h"
#include "app/paths.h"
#include "app/published_version.h"
#include "app/signed_release.h"
#include "app/update_lock.h"
#include "system/install_lock.h"
#include "system/install_transaction.h"
#include "system/processes.h"
#include "system/win_error.h"

TStartupDecision RunStartupCheck(TLauncherWindow& window) {
  window.sWebBrowser1.SetVisible(true);
  window.sWebBrowser1.SetAlignClient(true);
  window.sImage1.SetVisible(false);
  window.sImage1.SetAlignClient(false);
  window.Realign();

  // Another launcher updates the product now: the check ends unseen, stops nothing and starts
  // no copy.
  const std::wstring productFolder = LocalAppDataBase() + Names::ProductFolder;
  if (UpdateRunsElsewhere(productFolder)) {
    window.Close();
    return TStartupDecision::Closed;
  }

  const TPublishedRelease release = CheckPublishedRelease(window);
  if (release == TPublishedRelease::Blank) {
    window.lblStatus.SetText(L"Не удалось получить версию обновления.");
    return TStartupDecision::StayHidden;
  }
  const bool runsAsLauncher = OwnExeName() == Names::LauncherExe;

  if (release == TPublishedRelease::Newer) {
    if (runsAsLauncher) {
      // The check took a while: one that began meanwhile still keeps its folder to itself.
      if (UpdateRunsElsewhere(productFolder)) return TStartupDecision::StayHidden;
      const std::wstring copy = LocalAppDataBase() + Names::RelaunchedCopyPath;
      if (!CopyFileW(OwnExePath().c_str(), copy.c_str(), FALSE)) return TStartupDecision::StayHidden;
      ShellExecuteW(nullptr, L"open", copy.c_str(), Switches::RelaunchParams, nullptr, SW_SHOWNORMAL);
      window.Close();
      return TStartupDecision::Closed;
    }
    // From here on the window is shown, whatever the notes do.
    window.ProgressBar.SetProgress(0);
    window.btnUpdate.SetCaption(L"Обновить");
    window.btnUpdate.SetImageIndex(1);
    window.ProgressBar.SetVisible(false);
    try {
      ShowSignedChanges(PublicFolderLink(), LastPublishedVersion(), window.sWebBrowser1);
    } catch (...) {
      // The window is shown all the same, with an empty web view.
      DebugReportCurrentException(L"release notes");
    }
    return TStartupDecision::ShowWindow;
  }

  // Current or newer: the launcher started as "Morvane.exe" ends every instance of that name,
  // its own process among them.
  // Held while it stops them, so that no launcher is stopped in the middle of an update; when
  // another one updates, nothing is stopped.
  if (IsProcessRunning(Names::LauncherExe) && runsAsLauncher && TakeUpdateLock(productFolder)) {
    KillProcessByName(Names::LauncherExe);
    ReleaseUpdateLock();
  }
  window.Close();
  return TStartupDecision::Closed;
}

void UndoInterruptedInstallAtStart() {
  try {
    const std::wstring productFolder = LocalAppDataBase() + Names::ProductFolder;
    // A launcher that installs at this moment owns the record: it is left alone, and this
    // start does not wait for it.
    TInstallLock lock(productFolder);
    if (!lock.TryAcquire()) return;
    UndoInterruptedInstall(productFolder);
  } catch (...) {
    DebugReportCurrentException(L"undo of an interrupted installation");
  }
}
