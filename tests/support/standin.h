// Talks to the cloud-disk stand-in that tools/with-standin started around the test program.
// Every call throws std::runtime_error on failure.
#pragma once

#include <string>

std::wstring StandinUrl();       // MORVANE_STANDIN_URL, e.g. http://127.0.0.1:4711
std::wstring StandinHttpsUrl();  // MORVANE_STANDIN_HTTPS_URL (untrusted certificate)
void StandinReset();             // faults cleared, request log emptied
void StandinConfig(const std::string& json);  // a JSON object of switches, merged
void StandinCreateFolder(const std::wstring& id);
void StandinPutFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes);
void StandinDeleteFile(const std::wstring& folder, const std::wstring& name);
std::string StandinLog();        // JSON array of the requests seen since the last reset
std::wstring FolderLink(const std::wstring& id);  // the public link of a served folder
