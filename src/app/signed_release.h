// Signed releases: with the publisher's public keys compiled in, the launcher installs only an
// archive that the publisher's statement "Tandrel.zip.sig" names (system/release_statement.h),
// signed by one of those keys, for exactly the published version. Without keys it checks
// nothing of this and behaves as before.
#pragma once

#include <string>
#include <vector>

#include "release/listing.h"
#include "release/release_folder.h"
#include "skin/controls.h"
#include "system/errors.h"
#include "system/release_statement.h"

// A release the launcher will not install; its message is meant for the user and goes after
// "Ошибка загрузки: ".
class TReleaseRefused : public EReleaseRefused {
 public:
  using EReleaseRefused::EReleaseRefused;
};

// The public key lines the program trusts: the compiled-in ones. Builds with test hooks take
// the environment variable MORVANE_RELEASE_KEYS instead when it is set (lines separated by ";";
// "none" for no key).
std::vector<std::string> ReleaseKeyLines();
bool SignedReleasesRequired();

// Reads "<packageName>.sig" from the public folder and checks it: the signature by one of the
// keys, the product, and a version that is exactly publishedVersion. Raises TReleaseRefused on
// each refusal and the folder client's Exception when the file cannot be read for another reason.
TReleaseStatement ReadSignedStatement(const std::wstring& folderLink, const std::wstring& packageName,
                                      const std::wstring& publishedVersion);

// The archive the download must produce. With keys: the signed size and SHA-256, after the
// listing's own values (where it gives them) agree with them, else TReleaseRefused. Without
// keys: the listing's values.
struct TExpectedArchive {
  int64_t Size = -1;
  std::wstring Sha256;
};
TExpectedArchive ExpectedArchive(const std::wstring& folderLink, const std::wstring& packageName,
                                 const std::wstring& publishedVersion, const TRemoteFile& listed);

// The relaunched copy's release notes: with keys, shown only when they are the notes the
// statement names; raises otherwise (the window then shows none).
void ShowSignedChanges(const std::wstring& folderLink, const std::wstring& publishedVersion, Skin::TsWebBrowser& webView);
