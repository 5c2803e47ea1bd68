#include "release/url.h"

#include <algorithm>

#include "system/text.h"

namespace {

bool IsSchemeChar(wchar_t c, bool first) {
  if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return true;
  if (first) return false;
  return (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

// Length of the scheme including ":" when the text starts with one, else 0.
size_t SchemeLength(std::wstring_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L':') return i > 0 ? i + 1 : 0;
    if (!IsSchemeChar(s[i], i == 0)) return 0;
  }
  return 0;
}

struct TRef {
  std::wstring Scheme;  // without ":"
  bool HasAuthority = false;
  std::wstring Authority;
  std::wstring Path;
  bool HasQuery = false;
  std::wstring Query;
  bool HasFragment = false;
  std::wstring Fragment;
};

TRef SplitRef(std::wstring_view s) {
  TRef r;
  if (const size_t hash = s.find(L'#'); hash != std::wstring_view::npos) {
    r.HasFragment = true;
    r.Fragment = std::wstring(s.substr(hash + 1));
    s = s.substr(0, hash);
  }
  if (const size_t len = SchemeLength(s); len) {
    r.Scheme = AsciiLower(s.substr(0, len - 1));
    s = s.substr(len);
  }
  if (s.size() >= 2 && s[0] == L'/' && s[1] == L'/') {
    r.HasAuthority = true;
    s = s.substr(2);
    const size_t end = s.find_first_of(L"/?");
    r.Authority = std::wstring(s.substr(0, end));
    s = end == std::wstring_view::npos ? std::wstring_view() : s.substr(end);
  }
  if (const size_t q = s.find(L'?'); q != std::wstring_view::npos) {
    r.HasQuery = true;
    r.Query = std::wstring(s.substr(q + 1));
    s = s.substr(0, q);
  }
  r.Path = std::wstring(s);
  return r;
}

std::wstring RemoveDotSegments(std::wstring_view input) {
  std::wstring in(input), out;
  while (!in.empty()) {
    if (in.rfind(L"../", 0) == 0) {
      in.erase(0, 3);
    } else if (in.rfind(L"./", 0) == 0) {
      in.erase(0, 2);
    } else if (in.rfind(L"/./", 0) == 0) {
      in.erase(0, 2);
    } else if (in == L"/.") {
      in = L"/";
    } else if (in.rfind(L"/../", 0) == 0 || in == L"/..") {
      in = in.size() == 3 ? std::wstring(L"/") : in.substr(3);
      const size_t slash = out.rfind(L'/');
      out.erase(slash == std::wstring::npos ? 0 : slash);
    } else if (in == L"." || in == L"..") {
      in.clear();
    } else {
      size_t next = in.find(L'/', 1);
      if (next == std::wstring::npos) next = in.size();
      out.append(in, 0, next);
      in.erase(0, next);
    }
  }
  return out;
}

std::wstring Compose(const TRef& r) {
  std::wstring out;
  if (!r.Scheme.empty()) out += r.Scheme + L":";
  if (r.HasAuthority) out += L"//" + r.Authority;
  out += r.Path;
  if (r.HasQuery) out += L"?" + r.Query;
  if (r.HasFragment) out += L"#" + r.Fragment;
  return out;
}

}  // namespace

std::optional<TUrl> ParseHttpUrl(std::wstring_view url) {
  const TRef r = SplitRef(url);
  if ((r.Scheme != L"http" && r.Scheme != L"https") || !r.HasAuthority) return std::nullopt;
  TUrl u;
  u.Scheme = r.Scheme;
  std::wstring_view hostPort = r.Authority;
  if (const size_t at = hostPort.rfind(L'@'); at != std::wstring_view::npos) hostPort = hostPort.substr(at + 1);
  std::wstring_view portText;
  if (!hostPort.empty() && hostPort[0] == L'[') {
    const size_t close = hostPort.find(L']');
    if (close == std::wstring_view::npos) return std::nullopt;
    u.Host = std::wstring(hostPort.substr(1, close - 1));
    std::wstring_view rest = hostPort.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != L':') return std::nullopt;
      portText = rest.substr(1);
    }
  } else {
    const size_t colon = hostPort.find(L':');
    u.Host = std::wstring(hostPort.substr(0, colon));
    if (colon != std::wstring_view::npos) portText = hostPort.substr(colon + 1);
  }
  if (u.Host.empty()) return std::nullopt;
  u.Port = u.Scheme == L"https" ? 443 : 80;
  if (!portText.empty()) {
    if (portText.size() > 5) return std::nullopt;
    int port = 0;
    for (wchar_t c : portText) {
      if (c < L'0' || c > L'9') return std::nullopt;
      port = port * 10 + (c - L'0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    u.Port = port;
  }
  u.PathQuery = r.Path.empty() ? L"/" : r.Path;
  if (r.HasQuery) u.PathQuery += L"?" + r.Query;
  u.HasFragment = r.HasFragment;
  u.Fragment = r.Fragment;
  return u;
}

std::wstring ResolveLocation(std::wstring_view current, std::wstring_view location) {
  const TRef base = SplitRef(current);
  const TRef ref = SplitRef(location);
  TRef t;
  if (!ref.Scheme.empty()) {
    t = ref;
    t.Path = RemoveDotSegments(ref.Path);
  } else {
    t.Scheme = base.Scheme;
    if (ref.HasAuthority) {
      t.HasAuthority = true;
      t.Authority = ref.Authority;
      t.Path = RemoveDotSegments(ref.Path);
      t.HasQuery = ref.HasQuery;
      t.Query = ref.Query;
    } else {
      t.HasAuthority = base.HasAuthority;
      t.Authority = base.Authority;
      if (ref.Path.empty()) {
        t.Path = base.Path;
        t.HasQuery = ref.HasQuery || base.HasQuery;
        t.Query = ref.HasQuery ? ref.Query : base.Query;
      } else {
        if (ref.Path[0] == L'/') {
          t.Path = RemoveDotSegments(ref.Path);
        } else {
          std::wstring merged;
          if (base.HasAuthority && base.Path.empty()) {
            merged = L"/" + ref.Path;
          } else {
            const size_t slash = base.Path.rfind(L'/');
            merged = (slash == std::wstring::npos ? std::wstring() : base.Path.substr(0, slash + 1)) + ref.Path;
          }
          t.Path = RemoveDotSegments(merged);
        }
        t.HasQuery = ref.HasQuery;
        t.Query = ref.Query;
      }
    }
  }
  if (ref.HasFragment) {
    t.HasFragment = true;
    t.Fragment = ref.Fragment;
  } else {
    t.HasFragment = base.HasFragment;
    t.Fragment = base.Fragment;
  }
  return Compose(t);
}

std::wstring ProxyForScheme(std::wstring_view list, std::wstring_view scheme) {
  std::wstring general;
  size_t pos = 0;
  while (pos < list.size()) {
    const size_t end = std::min(list.find_first_of(L"; \t", pos), list.size());
    std::wstring_view entry = list.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    std::wstring_view forScheme;
    if (const size_t eq = entry.find(L'='); eq != std::wstring_view::npos) {
      forScheme = entry.substr(0, eq);
      entry = entry.substr(eq + 1);
    }
    if (entry.size() >= 7 && SameTextAscii(entry.substr(0, 7), L"http://")) entry = entry.substr(7);
    while (!entry.empty() && entry.back() == L'/') entry.remove_suffix(1);
    if (entry.empty()) continue;
    if (forScheme.empty()) {
      if (general.empty()) general = std::wstring(entry);
    } else if (SameTextAscii(forScheme, scheme)) {
      return std::wstring(entry);
    }
  }
  return general;
}

bool LeavesHttps(std::wstring_view current, std::wstring_view next) {
  const std::wstring_view https = L"https://";
  auto isHttps = [&](std::wstring_view url) {
    return url.size() >= https.size() && SameTextAscii(url.substr(0, https.size()), https);
  };
  return isHttps(current) && !isHttps(next);
}
