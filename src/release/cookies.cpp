#include "release/cookies.h"

#include "system/text.h"

namespace {

bool DomainMatches(std::wstring_view host, std::wstring_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == L'.';
}

bool HasTwoLabels(std::wstring_view domain) {
  if (domain.empty() || domain.front() == L'.' || domain.back() == L'.') return false;
  if (domain.find(L"..") != std::wstring_view::npos) return false;
  return domain.find(L'.') != std::wstring_view::npos;
}

bool PathMatches(std::wstring_view requestPath, std::wstring_view cookiePath) {
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == L'/' ||
         requestPath[cookiePath.size()] == L'/';
}

// The path without its query.
std::wstring_view PathOnly(std::wstring_view pathQuery) {
  return pathQuery.substr(0, pathQuery.find(L'?'));
}

std::wstring DefaultPath(std::wstring_view requestPath) {
  requestPath = PathOnly(requestPath);
  const size_t slash = requestPath.rfind(L'/');
  if (requestPath.empty() || requestPath[0] != L'/' || slash == 0 || slash == std::wstring_view::npos) return L"/";
  return std::wstring(requestPath.substr(0, slash));
}

}  // namespace

void TCookieStore::SetCookie(std::wstring_view header, std::wstring_view host, std::wstring_view requestPath) {
  const std::wstring lowHost = AsciiLower(host);
  size_t semi = header.find(L';');
  std::wstring_view pair = TrimBlank(header.substr(0, semi));
  const size_t eq = pair.find(L'=');
  if (eq == std::wstring_view::npos) return;
  TCookie c;
  c.Name = std::wstring(TrimBlank(pair.substr(0, eq)));
  c.Value = std::wstring(TrimBlank(pair.substr(eq + 1)));
  if (c.Name.empty()) return;
  c.Domain = lowHost;
  c.Path = DefaultPath(requestPath);
  bool expired = false;
  while (semi != std::wstring_view::npos) {
    header = header.substr(semi + 1);
    semi = header.find(L';');
    std::wstring_view attr = TrimBlank(header.substr(0, semi));
    const size_t aeq = attr.find(L'=');
    const std::wstring name = AsciiLower(TrimBlank(attr.substr(0, aeq)));
    const std::wstring_view value = aeq == std::wstring_view::npos ? std::wstring_view() : TrimBlank(attr.substr(aeq + 1));
    if (name == L"domain" && !value.empty()) {
      std::wstring domain = AsciiLower(value);
      if (domain[0] == L'.') domain.erase(0, 1);
      // Two labels at least ("example.com", never "com"), and this host's own domain or one
      // above it; anything else is not this host's to set.
      if (!HasTwoLabels(domain) || !DomainMatches(lowHost, domain)) return;
      c.Domain = domain;
      c.HostOnly = false;
    } else if (name == L"path" && !value.empty() && value[0] == L'/') {
      c.Path = std::wstring(value);
    } else if (name == L"secure") {
      c.Secure = true;
    } else if (name == L"max-age" && !value.empty()) {
      expired = value[0] == L'-' || value == L"0" || value.find_first_not_of(L'0') == std::wstring_view::npos;
    }
  }
  for (auto it = FCookies.begin(); it != FCookies.end(); ++it) {
    if (it->Name == c.Name && it->Domain == c.Domain && it->Path == c.Path) {
      FCookies.erase(it);
      break;
    }
  }
  if (!expired) FCookies.push_back(std::move(c));
}

std::wstring TCookieStore::CookieHeader(std::wstring_view host, std::wstring_view path, bool secure) const {
  const std::wstring lowHost = AsciiLower(host);
  const std::wstring_view p = PathOnly(path);
  std::wstring out;
  for (const auto& c : FCookies) {
    if (c.Secure && !secure) continue;
    if (c.HostOnly ? lowHost != c.Domain : !DomainMatches(lowHost, c.Domain)) continue;
    if (!PathMatches(p.empty() ? std::wstring_view(L"/") : p, c.Path)) continue;
    if (!out.empty()) out += L"; ";
    out += c.Name + L"=" + c.Value;
  }
  return out;
}
