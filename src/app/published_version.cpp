#include "app/published_version.h"

#include "app/app_state.h"
#include "app/paths.h"
#include "release/release_folder.h"
#include "system/version_compare.h"
#include "system/version_info.h"

TPublishedRelease CheckPublishedRelease() {
  const std::wstring published = GetRemoteVersionText(PublicFolderLink(), Names::VersionFile);
  if (published.empty()) return TPublishedRelease::Blank;
  InstalledVersion = GetFileVersionString(LocalAppDataBase() + Names::InstalledProductExe);
  return CompareVersionTexts(InstalledVersion, published) < 0 ? TPublishedRelease::Newer
                                                               : TPublishedRelease::NotNewer;
}
