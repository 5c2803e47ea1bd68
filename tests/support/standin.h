// Talks to the cloud-disk stand-in that tools/with-standin started around the test program.
// Every call throws std::runtime_error on failure.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

std::wstring StandinUrl();       // MORVANE_STANDIN_URL, e.g. http://127.0.0.1:4711
std::wstring StandinHttpsUrl();  // MORVANE_STANDIN_HTTPS_URL (untrusted certificate)
void StandinReset();             // faults cleared, request log emptied
void StandinConfig(const std::string& json);  // a JSON object of switches, merged
void StandinCreateFolder(const std::wstring& id);
void StandinPutFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes);
void StandinDeleteFile(const std::wstring& folder, const std::wstring& name);
std::string StandinLog();        // JSON array of the requests seen since the last reset
std::wstring FolderLink(const std::wstring& id);  // the public link of a served folder

// One request of the stand-in's log.
struct TLoggedRequest {
  std::string method, path, host;
  std::map<std::string, std::string> headers;  // names in lower case
  int status = 0;  // of the answer; 0 when its head was never sent
  int64_t bytes = 0;  // body bytes a file answer of the storage host sent
};
std::vector<TLoggedRequest> StandinRequests();

// Percent-encoding of a query value (UTF-8 bytes; letters, digits and "-._~" stay).
std::wstring QueryEscapeUtf8(std::string_view utf8);

// A loopback port on which nothing listens: connections to it are refused at once.
int RefusedLoopbackPort();
