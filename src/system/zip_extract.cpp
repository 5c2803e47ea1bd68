#include "system/zip_extract.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "system/file_stream.h"
#include "system/errors.h"
#include "system/text.h"
#include "system/uninstaller_name.h"
#include "system/zip_core.h"
#include "system/zip_judge.h"

namespace {
// Whole mebibytes, rounded up or down.
std::wstring Mebibytes(uint64_t bytes, bool up) {
  const uint64_t mib = 1024 * 1024;
  return std::to_wstring(up ? (bytes + mib - 1) / mib : bytes / mib);
}

void CheckFreeSpace(const std::wstring& folder, const std::vector<TZipItem>& items, const TInstallOptions& options) {
  uint64_t needed = kFreeSpaceMargin;
  for (const TZipItem& item : items) needed += item.UncompressedSize;
  uint64_t free = 0;
  if (options.FreeSpace) {
    free = *options.FreeSpace;
  } else {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return;  // the system cannot tell
    free = available.QuadPart;
  }
  if (free < needed)
    throw Exception(L"Недостаточно места на диске: нужно " + Mebibytes(needed, true) + L" МБ, свободно " +
                    Mebibytes(free, false) + L" МБ");
}

// Opens the archive, undoes an interrupted installation, judges the entries at the offsets of
// only (every entry when null) together with the names of the others, and installs them.
void Install(const std::wstring& archivePath, const std::wstring& destFolder, const TInstallOptions& options,
             const std::vector<uint64_t>* only) {
  TFileStream archive = TFileStream::Open(archivePath, FILE_SHARE_READ);
  TFileZipSource source(archive);
  const std::wstring product = JoinZipPath(ExpandFileName(destFolder), L"");
  UndoInterruptedInstall(product);

  TZipJudgeContext context;
  context.Existing = ListProductFolder(product);
  context.Reserved = {kInstallWorkFolder, kUninstallerExe};
  // The archive itself may lie in the product folder ("Update.zip"); no entry may replace it.
  const std::wstring archiveFull = ExpandFileName(archivePath);
  if (FoldFileName(ExtractFilePath(archiveFull)) == FoldFileName(product))
    context.Reserved.push_back(ExtractFileName(archiveFull));
  context.ProductFolderLength = product.size();
  if (!only) {
    const std::vector<TZipItem> items = JudgeZipArchive(source, context);
    ForceDirectories(product);
    CheckFreeSpace(product, items, options);
    InstallZipItems(source, items, product, options);
    return;
  }
  const std::set<uint64_t> wanted(only->begin(), only->end());
  std::vector<TZipItem> all = ReadZipDirectory(source), picked;
  for (TZipItem& item : all) {
    if (wanted.count(item.LocalHeaderOffset)) {
      JudgeZipEntry(source, item);
      picked.push_back(item);
    } else {
      // Not fetched: its local header is not there, so its name is the directory's.
      item.Name = DecodeZipName(item.RawName, item.Flags, {});
      if (ZipNameHasInvalidChars(item.Name)) throw Exception(L"Invalid characters in path");
      if (ZipNameIsUnsafe(item.Name)) throw Exception(L"Unsafe path in archive: " + item.Name);
    }
  }
  if (picked.size() != wanted.size()) throw Exception(L"Error reading zip file");
  JudgeZipNames(all, context);
  ForceDirectories(product);
  CheckFreeSpace(product, picked, options);
  InstallZipItems(source, picked, product, options);
}
}  // namespace

void ExtractPackage(const std::wstring& archivePath, const std::wstring& destFolder, const TInstallOptions& options) {
  Install(archivePath, destFolder, options, nullptr);
}

void ExtractPackageEntries(const std::wstring& archivePath, const std::wstring& destFolder,
                           const std::vector<uint64_t>& localHeaderOffsets, const TInstallOptions& options) {
  Install(archivePath, destFolder, options, &localHeaderOffsets);
}
