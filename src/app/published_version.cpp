#include "app/published_version.h"

#include "app/app_state.h"
#include "app/paths.h"
#include "app/launcher_window.h"
#include "system/version_info.h"

namespace {
std::wstring LastPublished;
}  // namespace

const std::wstring& LastPublishedVersion() { return LastPublished; }

TPublishedRelease CheckPublishedRelease(TLauncherWindow& window) {
  const std::wstring published = window.GetRemoteVersion(PublicFolderLink(), Names::VersionFile);
  LastPublished = published;
  if (published.empty()) return TPublishedRelease::Blank;
  InstalledVersion = GetFileVersionString(LocalAppDataBase() + Names::InstalledProductExe);
  return window.CompareVersions(InstalledVersion, published) < 0 ? TPublishedRelease::Newer
                                                                : TPublishedRelease::NotNewer;
}
