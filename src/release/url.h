// URLs as the HTTP client needs them: split into the parts WinHTTP takes, and the target of a
// redirect resolved against the current address. Portable: the "Location" header is untrusted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct TUrl {
  std::wstring Scheme;     // lower case: "http" or "https" for the client
  std::wstring Host;       // without brackets for an IPv6 literal
  int Port = 0;            // explicit or the scheme's default
  std::wstring PathQuery;  // "/" at least; the query included
  std::wstring Fragment;   // without "#"; empty when none
  bool HasFragment = false;
};

// Splits an absolute http or https URL; nullopt when it is not one.
std::optional<TUrl> ParseHttpUrl(std::wstring_view url);

// The absolute URL a "Location" value names, seen from the current URL: an absolute location
// stays as it is, a relative one is resolved (RFC 3986, section 5.2), and the current fragment
// is carried over when the location has none.
std::wstring ResolveLocation(std::wstring_view current, std::wstring_view location);

// True when a redirect from current to next leaves https for another scheme (plain http).
bool LeavesHttps(std::wstring_view current, std::wstring_view next);

// The one proxy server a proxy list names for requests of a scheme ("http" or "https"). The list
// is what the user's settings or a configuration script give: entries separated by ";" or white
// space, each "[<scheme>=][http://]<server>[:<port>]"; an entry for the scheme wins over one
// without "<scheme>=", which serves every scheme. Empty when no entry serves the scheme.
std::wstring ProxyForScheme(std::wstring_view list, std::wstring_view scheme);
