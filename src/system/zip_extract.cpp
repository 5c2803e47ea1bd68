#include "system/zip_extract.h"

#include <windows.h>

#include <string>
#include <vector>

#include "system/file_stream.h"
#include "system/errors.h"
#include "system/text.h"
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
}  // namespace

void ExtractPackage(const std::wstring& archivePath, const std::wstring& destFolder, const TInstallOptions& options) {
  TFileStream archive = TFileStream::Open(archivePath, FILE_SHARE_READ);
  TFileZipSource source(archive);
  const std::wstring product = JoinZipPath(ExpandFileName(destFolder), L"");
  UndoInterruptedInstall(product);

  TZipJudgeContext context;
  context.Existing = ListProductFolder(product);
  context.Reserved = {kInstallWorkFolder};
  // The archive itself may lie in the product folder ("Update.zip"); no entry may replace it.
  const std::wstring archiveFull = ExpandFileName(archivePath);
  if (FoldFileName(ExtractFilePath(archiveFull)) == FoldFileName(product))
    context.Reserved.push_back(ExtractFileName(archiveFull));
  context.ProductFolderLength = product.size();
  const std::vector<TZipItem> items = JudgeZipArchive(source, context);
  ForceDirectories(product);
  CheckFreeSpace(product, items, options);
  InstallZipItems(source, items, product, options);
}
