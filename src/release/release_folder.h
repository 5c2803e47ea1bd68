// The client of the public release folder on the cloud disk.
#pragma once

#include <cstdint>
#include <string>

#include "release/response.h"

// The scheme and host of the cloud disk API, without a trailing "/".
std::wstring CloudApiRoot();

// A file of the public folder as its listing gives it.
struct TRemoteFile {
  std::wstring Link;    // the direct download link; never empty
  int64_t Size = -1;    // the listing's size in bytes; -1 when it gives none
  std::wstring Sha256;  // the listing's SHA-256, 64 lower-case hex digits; empty when it gives none
};

// Looks fileName up in the public folder, page by page; raises when it is not there or the
// listing's pages do not follow each other.
TRemoteFile FindRemoteFile(const std::wstring& publicLink, const std::wstring& fileName);

// The direct download link of fileName in the public folder; never empty, raises otherwise.
std::wstring GetDirectDownloadLink(const std::wstring& publicLink, const std::wstring& fileName);

// The content of fileName in the public folder, read as text and trimmed of every character
// up to U+0020 at both ends.
std::wstring GetRemoteVersionText(const std::wstring& publicLink, const std::wstring& fileName);
