// Extraction of the release archive into the product folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "system/file_stream.h"
#include "system/install_transaction.h"
#include "system/zip_core.h"

// An archive file open for reading as the zip reader's source.
class TFileZipSource final : public TZipSource {
 public:
  explicit TFileZipSource(TFileStream& file) : FFile(file), FSize(file.Size()) {}
  int64_t Size() override { return FSize; }
  size_t ReadAt(int64_t offset, void* data, size_t count) override {
    if (offset < 0 || offset >= FSize) return 0;
    FFile.Seek(offset);
    return FFile.Read(data, count);
  }

 private:
  TFileStream& FFile;
  int64_t FSize;
};

// Room the installation asks for beyond the archive's unpacked size.
constexpr uint64_t kFreeSpaceMargin = 16 * 1024 * 1024;

// Unpacks every entry of the zip archive below destFolder, creating folders as needed and
// replacing existing files, all or nothing. First it undoes what an interrupted installation
// left, judges every name against what the folder holds and checks the free space; a failure
// at any point leaves the folder as it was and is raised with a message naming the file.
void ExtractPackage(const std::wstring& archivePath, const std::wstring& destFolder,
                    const TInstallOptions& options = {});

// The same for only the entries whose local headers lie at the given offsets, in an archive
// that may hold nothing but those entries and its directory (the bytes of the others zero).
// The names of the others are taken from the directory and judged with the rest, so the
// installation refuses what the whole archive's would; their files are left as they are.
void ExtractPackageEntries(const std::wstring& archivePath, const std::wstring& destFolder,
                           const std::vector<uint64_t>& localHeaderOffsets, const TInstallOptions& options = {});
