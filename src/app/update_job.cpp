#include "app/update_job.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <thread>

#include "app/app_state.h"
#include "app/partial_update.h"
#include "app/paths.h"
#include "app/published_version.h"
#include "app/registration.h"
#include "app/signed_release.h"
#include "app/update_lock.h"
#include "release/downloader.h"
#include "release/release_folder.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/main_queue.h"
#include "system/processes.h"
#include "system/shortcut.h"
#include "system/win_error.h"
#include "system/zip_extract.h"

namespace {

// What one download shares between the main thread and the job's background thread.
struct TUpdateJob {
  TLauncherWindow* Window = nullptr;
  std::unique_ptr<TParallelDownloader> Downloader;
  // Only the entries that differ from the installed product, when that path served: the
  // downloader it ran and the entries to install.
  TEntryUpdateSource EntrySource;
  std::unique_ptr<TParallelDownloader> EntryDownloader;
  std::optional<std::vector<uint64_t>> Entries;
  // The message of the failure that ended the download. A separate flag decides, so that a
  // failure whose message happens to be empty is never taken for a complete download.
  bool Failed = false;
  std::wstring CompletionText;
};

// Stops the product's own processes: those whose image lies in the product folder.
void StopProduct(const std::wstring& productFolder) {
  StopProcessesInFolder(Names::ProductAiExe, productFolder);
  StopProcessesInFolder(Names::ProductExe, productFolder);
}

// On the main thread, after every progress report the downloader posted.
void Complete(TUpdateJob& job) {
  TLauncherWindow& window = *job.Window;
  // A window that has closed takes nothing more: no installation, no start of the product.
  if (window.Closed()) return;
  if (job.Failed) {
    window.lblStatus.SetText(L"Ошибка загрузки: " + job.CompletionText);
    window.ProgressBar.SetVisible(false);
  } else {
    InstallDownloadedUpdate(window, job.Entries ? &*job.Entries : nullptr);
  }
}

}  // namespace

void RunUpdateCommand(TLauncherWindow& window) {
  window.btnUpdate.SetEnabled(false);
  if (IsWindows64()) PackageFileName = Names::ReleaseArchive;

  // Another launcher updates the product: this one stops nothing and downloads nothing, and
  // checks again once that one has finished. The lock stays from here to the end of the job.
  const std::wstring productFolder = LocalAppDataBase() + Names::ProductFolder;
  try {
    if (!TakeUpdateLock(productFolder)) {
      WaitForUpdateElsewhere(window, productFolder);
      return;
    }
  } catch (...) {
    window.btnUpdate.SetEnabled(true);
    window.lblStatus.SetText(L"Ошибка: " + CurrentExceptionText());
    return;
  }

  // A launcher running under another name (the relaunched copy) stops every "Morvane.exe". The
  // lookup ignores letter case, so a launcher named, say, "morvane.EXE" finds itself: it stops
  // the others and never itself.
  if (IsProcessRunning(Names::LauncherExe) && OwnExeName() != Names::LauncherExe)
    KillProcessByNameExcept(Names::LauncherExe, GetCurrentProcessId());
  // The product only where it is installed: a program of the same name elsewhere, or this very
  // launcher saved under the product's name, keeps running.
  try {
    StopProduct(LocalAppDataBase() + Names::ProductFolder);
  } catch (...) {
    // No product folder to look in: the check below fails on the same and says so.
    DebugReportCurrentException(L"stopping the product");
  }

  window.lblStatus.SetText(L"Проверка версии...");
  try {
    switch (CheckPublishedRelease(window)) {
      case TPublishedRelease::Blank:
        ReleaseUpdateLock();
        window.lblStatus.SetText(L"Не удалось получить версию обновления.");
        return;
      case TPublishedRelease::Newer:
        StartUpdateJob(window, PublicFolderLink(), PackageFileName);
        return;
      case TPublishedRelease::NotNewer:
        ReleaseUpdateLock();
        window.btnUpdate.SetEnabled(true);
        window.lblStatus.SetText(L"Актуальная версия уже установлена");
        window.ProgressBar.SetVisible(false);
        return;
    }
  } catch (const EReleaseRefused& refusal) {
    ReleaseUpdateLock();
    // Nothing was downloaded; as after a failed download, the button stays disabled.
    window.lblStatus.SetText(L"Ошибка загрузки: " + refusal.Message());
    window.ProgressBar.SetVisible(false);
  } catch (...) {
    ReleaseUpdateLock();
    window.btnUpdate.SetEnabled(true);
    window.lblStatus.SetText(L"Ошибка: " + CurrentExceptionText());
  }
}

void StartUpdateJob(TLauncherWindow& window, const std::wstring& folderLink, const std::wstring& packageName) {
  auto job = std::make_shared<TUpdateJob>();
  job->Window = &window;

  InstallDir = LocalAppDataBase() + Names::ProductFolder;
  // Only the launcher that holds the lock writes the archive and its part files.
  if (!TakeUpdateLock(InstallDir)) throw Exception(kUpdateRunsElsewhere);
  if (!DirectoryExists(InstallDir)) ForceDirectories(InstallDir);
  PackagePath = InstallDir + Names::UpdateArchive;
  // The listing also publishes the archive's size and SHA-256, which the download checks.
  const TRemoteFile package = window.GetFileLink(folderLink, packageName);
  DownloadUrl = package.Link;
  // With the publisher's keys compiled in, the signed statement decides what must arrive.
  const TExpectedArchive expected = ExpectedArchive(folderLink, packageName, LastPublishedVersion(), package);

  window.lblStatus.SetText(L"Скачивание обновления...");
  window.ProgressBar.SetProgress(0);
  window.ProgressBar.SetVisible(true);

  job->Downloader = std::make_unique<TParallelDownloader>(DownloadUrl, PackagePath, 4, expected.Size, expected.Sha256);
  job->Downloader->SetOnProgress([&window](void*, int64_t Downloaded, int64_t Total) {
    // The maximum first, so that the new position is not held down by the old one.
    window.ProgressBar.SetMaxValue(Total);
    window.ProgressBar.SetProgress(Downloaded);
  });
  job->EntrySource = {folderLink, packageName, DownloadUrl, expected.Size, expected.Sha256,
                      InstallDir, PackagePath, job->Downloader->OnProgress()};

  std::thread([job] {
    try {
      // Only what differs from the installed product when that can serve, else the whole archive.
      job->Entries = DownloadChangedEntries(job->EntrySource, job->EntryDownloader);
      if (!job->Entries) job->Downloader->Start();
    } catch (...) {
      job->Failed = true;
      job->CompletionText = CurrentExceptionText();
    }
    // Reports the downloader posted earlier run first: the queue keeps the order of posting.
    MainQueue::Post([job] {
      Complete(*job);
      job->Downloader.reset();
      job->EntryDownloader.reset();
      // The installation has ended, well or not: other launchers may update from here on.
      ReleaseUpdateLock();
    });
  }).detach();
}

void InstallDownloadedUpdate(TLauncherWindow& window, const std::vector<uint64_t>* entries) {
  window.lblStatus.SetText(L"Установка...");
  try {
    // The download may have taken minutes: a product started again meanwhile would hold its files.
    StopProduct(InstallDir);
    if (entries)
      ExtractPackageEntries(PackagePath, InstallDir, *entries);
    else
      ExtractPackage(PackagePath, InstallDir);
    const std::wstring product = InstallDir + Names::ProductExe;
    CreateDesktopShortcut(product, Names::DesktopShortcut, InstallDir, product);
    DeleteFileW(PackagePath.c_str());
    // The Start-menu shortcut, the uninstaller and the entry among the installed programs.
    RegisterInstallation(InstallDir);
    window.lblStatus.SetText(L"Обновление завершено!");
    window.ProgressBar.SetVisible(false);
    const bool relaunchedCopy = OwnExeName() == Names::RelaunchedCopyExe;
    // Started in the product folder, as the shortcut starts it.
    ShellExecuteW(nullptr, L"open", product.c_str(), relaunchedCopy ? Switches::ProductAfterUpdate : nullptr,
                  InstallDir.c_str(), SW_SHOWNORMAL);
    window.Close();
  } catch (...) {
    window.lblStatus.SetText(L"Ошибка при распаковке: " + CurrentExceptionText());
  }
}
