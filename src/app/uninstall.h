// Removal of the installed product: run as the uninstaller kept in the product folder with
// "-uninstall" (asks first and reports at the end) or "-uninstall -quiet" (asks and tells nothing).
#pragma once

#include <string>
#include <vector>

// Exit codes of the removal.
inline constexpr int kUninstallDone = 0;        // everything was removed
inline constexpr int kUninstallIncomplete = 1;  // something stays; the entry stays with it
inline constexpr int kUninstallCancelled = 2;   // the user said No; nothing was changed

struct TRemovalReport {
  // Everything that could not be removed: files, folders, shortcuts, the registry entry.
  std::vector<std::wstring> Remaining;
  // Where the running uninstaller moved its own file out of the product folder; it is deleted
  // once the process has ended. Empty when it was not moved.
  std::wstring MovedImage;
};

// Stops every program running from productFolder (the calling one excepted), removes what lies
// in the folder and the folder itself, the desktop and Start-menu shortcuts "Tandrel.lnk" whose
// target lies in the folder, and, when nothing else remains, the entry. The calling program's
// own file, when it lies in the folder, goes last, moved out of the folder, and only when
// everything else went: an entry that stays keeps an uninstaller to run again.
TRemovalReport RemoveProduct(const std::wstring& productFolder);

// Whether this run is a removal: the "-uninstall" switch, or the program runs under the
// uninstaller's name.
bool UninstallRequested();
// The whole removal of the product installed below LOCALAPPDATA; returns the exit code.
int RunUninstall(bool quiet);

// Deletes the file once the calling process has ended, through a detached command interpreter
// that retries for about half a minute; it needs no rights beyond the user's own.
void DeleteAfterExit(const std::wstring& file);
