// The version check that the start-up check and the update command share: the published
// version from "version.txt" in the release folder against the installed product's.
#pragma once

#include <string>

class TLauncherWindow;

enum class TPublishedRelease {
  Blank,     // "version.txt" is empty or blank: nothing can be compared
  Newer,     // the published release is newer than the installed product
  NotNewer,  // the installed product is current or newer
};

// Reads the published version, stores the installed one in InstalledVersion and compares them.
// Raises when the published version cannot be read.
TPublishedRelease CheckPublishedRelease(TLauncherWindow& window);

// The published version text the last check read; empty before the first.
const std::wstring& LastPublishedVersion();
