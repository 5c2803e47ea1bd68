#include "release/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "system/main_queue.h"
#include "release/cookies.h"
#include "release/download_plan.h"
#include "release/url.h"
#include "system/errors.h"
#include "system/dll_search.h"
#include "system/handles.h"
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

// The text of a WinHTTP code. WinHTTP keeps its texts in its own module; where that has none
// (Wine's has no message table at all) WinINet's, which numbers the same failures alike, and
// at last the texts of the codes this client meets.
std::wstring WinHttpErrorText(DWORD code) {
  std::wstring text = ModuleErrorMessage(L"winhttp.dll", code);
  if (!text.empty()) return text;
  // WinINet is mapped as data only, and only from the system folder.
  const Sys::TModule wininet(Sys::LoadSystemLibrary(L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE));
  text = ModuleMessageText(wininet.Get(), code);
  if (!text.empty()) return text;
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT: return L"The operation timed out";
    case ERROR_WINHTTP_INVALID_URL: return L"The URL is invalid";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return L"The URL does not use a recognized protocol";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return L"The server name or address could not be resolved";
    case ERROR_WINHTTP_CANNOT_CONNECT: return L"A connection with the server could not be established";
    case ERROR_WINHTTP_CONNECTION_ERROR: return L"The connection with the server was terminated abnormally";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return L"The server returned an invalid or unrecognized response";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return L"An error occurred in the secure channel support";
    case ERROR_WINHTTP_SECURE_FAILURE: return L"A security error occurred";
    default: return L"";
  }
}

[[noreturn]] void RaiseTransport(const wchar_t* pattern, DWORD code) {
  throw ETransferError(FormatMessageText(pattern, {IntToStr(static_cast<int64_t>(code)), WinHttpErrorText(code)}));
}

// Wine's WinHTTP checks the server's certificate like Windows' but then reports every rejected
// certificate as ERROR_WINHTTP_SECURE_CHANNEL_ERROR, without the secure-failure notification.
bool RunningOnWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
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

bool IsRedirect(int status) {
  return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The proxy the current user's settings name for a URL: one "server:port" for the session of
// that request, empty for a direct connection.
struct TProxyChoice {
  std::wstring Proxy;
  std::wstring Bypass;
};

// skipAutomatic: a lookup by detection or script failed earlier in this run; it is set when
// this one fails.
TProxyChoice ChooseProxy(const std::wstring& url, const std::wstring& scheme, const std::wstring& agent,
                         bool& skipAutomatic) {
  TProxyChoice choice;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return choice;
  const Sys::TGlobalMemory autoConfigUrl(ie.lpszAutoConfigUrl), ieProxy(ie.lpszProxy), ieBypass(ie.lpszProxyBypass);
  bool decided = false;
  if (!skipAutomatic && (ie.fAutoDetect || ie.lpszAutoConfigUrl)) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (ie.lpszAutoConfigUrl) {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
    }
    if (ie.fAutoDetect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    WINHTTP_PROXY_INFO info{};
    Sys::TWinHttpHandle lookup(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, 0));
    // The user's credentials go to the proxy only after it asked for them and the first try
    // failed.
    auto lookupProxy = [&](BOOL autoLogon) {
      options.fAutoLogonIfChallenged = autoLogon;
      return lookup && WinHttpGetProxyForUrl(lookup.Get(), url.c_str(), &options, &info);
    };
    if (lookupProxy(FALSE) || (GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE && lookupProxy(TRUE))) {
      const Sys::TGlobalMemory infoProxy(info.lpszProxy), infoBypass(info.lpszProxyBypass);
      decided = true;
      if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
        choice.Proxy = ProxyForScheme(info.lpszProxy, scheme);
        if (info.lpszProxyBypass) choice.Bypass = info.lpszProxyBypass;
      }
    } else {
      skipAutomatic = true;
    }
  }
  if (!decided && ie.lpszProxy) {
    choice.Proxy = ProxyForScheme(ie.lpszProxy, scheme);
    if (ie.lpszProxyBypass) choice.Bypass = ie.lpszProxyBypass;
  }
  if (choice.Proxy.empty()) choice.Bypass.clear();
  return choice;
}

// The proxy decision for each scheme and host is made once per run and reused by every later
// request and redirect hop: an automatic lookup costs tens of milliseconds even when it finds
// nothing, and a failed one is not tried again. The lock is held through a lookup, so parallel
// requests to one host wait for one decision instead of each making it.
struct TProxyCache {
  std::mutex Lock;
  std::map<std::wstring, TProxyChoice> Choices;  // by "scheme://host"
  bool AutomaticFailed = false;
};

TProxyCache& ProxyCache() {
  static TProxyCache cache;
  return cache;
}

TProxyChoice CachedProxyChoice(const std::wstring& url, const TUrl& parts, const std::wstring& agent) {
  TProxyCache& cache = ProxyCache();
  std::lock_guard<std::mutex> lock(cache.Lock);
  const std::wstring key = parts.Scheme + L"://" + parts.Host;
  const auto found = cache.Choices.find(key);
  if (found != cache.Choices.end()) return found->second;
  return cache.Choices[key] = ChooseProxy(url, parts.Scheme, agent, cache.AutomaticFailed);
}

// The proxy goes in when the session is opened: Wine's WinHTTP ignores WINHTTP_OPTION_PROXY on
// sessions and requests alike, and takes a named proxy only from WinHttpOpen.
HINTERNET OpenSession(const std::wstring& agent, const TProxyChoice& proxy) {
  if (proxy.Proxy.empty())
    return WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  return WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.Proxy.c_str(),
                     proxy.Bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy.Bypass.c_str(), 0);
}

// Statuses whose answers carry no body whatever their headers say.
bool HasNoBody(int status) { return (status >= 100 && status < 200) || status == 204 || status == 304; }

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

// The body is read in blocks: a block is written to the sink (or kept in the answer) and
// reported to the receive-data handler once it holds kBlockSize bytes, or once kBlockWaitMs
// have passed since it was begun, or at the end of the body. Each report costs a round trip
// through the main thread, so a few large blocks beat many small reads.
constexpr size_t kBlockSize = 256 * 1024;
constexpr ULONGLONG kBlockWaitMs = 50;

struct TBodyRead {
  int64_t Received = 0;  // body bytes of this answer
  bool Aborted = false;  // the handler stopped the transfer
};

// Where a body goes: the sink, the answer (up to the client's cap), or nowhere (a redirect's
// page, read to its end so the connection is left clean, up to its own cap).
enum class TBodyTarget { Sink, Answer, Drop };

TBodyRead ReadBody(HINTERNET request, const TOperation& op, THttpResponse& response, TBodyTarget target,
                   int64_t contentLength) {
  TBodyRead result;
  const bool notify = target != TBodyTarget::Drop && response.StatusCode < 300;
  const int64_t cap = target == TBodyTarget::Answer ? op.Client->MaxBodyBytes
                      : target == TBodyTarget::Drop ? kMaxRedirectPage
                                                    : -1;
  if (notify) Notify(op.Client, contentLength, 0, result.Aborted);
  // Small answers get a block of their announced size.
  std::vector<char> block(contentLength >= 0 ? static_cast<size_t>(std::clamp<int64_t>(contentLength, 4096, kBlockSize))
                                             : kBlockSize);
  const uint32_t window = op.Client->StallWindowMs;
  ULONGLONG windowBegun = GetTickCount64();
  int64_t windowBytes = 0;
  bool ended = false;
  while (!ended && !result.Aborted) {
    size_t filled = 0;
    DWORD failure = ERROR_SUCCESS;
    const ULONGLONG begun = GetTickCount64();
    bool stalled = false;
    while (filled < block.size()) {
      DWORD available = 0, read = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) {
        failure = GetLastError();
        break;
      }
      if (available == 0) {
        ended = true;
        break;
      }
      const DWORD wanted = static_cast<DWORD>(std::min<size_t>(available, block.size() - filled));
      if (!WinHttpReadData(request, block.data() + filled, wanted, &read)) {
        failure = GetLastError();
        break;
      }
      if (read == 0) {
        ended = true;
        break;
      }
      filled += read;
      windowBytes += read;
      const ULONGLONG now = GetTickCount64();
      if (window != 0 && now - windowBegun >= window) {
        if (windowBytes < op.Client->StallMinBytes) {
          stalled = true;
          break;
        }
        windowBegun = now;
        windowBytes = 0;
      }
      if (now - begun >= kBlockWaitMs) break;
    }
    if (cap >= 0 && result.Received + static_cast<int64_t>(filled) > cap)
      throw Exception(FormatMessageText(target == TBodyTarget::Drop ? L"Страница перенаправления длиннее %d байт"
                                                                   : L"Ответ сервера длиннее %d байт",
                                        {IntToStr(cap)}));
    // What arrived before a failure is kept, as if it had been written as it came.
    if (filled > 0) {
      if (target == TBodyTarget::Sink)
        op.Sink->Write(block.data(), filled);
      else if (target == TBodyTarget::Answer)
        response.Body.append(block.data(), filled);
      result.Received += static_cast<int64_t>(filled);
    }
    if (failure != ERROR_SUCCESS) RaiseTransport(L"Error reading data: (%d) %s", failure);
    if (stalled)
      throw ETransferError(FormatMessageText(L"Сервер передаёт данные слишком медленно: меньше %d байт за %d мс",
                                             {IntToStr(op.Client->StallMinBytes), IntToStr(static_cast<int64_t>(window))}));
    if (filled > 0 && notify) Notify(op.Client, contentLength, result.Received, result.Aborted);
  }
  return result;
}

std::unique_ptr<THttpResponse> Run(const TOperation& op, const std::wstring& startUrl) {
  const std::wstring agent = op.Client->UserAgent.empty() ? std::wstring(kDefaultUserAgent) : op.Client->UserAgent;
  std::wstring url = startUrl;
  int redirects = 0;
  for (;;) {
    const auto parts = ParseHttpUrl(url);
    if (!parts) RaiseTransport(L"Error opening request: (%d) %s", ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    const bool secure = parts->Scheme == L"https";

    // A session per request, so that every hop of a redirect chain gets the proxy for its URL.
    Sys::TWinHttpHandle session(OpenSession(agent, CachedProxyChoice(url, *parts, agent)));
    if (!session) RaiseTransport(L"Error opening request: (%d) %s", GetLastError());
    // With a stall guard, a server silent for its whole window fails at once.
    const int stepTimeout = op.Client->StallWindowMs != 0
                                ? static_cast<int>(std::min<uint32_t>(op.Client->StallWindowMs, kTimeoutMs))
                                : kTimeoutMs;
    WinHttpSetTimeouts(session.Get(), kTimeoutMs, kTimeoutMs, stepTimeout, stepTimeout);

    Sys::TWinHttpHandle connection(WinHttpConnect(session.Get(), parts->Host.c_str(), static_cast<INTERNET_PORT>(parts->Port), 0));
    if (!connection) RaiseTransport(L"Error opening request: (%d) %s", GetLastError());
    Sys::TWinHttpHandle request(WinHttpOpenRequest(connection.Get(), op.Verb, parts->PathQuery.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) RaiseTransport(L"Error opening request: (%d) %s", GetLastError());

    // The client follows redirects and keeps cookies itself, so that both work the same everywhere.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD features = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
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
          (code == ERROR_WINHTTP_SECURE_FAILURE && (secureState.Flags & kCertificateFailureFlags)) ||
          (code == ERROR_WINHTTP_SECURE_CHANNEL_ERROR && secureState.Flags == 0 && RunningOnWine()))
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

    if (!redirect && op.Client->OnResponseHead) op.Client->OnResponseHead(*response);

    if (op.Verb != std::wstring_view(L"HEAD")) {
      const int64_t contentLength = ParseContentLength(response->Header(L"Content-Length"));
      const TBodyTarget target = redirect ? TBodyTarget::Drop : op.Sink ? TBodyTarget::Sink : TBodyTarget::Answer;
      const TBodyRead body = ReadBody(request.Get(), op, *response, target, contentLength);
      // An answer that ends before its announced length is a broken transfer, never a complete
      // body: Wine's WinHTTP reports a connection closed early as the end of the body.
      if (!redirect && !body.Aborted && contentLength >= 0 && body.Received < contentLength &&
          !HasNoBody(response->StatusCode) && !response->HasHeader(L"Transfer-Encoding"))
        RaiseTransport(L"Error reading data: (%d) %s", ERROR_WINHTTP_CONNECTION_ERROR);
    }

    if (!redirect) return response;
    const std::wstring next = ResolveLocation(url, location);
    // Once secure, the chain stays secure: a plain-HTTP hop would hand the answer to anyone on
    // the way.
    if (LeavesHttps(url, next)) throw Exception(L"Redirection from a secure to a non-secure URL is not allowed");
    url = next;
  }
}

}  // namespace

std::unique_ptr<THttpResponse> THttpClient::Get(const std::wstring& url, TStream* sink) {
  return Run(TOperation{this, &FImpl->Cookies, L"GET", sink}, url);
}

std::unique_ptr<THttpResponse> THttpClient::Head(const std::wstring& url) {
  return Run(TOperation{this, &FImpl->Cookies, L"HEAD", nullptr}, url);
}

#ifdef MORVANE_TEST_HOOKS
void ForgetProxyDecisions() {
  TProxyCache& cache = ProxyCache();
  std::lock_guard<std::mutex> lock(cache.Lock);
  cache.Choices.clear();
  cache.AutomaticFailed = false;
}
#endif
