#include "release/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include "app/main_queue.h"
#include "release/cookies.h"
#include "release/url.h"
#include "system/errors.h"
#include "system/text.h"
#include "system/win_error.h"

namespace {

constexpr wchar_t kDefaultUserAgent[] = L"Morvane HTTP Client/1.0";
constexpr int kTimeoutMs = 60000;
constexpr int kMaxRedirects = 5;
constexpr DWORD kCertificateFailureFlags =
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE;

class THandle {
 public:
  explicit THandle(HINTERNET h = nullptr) : FHandle(h) {}
  ~THandle() {
    if (FHandle) WinHttpCloseHandle(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HINTERNET Get() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }

 private:
  HINTERNET FHandle;
};

[[noreturn]] void RaiseTransport(const wchar_t* pattern, DWORD code) {
  throw Exception(FormatMessageText(pattern, {IntToStr(static_cast<int64_t>(code)), ModuleErrorMessage(L"winhttp.dll", code)}));
}

bool IsCertificateError(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return true;
    default:
      return false;
  }
}

// What the status callback learns about a failed TLS handshake.
struct TSecureState {
  DWORD Flags = 0;
};

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && info && length >= sizeof(DWORD))
    reinterpret_cast<TSecureState*>(context)->Flags |= *static_cast<DWORD*>(info);
}

std::wstring QueryString(HINTERNET request, DWORD info) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return L"";
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
    return L"";
  text.resize(size / sizeof(wchar_t));
  return text;
}

// The header lines of the raw answer head, after its status line.
std::vector<std::pair<std::wstring, std::wstring>> ParseHeaders(const std::wstring& raw) {
  std::vector<std::pair<std::wstring, std::wstring>> headers;
  size_t pos = raw.find(L"\r\n");
  while (pos != std::wstring::npos) {
    pos += 2;
    const size_t end = raw.find(L"\r\n", pos);
    const std::wstring line = raw.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos);
    pos = end;
    const size_t colon = line.find(L':');
    if (colon == std::wstring::npos || colon == 0) continue;
    size_t v = colon + 1;
    while (v < line.size() && (line[v] == L' ' || line[v] == L'\t')) ++v;
    size_t e = line.size();
    while (e > v && (line[e - 1] == L' ' || line[e - 1] == L'\t')) --e;
    headers.emplace_back(line.substr(0, colon), line.substr(v, e - v));
  }
  return headers;
}

int64_t ContentLengthOf(const THttpResponse& response) {
  const std::wstring text = response.Header(L"Content-Length");
  if (text.empty() || text.size() > 18) return -1;
  int64_t n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return -1;
    n = n * 10 + (c - L'0');
  }
  return n;
}

bool IsRedirect(int status) {
  return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The proxy the current user's settings name for a URL; false for a direct connection.
struct TProxyChoice {
  bool UseProxy = false;
  std::wstring Proxy;
  std::wstring Bypass;
};

TProxyChoice ChooseProxy(HINTERNET session, const std::wstring& url) {
  TProxyChoice choice;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return choice;
  bool decided = false;
  if (ie.fAutoDetect || ie.lpszAutoConfigUrl) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (ie.lpszAutoConfigUrl) {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
    }
    if (ie.fAutoDetect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
      decided = true;
      if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy && *info.lpszProxy) {
        choice.UseProxy = true;
        choice.Proxy = info.lpszProxy;
        if (info.lpszProxyBypass) choice.Bypass = info.lpszProxyBypass;
      }
    }
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
  }
  if (!decided && ie.lpszProxy && *ie.lpszProxy) {
    choice.UseProxy = true;
    choice.Proxy = ie.lpszProxy;
    if (ie.lpszProxyBypass) choice.Bypass = ie.lpszProxyBypass;
  }
  if (ie.lpszAutoConfigUrl) GlobalFree(ie.lpszAutoConfigUrl);
  if (ie.lpszProxy) GlobalFree(ie.lpszProxy);
  if (ie.lpszProxyBypass) GlobalFree(ie.lpszProxyBypass);
  return choice;
}

}  // namespace

struct THttpClient::TImpl {
  TCookieStore Cookies;
};

THttpClient::THttpClient() : FImpl(std::make_unique<TImpl>()) {}
THttpClient::~THttpClient() = default;

namespace {

struct TOperation {
  THttpClient* Client;
  TCookieStore* Cookies;
  const wchar_t* Verb;
  TStream* Sink;
};

void Notify(THttpClient* client, int64_t contentLength, int64_t readCount, bool& abort) {
  if (!client->OnReceiveData) return;
  MainQueue::Send([&] { client->OnReceiveData(client, contentLength, readCount, abort); });
}

std::unique_ptr<THttpResponse> Run(const TOperation& op, const std::wstring& startUrl) {
  const std::wstring agent = op.Client->UserAgent.empty() ? std::wstring(kDefaultUserAgent) : op.Client->UserAgent;
  THandle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) RaiseTransport(L"Error opening request: (%d) %s", GetLastError());
  WinHttpSetTimeouts(session.Get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);

  const int64_t sinkStart = op.Sink ? op.Sink->Position() : 0;
  std::wstring url = startUrl;
  int redirects = 0;
  for (;;) {
    const auto parts = ParseHttpUrl(url);
    if (!parts) RaiseTransport(L"Error opening request: (%d) %s", ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    const bool secure = parts->Scheme == L"https";

    THandle connection(WinHttpConnect(session.Get(), parts->Host.c_str(), static_cast<INTERNET_PORT>(parts->Port), 0));
    if (!connection) RaiseTransport(L"Error opening request: (%d) %s", GetLastError());
    THandle request(WinHttpOpenRequest(connection.Get(), op.Verb, parts->PathQuery.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) RaiseTransport(L"Error opening request: (%d) %s", GetLastError());

    // The client follows redirects and keeps cookies itself, so that both work the same everywhere.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD features = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    TProxyChoice proxy = ChooseProxy(session.Get(), url);
    if (proxy.UseProxy) {
      WINHTTP_PROXY_INFO info{};
      info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      info.lpszProxy = proxy.Proxy.data();
      info.lpszProxyBypass = proxy.Bypass.empty() ? nullptr : proxy.Bypass.data();
      WinHttpSetOption(request.Get(), WINHTTP_OPTION_PROXY, &info, sizeof info);
    }
    TSecureState secureState;
    if (secure) {
      WinHttpSetStatusCallback(request.Get(), StatusCallback, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
      DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&secureState);
      WinHttpSetOption(request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    }

    std::wstring headers;
    for (const auto& [name, value] : op.Client->CustomHeaders) headers += name + L": " + value + L"\r\n";
    const std::wstring cookie = op.Cookies->CookieHeader(parts->Host, parts->PathQuery, secure);
    if (!cookie.empty()) headers += L"Cookie: " + cookie + L"\r\n";
    if (!headers.empty() &&
        !WinHttpAddRequestHeaders(request.Get(), headers.c_str(), static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      RaiseTransport(L"Error opening request: (%d) %s", GetLastError());

    auto certificateOr = [&](const wchar_t* pattern, DWORD code) {
      if (IsCertificateError(code) ||
          (code == ERROR_WINHTTP_SECURE_FAILURE && (secureState.Flags & kCertificateFailureFlags)))
        throw Exception(L"Server Certificate Invalid or not present");
      RaiseTransport(pattern, code);
    };
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
      certificateOr(L"Error sending data: (%d) %s", GetLastError());
    if (!WinHttpReceiveResponse(request.Get(), nullptr))
      certificateOr(L"Error receiving data: (%d) %s", GetLastError());

    auto response = std::make_unique<THttpResponse>();
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
      RaiseTransport(L"Error receiving data: (%d) %s", GetLastError());
    response->StatusCode = static_cast<int>(status);
    response->StatusText = QueryString(request.Get(), WINHTTP_QUERY_STATUS_TEXT);
    response->Headers = ParseHeaders(QueryString(request.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF));
    for (const auto& [name, value] : response->Headers)
      if (SameTextAscii(name, L"Set-Cookie")) op.Cookies->SetCookie(value, parts->Host, parts->PathQuery);

    const std::wstring location = response->Header(L"Location");
    const bool redirect = IsRedirect(response->StatusCode) && !location.empty();
    if (redirect && ++redirects > kMaxRedirects)
      throw Exception(FormatMessageText(L"Maximum number of redirections (%d) exceeded", {IntToStr(kMaxRedirects)}));

    if (op.Verb != std::wstring_view(L"HEAD")) {
      const bool notify = response->StatusCode < 300;
      const int64_t contentLength = ContentLengthOf(*response);
      int64_t received = 0;
      bool abort = false;
      if (notify) Notify(op.Client, contentLength, 0, abort);
      std::string buffer;
      while (!abort) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.Get(), &available))
          RaiseTransport(L"Error reading data: (%d) %s", GetLastError());
        if (available == 0) break;
        buffer.resize(available);
        DWORD read = 0;
        if (!WinHttpReadData(request.Get(), buffer.data(), available, &read))
          RaiseTransport(L"Error reading data: (%d) %s", GetLastError());
        if (read == 0) break;
        if (op.Sink) {
          op.Sink->Write(buffer.data(), read);
        } else {
          response->Body.append(buffer.data(), read);
        }
        received += read;
        if (notify) Notify(op.Client, contentLength, received, abort);
      }
    }

    if (!redirect) return response;
    if (op.Sink) {
      op.Sink->SetSize(sinkStart);
      op.Sink->Seek(sinkStart);
    }
    url = ResolveLocation(url, location);
  }
}

}  // namespace

std::unique_ptr<THttpResponse> THttpClient::Get(const std::wstring& url, TStream* sink) {
  return Run(TOperation{this, &FImpl->Cookies, L"GET", sink}, url);
}

std::unique_ptr<THttpResponse> THttpClient::Head(const std::wstring& url) {
  return Run(TOperation{this, &FImpl->Cookies, L"HEAD", nullptr}, url);
}
