// What a release folder holds, read as every launcher will read it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TZipSource;

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
// The same with the archive read where it lies (null when it is missing); memory stays flat
// whatever its size.
std::vector<TFinding> CheckRelease(const std::optional<std::string>& version, const std::optional<std::string>& changes,
                                   TZipSource* archive);
// The release files of a folder; raises with the path and the reason when one cannot be read.
std::vector<TFinding> CheckReleaseFolder(const std::filesystem::path& dir);

// The notes as the launcher will decode them; nullopt with the reason when they would show as
// garbage or fail (bytes that are not UTF-8 fall back to the user's ANSI code page).
std::optional<std::wstring> NotesDecodeError(std::string_view notes);
// How the update window will show notes that decode well: empty, stray markup, a charset
// declaration the page does not have.
std::vector<std::wstring> NotesRisks(std::string_view notes);

// The name of a zip compression method, such as "BZip2 (method 12)".
std::wstring ZipMethodName(uint16_t method);
