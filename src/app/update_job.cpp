// The update command and the download-and-install job: the button checks the published
// version, downloads the release archive on a background thread while the gauge follows it,
// installs it on the main thread, starts the product and closes the window.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <thread>

#include "app/app_state.h"
#include "app/launcher.h"
#include "system/main_queue.h"
#include "release/downloader.h"
#include "release/release_folder.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/processes.h"
#include "system/shortcut.h"
#include "system/text.h"
#include "system/version_compare.h"
#include "system/version_info.h"
#include "system/zip_extract.h"

namespace {

// What one download shares between the main thread and the job's background thread.
struct TUpdateJob {
  TFormLauncher* Form = nullptr;
  std::unique_ptr<TParallelDownloader> Downloader;
  // The message of the failure that ended the download. A separate flag decides, so that a
  // failure whose message happens to be empty is never taken for a complete download.
  bool Failed = false;
  std::wstring CompletionText;
};


}  // namespace

std::wstring LocalAppDataBase() {
  std::wstring base;
  const DWORD len = GetEnvironmentVariableW(Names::LocalAppDataVariable, nullptr, 0);
  if (len > 0) {
    base.resize(len);
    base.resize(GetEnvironmentVariableW(Names::LocalAppDataVariable, base.data(), len));
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

std::wstring TFormLauncher::GetFileLink(const std::wstring& folderLink, const std::wstring& fileName) {
  return GetDirectDownloadLink(folderLink, fileName);
}

std::wstring TFormLauncher::GetRemoteVersion(const std::wstring& folderLink, const std::wstring& fileName) {
  return GetRemoteVersionText(folderLink, fileName);
}

int TFormLauncher::CompareVersions(const std::wstring& first, const std::wstring& second) {
  return CompareVersionTexts(first, second);
}

void TFormLauncher::btnUpdateClick(TObject* /*Sender*/) {
  btnUpdate.SetEnabled(false);
  if (IsWindows64()) PackageFileName = Names::ReleaseArchive;

  // A launcher running under another name (the relaunched copy) stops every "Morvane.exe". The
  // lookup ignores letter case, so a launcher named, say, "morvane.EXE" finds itself: it stops
  // the others and never itself.
  if (IsProcessRunning(Names::LauncherExe) && OwnExeName() != Names::LauncherExe)
    KillProcessByNameExcept(Names::LauncherExe, GetCurrentProcessId());
  if (IsProcessRunning(Names::ProductAiExe)) KillProcessByName(Names::ProductAiExe);
  if (IsProcessRunning(Names::ProductExe)) KillProcessByName(Names::ProductExe);

  lblStatus.SetText(L"Проверка версии...");
  try {
    const std::wstring published = GetRemoteVersion(PublicFolderLink(), Names::VersionFile);
    if (published.empty()) {
      lblStatus.SetText(L"Не удалось получить версию обновления.");
      return;
    }
    InstalledVersion = GetFileVersionString(LocalAppDataBase() + Names::InstalledProductExe);
    if (CompareVersions(InstalledVersion, published) < 0) {
      UpdateProgram(PublicFolderLink(), PackageFileName);
      return;
    }
    btnUpdate.SetEnabled(true);
    lblStatus.SetText(L"Актуальная версия уже установлена");
    ProgressBar.SetVisible(false);
  } catch (...) {
    btnUpdate.SetEnabled(true);
    lblStatus.SetText(L"Ошибка: " + CurrentExceptionText());
  }
}

void TFormLauncher::UpdateProgram(const std::wstring& folderLink, const std::wstring& packageName) {
  auto job = std::make_shared<TUpdateJob>();
  job->Form = this;

  InstallDir = LocalAppDataBase() + Names::ProductFolder;
  if (!DirectoryExists(InstallDir)) ForceDirectories(InstallDir);
  PackagePath = InstallDir + Names::UpdateArchive;
  // The listing also publishes the archive's size and SHA-256, which the download checks.
  const TRemoteFile package = FindRemoteFile(folderLink, packageName);
  DownloadUrl = package.Link;

  lblStatus.SetText(L"Скачивание обновления...");
  ProgressBar.SetProgress(0);
  ProgressBar.SetVisible(true);

  job->Downloader = std::make_unique<TParallelDownloader>(DownloadUrl, PackagePath, 4, package.Size, package.Sha256);
  job->Downloader->SetOnProgress([this](void*, int64_t Downloaded, int64_t Total) {
    // The maximum first, so that the new position is not held down by the old one.
    ProgressBar.SetMaxValue(Total);
    ProgressBar.SetProgress(Downloaded);
  });

  std::thread([job] {
    try {
      job->Downloader->Start();
    } catch (...) {
      job->Failed = true;
      job->CompletionText = CurrentExceptionText();
    }
    // Reports the downloader posted earlier run first: the queue keeps the order of posting.
    MainQueue::Post([job] {
      if (job->Failed) {
        job->Form->lblStatus.SetText(L"Ошибка загрузки: " + job->CompletionText);
        job->Form->ProgressBar.SetVisible(false);
      } else {
        job->Form->InstallUpdate();
      }
      job->Downloader.reset();
    });
  }).detach();
}

void TFormLauncher::InstallUpdate() {
  lblStatus.SetText(L"Установка...");
  try {
    ExtractPackage(PackagePath, InstallDir);
    const std::wstring product = InstallDir + Names::ProductExe;
    CreateDesktopShortcut(product, Names::DesktopShortcut, InstallDir, product);
    DeleteFileW(PackagePath.c_str());
    lblStatus.SetText(L"Обновление завершено!");
    ProgressBar.SetVisible(false);
    const bool relaunchedCopy = OwnExeName() == Names::RelaunchedCopyExe;
    ShellExecuteW(nullptr, L"open", product.c_str(), relaunchedCopy ? Switches::ProductAfterUpdate : nullptr, nullptr,
                  SW_SHOWNORMAL);
    Close();
  } catch (...) {
    lblStatus.SetText(L"Ошибка при распаковке: " + CurrentExceptionText());
  }
}
