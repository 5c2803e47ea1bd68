// Packing a product folder into a release folder that every launcher can install.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "publish/release_check.h"

struct TPackEntry {
  std::string Name;  // UTF-8, "/" between folders, a folder ends with "/"
  std::filesystem::path Source;  // empty for a folder
  uint64_t Size = 0;
  uint16_t DosDate = 0, DosTime = 0;
};

// A number with its thousands marked, as messages show sizes and counts: "65,534".
std::wstring CountText(uint64_t value);

// Every file and folder below the product folder, in archive order: sorted by name with
// "Tandrel.exe" last. Raises Exception, naming the file and the reason, when "Tandrel.exe" is
// missing, a name would be refused, an entry is a link, or the archive would pass its limits
// (all before anything is compressed).
std::vector<TPackEntry> ListProduct(const std::filesystem::path& productDir);

// Writes the entries as a zip archive (deflate, UTF-8 names with the UTF-8 flag), reading and
// compressing each file in pieces; returns the archive's size.
uint64_t WriteArchive(const std::vector<TPackEntry>& entries, const std::filesystem::path& path);

// The release files pack writes; a step may add its own (a signature) to the staging folder
// and to this list before the check runs.
using TStagingStep = std::function<void(const std::filesystem::path& staging, std::vector<std::string>& files)>;

struct TPackResult {
  bool Written = false;  // false: the check found errors and OUT_DIR is as it was
  std::vector<TFinding> Findings;  // the check of the new release
  std::wstring Version;
  size_t Entries = 0;
  uint64_t FilesSize = 0, ArchiveSize = 0;
  std::wstring Sha256;  // of Tandrel.zip
  std::vector<std::string> Files;  // what was written into OUT_DIR, version.txt last
  std::vector<std::filesystem::path> Unwritten;  // files in OUT_DIR that are not part of the release
};

// Builds the release in a folder beside outDir, checks it there, and only when the check finds no
// error moves its files into outDir, replacing the old ones. Raises Exception when the product
// cannot be packed at all; outDir is then untouched as well.
TPackResult PackRelease(const std::filesystem::path& productDir, const std::filesystem::path& notes,
                        const std::filesystem::path& outDir, const TStagingStep& beforeCheck = {});
