#include "app/uninstall.h"

#include <windows.h>

#include <optional>

#include "app/app_state.h"
#include "app/command_line_win.h"
#include "app/paths.h"
#include "app/registration.h"
#include "system/errors.h"
#include "system/file_stream.h"
#include "system/file_tree.h"
#include "system/handles.h"
#include "system/install_lock.h"
#include "system/processes.h"
#include "system/registry.h"
#include "system/shortcut.h"
#include "system/temp_files.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {
constexpr wchar_t kCaption[] = L"Удаление Tandrel";
// How many times a file that is still in use is asked again, and the pause between.
constexpr int kRemoveAttempts = 10;
constexpr DWORD kRemovePauseMs = 100;
// How many of the names left behind the message lists.
constexpr size_t kListedRemains = 10;

bool Gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Removes a file, a link or an empty folder; a program that has just been stopped may still
// hold its files for a moment. Read-only files are made writable first.
bool RemoveEntry(const std::wstring& path, bool folder) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && Gone(GetLastError())) return true;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  for (int attempt = 1;; ++attempt) {
    if (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    if (Gone(error)) return true;
    // A folder that still holds something is not waited for: what it holds is reported.
    if (error == ERROR_DIR_NOT_EMPTY || attempt == kRemoveAttempts) return false;
    Sleep(kRemovePauseMs);
  }
}

std::wstring WithBackslash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

std::wstring ParentFolder(const std::wstring& path) {
  const size_t cut = path.find_last_of(L'\\', path.size() >= 2 ? path.size() - 2 : 0);
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

// Every program whose executable lies in the folder, at any depth, is stopped.
void StopFolderPrograms(const std::vector<TTreeEntry>& tree) {
  for (const TTreeEntry& entry : tree) {
    if (entry.IsFolder || entry.IsLink) continue;
    const std::wstring name = ExtractFileName(entry.Path);
    if (name.size() > 4 && SameTextAscii(std::wstring_view(name).substr(name.size() - 4), L".exe"))
      StopProcessesInFolder(name, ParentFolder(entry.Path));
  }
}

// Removes the link of that name in the folder when it points into the product folder.
void RemoveOurShortcut(const std::wstring& folder, const wchar_t* linkName, const std::wstring& productFolder,
                       TRemovalReport& report) {
  if (folder.empty()) return;
  const std::wstring link = WithBackslash(folder) + linkName;
  if (!FileExists(link)) return;
  const std::optional<std::wstring> target = ReadShortcutTarget(link);
  // Somebody else's link of the same name stays.
  if (!target || !PathIsInside(*target, productFolder)) return;
  if (!RemoveEntry(link, false)) report.Remaining.push_back(link);
}

// Moves the running program's file out of the product folder: a running program's file cannot
// be deleted, but it can be renamed on its volume. First into the temporary folder, else beside
// the product folder, which is on the same volume for sure.
std::wstring MoveOwnImageOut(const std::wstring& own, const std::wstring& productFolder) {
  const std::wstring unique = L"Morvane-uninstall-" + IntToStr(GetCurrentProcessId()) + L".exe";
  std::vector<std::wstring> places;
  try {
    places.push_back(TempFolder() + unique);
  } catch (...) {
    DebugReportCurrentException(L"temporary folder");
  }
  places.push_back(ParentFolder(WithBackslash(productFolder)) + unique);
  for (const std::wstring& place : places)
    if (MoveFileExW(own.c_str(), place.c_str(), MOVEFILE_REPLACE_EXISTING)) return place;
  return L"";
}

void Tell(const std::wstring& text, UINT icon) {
  MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | icon | MB_TOPMOST | MB_SETFOREGROUND);
}

std::wstring IncompleteText(const std::vector<std::wstring>& remaining) {
  std::wstring text = L"Удаление Tandrel не завершено.\n\nНе удалось удалить:\n";
  for (size_t i = 0; i < remaining.size() && i < kListedRemains; ++i) text += remaining[i] + L"\n";
  if (remaining.size() > kListedRemains)
    text += L"и ещё " + IntToStr(static_cast<int64_t>(remaining.size() - kListedRemains)) + L"\n";
  text += L"\nЗакройте программы, которые используют эти файлы, и запустите удаление ещё раз.";
  return text;
}
}  // namespace

TRemovalReport RemoveProduct(const std::wstring& productFolderIn) {
  TRemovalReport report;
  const std::wstring productFolder = WithBackslash(ExpandFileName(productFolderIn));
  const std::wstring own = OwnExePath();
  const bool ownInside = PathIsInside(own, productFolder);

  StopFolderPrograms(ListTree(productFolder));
  // Listed again: the stopped programs may have written on their way out.
  for (const TTreeEntry& entry : ListTree(productFolder)) {
    if (!entry.IsFolder && SamePath(entry.Path, own)) continue;
    if (RemoveEntry(entry.Path, entry.IsFolder)) continue;
    // A folder that stays because of something already named is not named again.
    if (entry.IsFolder && !entry.IsLink && !report.Remaining.empty() &&
        PathIsInside(report.Remaining.back(), entry.Path))
      continue;
    report.Remaining.push_back(entry.Path);
  }

  RemoveOurShortcut(GetDesktopFolder(), Names::DesktopShortcut, productFolder, report);
  RemoveOurShortcut(GetProgramsFolder(), Names::StartMenuShortcut, productFolder, report);
  if (!report.Remaining.empty()) return report;

  if (ownInside && FileExists(own)) {
    report.MovedImage = MoveOwnImageOut(own, productFolder);
    if (report.MovedImage.empty()) {
      report.Remaining.push_back(own);
      return report;
    }
  }
  if (!RemoveEntry(productFolder, true)) {
    report.Remaining.push_back(productFolder);
    // The entry stays: its uninstaller goes back in place for the next attempt.
    if (!report.MovedImage.empty() && MoveFileExW(report.MovedImage.c_str(), own.c_str(), 0)) report.MovedImage.clear();
    return report;
  }
  DWORD error = 0;
  if (!Registry::DeleteUserKeyTree(Names::UninstallKey, &error))
    report.Remaining.push_back(L"HKEY_CURRENT_USER\\" + std::wstring(Names::UninstallKey) + L" (" +
                               SysErrorMessage(error) + L")");
  return report;
}

bool UninstallRequested() {
  return HasCommandLineSwitch(Switches::Uninstall, true) ||
         CommandLine::SystemEquals(OwnExeName(), Names::UninstallerExe, true);
}

int RunUninstall(bool quiet) {
  std::wstring productFolder;
  try {
    productFolder = LocalAppDataBase() + Names::ProductFolder;
  } catch (...) {
    if (!quiet) Tell(CurrentExceptionText(), MB_ICONERROR);
    return kUninstallIncomplete;
  }
  if (!quiet) {
    const std::wstring shown = productFolder.substr(0, productFolder.size() - 1);  // without the final "\"
    const std::wstring question = L"Удалить Tandrel с этого компьютера?\n\nБудут удалены все файлы в папке\n" +
                                  shown + L"\nи ярлыки Tandrel на рабочем столе и в меню «Пуск».";
    if (MessageBoxW(nullptr, question.c_str(), kCaption,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TOPMOST | MB_SETFOREGROUND) != IDYES)
      return kUninstallCancelled;
  }
  // Never while a launcher installs or updates the product: its installation would be cut
  // under it. Held to the end of the removal, so none starts meanwhile.
  std::optional<TInstallLock> lock;
  try {
    lock.emplace(productFolder);
  } catch (...) {
    if (!quiet) Tell(CurrentExceptionText(), MB_ICONERROR);
    return kUninstallIncomplete;
  }
  if (!lock->TryAcquire()) {
    if (!quiet)
      Tell(L"Tandrel сейчас обновляется. Удаление не начато: дождитесь конца обновления и повторите.",
           MB_ICONWARNING);
    return kUninstallIncomplete;
  }
  // A current folder inside the product folder would keep it from being removed.
  wchar_t system[MAX_PATH] = {};
  if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);

  const TRemovalReport report = RemoveProduct(productFolder);
  if (!quiet) {
    if (report.Remaining.empty())
      Tell(L"Tandrel удалён с этого компьютера.", MB_ICONINFORMATION);
    else
      Tell(IncompleteText(report.Remaining), MB_ICONWARNING);
  }
  if (!report.MovedImage.empty()) DeleteAfterExit(report.MovedImage);
  return report.Remaining.empty() ? kUninstallDone : kUninstallIncomplete;
}

void DeleteAfterExit(const std::wstring& file) {
  wchar_t system[MAX_PATH] = {};
  if (!GetSystemDirectoryW(system, MAX_PATH)) return;
  const std::wstring shell = std::wstring(system) + L"\\cmd.exe";
  const std::wstring quoted = L"\"" + file + L"\"";
  // Each round waits about a second (ping's pause between its two echoes), then tries.
  std::wstring line = L"\"" + shell + L"\" /d /q /c \"for /l %i in (1,1,30) do @(ping -n 2 127.0.0.1 >nul & del /f /q " +
                      quoted + L" >nul 2>&1 & if not exist " + quoted + L" exit /b 0)\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP,
                     nullptr, system, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}
