// The update command and the download-and-install job: the button checks the published
// version, downloads the release archive on a background thread while the gauge follows it,
// installs it on the main thread, starts the product and closes the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/launcher_window.h"

// What the window's button does. Raises nothing: its failures are shown in the window.
void RunUpdateCommand(TLauncherWindow& window);
// Fixes the product folder and the archive's path, looks up the archive's direct link and
// starts the download on a thread of its own. A failed lookup is raised before anything is
// shown or started.
void StartUpdateJob(TLauncherWindow& window, const std::wstring& folderLink, const std::wstring& packageName);
// Extracts the downloaded archive (only the entries at the given local header offsets, when
// the download fetched only those), writes the shortcut, starts the product and closes the
// window; a failure is shown in the window instead.
void InstallDownloadedUpdate(TLauncherWindow& window, const std::vector<uint64_t>* entries = nullptr);
