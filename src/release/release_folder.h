// The client of the public release folder on the cloud disk.
#pragma once

#include <cstdint>
#include <memory>
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

// A GET of the cloud's own answers (listing pages, small files): a transfer failure or a
// passing server error (408, 429, 5xx) is asked again up to kPartRetries times after growing
// pauses, or after the server's "Retry-After" up to a cap. On the main thread the window keeps
// running its messages during the pauses. The final answer goes through CheckResponse with
// context.
std::unique_ptr<THttpResponse> GetWithRetries(const std::wstring& url, const std::wstring& context);

// Looks fileName up in the public folder, page by page; raises when it is not there, when the
// listing's pages do not follow each other, or when its link is not HTTPS and the listing
// publishes no checksum for it.
TRemoteFile FindRemoteFile(const std::wstring& publicLink, const std::wstring& fileName);

// The direct download link of fileName in the public folder; never empty, raises otherwise.
std::wstring GetDirectDownloadLink(const std::wstring& publicLink, const std::wstring& fileName);

// The bytes of fileName in the public folder, held to the listing's checksum when it gives one.
std::string GetRemoteFileBytes(const std::wstring& publicLink, const std::wstring& fileName,
                               const std::wstring& context);
// The same for a file already looked up: asked again after passing failures (GetWithRetries),
// inflated when the server compressed it for the way, held to the listing's checksum.
std::string GetRemoteFileBytes(const TRemoteFile& file, const std::wstring& context);

// The content of fileName in the public folder (held to the listing's checksum when it gives
// one), read as text and trimmed of every character
// up to U+0020 at both ends.
std::wstring GetRemoteVersionText(const std::wstring& publicLink, const std::wstring& fileName);
