// What a release folder holds, read as every launcher will read it.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TFinding {
  bool Error = false;  // it fails or misleads on a user's machine; otherwise a risk
  std::wstring Text;
};

// The three published files as bytes; nullopt when a file is missing.
struct TReleaseFiles {
  std::optional<std::string> Version;  // "version.txt"
  std::optional<std::string> Changes;  // "Changes.txt"
  std::optional<std::string> Archive;  // "Tandrel.zip"
};

std::vector<TFinding> CheckRelease(const TReleaseFiles& files);

// The notes as the launcher will decode them; nullopt with the reason when they would show as
// garbage or fail (bytes that are not UTF-8 fall back to the user's ANSI code page).
std::optional<std::wstring> NotesDecodeError(std::string_view notes);
