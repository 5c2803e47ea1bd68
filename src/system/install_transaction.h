// An installation into the product folder that happens all or not at all. Before the first
// change it writes a record of every change it will make into a folder of its own inside the
// product folder and flushes it. Then every new file is written and checked, while a few
// threads make the written files durable: one that replaces a file under a temporary name, one
// whose name is new to the folder under its own. Only once all of them are on the disk are the
// files they replace moved aside into that folder and their successors renamed into place. Any failure undoes every change; a record left by a killed run or a lost power
// is undone at the next start.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "system/zip_core.h"
#include "system/zip_judge.h"

// The installation's own folder inside the product folder. Releases may not use the name.
inline constexpr wchar_t kInstallWorkFolder[] = L"morvane-install";

struct TInstallOptions {
  // Called each time a file that another program holds open is asked again (about every
  // 100 ms, some 2 s in all, before the installation gives up).
  std::function<void(const std::wstring& path)> OnRetry;
  // Called before each change to the product folder, numbered from 1; may raise to fail there.
  std::function<void(int change)> BeforeChange;
  // The free bytes of the product folder's volume, in place of what the system says.
  std::optional<uint64_t> FreeSpace;
  // Called, from any thread, with the full path of each new file once its bytes are on the
  // disk, under the name it was written under (a temporary one when it replaces a file).
  std::function<void(const std::wstring& path)> OnDurable;
};

// Everything below the product folder, named relative to it; the installation's own folder is
// left out. Empty when the folder does not exist.
std::vector<TExistingName> ListProductFolder(const std::wstring& productFolder);

// Writes the judged entries into the product folder (a full path ending with "\", which must
// exist): all of them, or, when anything fails, none, the product folder left as it was. The
// failure is raised with its message naming the file.
void InstallZipItems(TZipSource& source, const std::vector<TZipItem>& items, const std::wstring& productFolder,
                     const TInstallOptions& options = {});

// Undoes an installation that a killed run or a lost power left in the product folder, or
// finishes the clean-up of one that had completed. Nothing to do when there is no record.
// Raises when a change cannot be undone; the record then stays for the next attempt.
void UndoInterruptedInstall(const std::wstring& productFolder);
