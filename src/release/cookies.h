// The cookie store of one HTTP client object: what the answers of one operation set is sent on
// its later requests (along a redirect chain, for example), and dies with the client.
// Portable: "Set-Cookie" values are untrusted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TCookieStore {
 public:
  // Takes one "Set-Cookie" value of an answer from host for the request path.
  void SetCookie(std::wstring_view header, std::wstring_view host, std::wstring_view requestPath);
  // The "Cookie" header value for a request, empty when no cookie applies.
  std::wstring CookieHeader(std::wstring_view host, std::wstring_view path, bool secure) const;

 private:
  struct TCookie {
    std::wstring Name, Value, Domain, Path;
    bool HostOnly = true;
    bool Secure = false;
  };
  std::vector<TCookie> FCookies;
};
