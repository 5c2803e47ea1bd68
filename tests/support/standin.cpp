#include "support/standin.h"

#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>

#include <rapidjson/document.h>

#include <stdexcept>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c < 0x80 ? c : '?');
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring QueryEscape(const std::wstring& text) { return QueryEscapeUtf8(Utf8(text)); }

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[2048];
  DWORD n = GetEnvironmentVariableW(name, buffer, 2048);
  if (n == 0 || n >= 2048) throw std::runtime_error("stand-in: " + Narrow(name) + " is not set (run under tools/with-standin)");
  return std::wstring(buffer, n);
}

struct Handle {
  HINTERNET h = nullptr;
  explicit Handle(HINTERNET v) : h(v) {}
  ~Handle() {
    if (h) WinHttpCloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

void Fail(const std::string& what) {
  throw std::runtime_error("stand-in: " + what + " failed (" + std::to_string(GetLastError()) + ")");
}

// One request to the stand-in's HTTP port; the body of a 2xx answer.
std::string Request(const wchar_t* verb, const std::wstring& pathAndQuery, const std::string& body = {}) {
  std::wstring base = StandinUrl();
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256];
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  if (!WinHttpCrackUrl(base.c_str(), 0, 0, &parts)) Fail("WinHttpCrackUrl");
  Handle session(WinHttpOpen(L"morvane-tests", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.h) Fail("WinHttpOpen");
  Handle connection(WinHttpConnect(session.h, host, parts.nPort, 0));
  if (!connection.h) Fail("WinHttpConnect");
  Handle request(WinHttpOpenRequest(connection.h, verb, pathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!request.h) Fail("WinHttpOpenRequest");
  void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
  DWORD size = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, size, size, 0))
    Fail("WinHttpSendRequest");
  if (!WinHttpReceiveResponse(request.h, nullptr)) Fail("WinHttpReceiveResponse");
  DWORD status = 0, statusSize = sizeof(status);
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
    Fail("WinHttpQueryHeaders");
  std::string answer;
  for (;;) {
    char buffer[8192];
    DWORD read = 0;
    if (!WinHttpReadData(request.h, buffer, sizeof(buffer), &read)) Fail("WinHttpReadData");
    if (read == 0) break;
    answer.append(buffer, read);
  }
  if (status < 200 || status > 299)
    throw std::runtime_error("stand-in: " + Narrow(pathAndQuery) + " answered " + std::to_string(status) + ": " +
                             answer);
  return answer;
}

}  // namespace

std::wstring StandinUrl() { return Env(L"MORVANE_STANDIN_URL"); }
std::wstring StandinHttpsUrl() { return Env(L"MORVANE_STANDIN_HTTPS_URL"); }

void StandinReset() { Request(L"POST", L"/_control/reset"); }

void StandinConfig(const std::string& json) { Request(L"POST", L"/_control/config", json); }

void StandinCreateFolder(const std::wstring& id) { Request(L"POST", L"/_control/folder?id=" + QueryEscape(id)); }

void StandinPutFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
  Request(L"POST", L"/_control/file?folder=" + QueryEscape(folder) + L"&name=" + QueryEscape(name), bytes);
}

void StandinDeleteFile(const std::wstring& folder, const std::wstring& name) {
  Request(L"DELETE", L"/_control/file?folder=" + QueryEscape(folder) + L"&name=" + QueryEscape(name));
}

std::string StandinLog() { return Request(L"GET", L"/_control/log"); }

std::wstring FolderLink(const std::wstring& id) { return L"https://disk.yandex.ru/d/" + id; }

std::wstring QueryEscapeUtf8(std::string_view utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::wstring out;
  for (unsigned char c : utf8) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<wchar_t>(c);
    } else {
      out += L'%';
      out += static_cast<wchar_t>(hex[c >> 4]);
      out += static_cast<wchar_t>(hex[c & 15]);
    }
  }
  return out;
}

std::vector<TLoggedRequest> StandinRequests() {
  const std::string text = StandinLog();
  rapidjson::Document log;
  log.Parse(text.c_str(), text.size());
  std::vector<TLoggedRequest> out;
  if (!log.IsArray()) return out;
  for (const auto& entry : log.GetArray()) {
    TLoggedRequest r;
    r.method = entry["method"].GetString();
    r.path = entry["path"].GetString();
    if (entry.HasMember("host") && entry["host"].IsString()) r.host = entry["host"].GetString();
    if (entry.HasMember("status") && entry["status"].IsInt()) r.status = entry["status"].GetInt();
    if (entry.HasMember("bytes") && entry["bytes"].IsInt64()) r.bytes = entry["bytes"].GetInt64();
    for (const auto& h : entry["headers"].GetObject()) {
      std::string name = h.name.GetString();
      for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      r.headers[name] = h.value.GetString();
    }
    out.push_back(std::move(r));
  }
  return out;
}

int RefusedLoopbackPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  return ntohs(address.sin_port);
}
