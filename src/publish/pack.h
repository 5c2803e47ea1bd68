// Packing a product folder into a release folder that every launcher can install.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TPackEntry {
  std::string Name;  // UTF-8, "/" between folders, a folder ends with "/"
  std::filesystem::path Source;  // empty for a folder
  uint16_t DosDate = 0, DosTime = 0;
};

// Every file and folder below the product folder, in archive order: sorted by name with
// "Tandrel.exe" last. Raises Exception when "Tandrel.exe" is missing or a name would be refused.
std::vector<TPackEntry> ListProduct(const std::filesystem::path& productDir);

// A zip archive of the entries: deflate, UTF-8 names with the UTF-8 flag.
std::string BuildArchive(const std::vector<TPackEntry>& entries);

// Writes Tandrel.zip, version.txt and Changes.txt into outDir; raises Exception on refusal.
void PackRelease(const std::filesystem::path& productDir, const std::filesystem::path& notes,
                 const std::filesystem::path& outDir);

// The whole file; raises Exception when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
