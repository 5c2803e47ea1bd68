// The client of the public release folder on the cloud disk.
#pragma once

#include <string>

#include "release/response.h"

// The scheme and host of the cloud disk API, without a trailing "/".
std::wstring CloudApiRoot();

// The direct download link of fileName in the public folder; never empty, raises otherwise.
std::wstring GetDirectDownloadLink(const std::wstring& publicLink, const std::wstring& fileName);

// The content of fileName in the public folder, read as text and trimmed of every character
// up to U+0020 at both ends.
std::wstring GetRemoteVersionText(const std::wstring& publicLink, const std::wstring& fileName);
