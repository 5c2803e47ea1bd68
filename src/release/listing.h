// The listing of the public release folder: the request URL and the search of an answer.
// Portable: the answer is untrusted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "system/errors.h"

// What the folder publishes and the program must not trust (a malformed checksum, a link that
// can be changed on the way with no checksum to hold it to): nothing is downloaded, and the
// message goes after "Ошибка загрузки: ".
class EReleaseRefused : public Exception {
 public:
  using Exception::Exception;
};

// The public link encoded for the query: letters, digits and ! $ ' ( ) * - . @ _ stay,
// a space becomes "+", everything else is percent-encoded from its UTF-8 bytes.
std::wstring EncodeQueryValue(std::wstring_view text);

// "<apiRoot>/v1/disk/public/resources?public_key=<encoded link>", plus "&offset=<n>" for the
// later pages of a large folder.
std::wstring ListingUrl(std::wstring_view apiRoot, std::wstring_view publicLink, int64_t offset = 0);

// What one listing answer says about the wanted file.
struct TListingPage {
  std::wstring Link;      // the direct link; empty when not found on this page
  bool Found = false;     // an entry of that name was met (its link may still be empty)
  int64_t Size = -1;       // the entry's "size" in bytes; -1 when the listing gives none
  std::wstring Sha256;     // the entry's "sha256", 64 lower-case hex digits; empty when none
                           // (a malformed one fails the search)
  bool MoreFollow = false;
  int64_t Offset = -1;     // the answer's own "offset"; -1 when it gives none
  int64_t NextOffset = 0;  // the offset of the next page when MoreFollow
};

// The most pages of one folder the program reads before it gives up on the listing.
constexpr int kMaxListingPages = 1000;

// The deepest nesting of arrays and objects an answer may have; deeper is a parse error.
constexpr int kMaxJsonDepth = 256;

// Searches the answer text for the entry named wanted (exact match, first one wins).
// Parsed without recursion. Raises with the listing's messages: "Ошибка парсинга JSON", "Invalid class typecast",
// "Value '%s' not found", "Conversion from %0:s to %1:s is not supported", and for a malformed
// "sha256" of the wanted entry "Список файлов публичной папки: неверная контрольная сумма SHA-256
// файла <name>".
TListingPage SearchListing(std::wstring_view text, std::wstring_view wanted);
