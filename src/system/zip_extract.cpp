#include "system/zip_extract.h"

#include <windows.h>

#include <optional>

#include "system/file_stream.h"
#include "system/handles.h"
#include "system/zip_core.h"

namespace {
class TFileSource final : public TZipSource {
 public:
  explicit TFileSource(TFileStream& file) : FFile(file), FSize(file.Size()) {}
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

class TFolderOutput final : public TZipOutput {
 public:
  explicit TFolderOutput(std::wstring destination) : FDestination(std::move(destination)) {}

  void MakeFolder(const TZipItem& item) override {
    const std::wstring folder = ExtractFilePath(JoinZipPath(FDestination, item.Name));
    if (!folder.empty()) ForceDirectories(folder);
  }
  void BeginFile(const TZipItem& item) override {
    FPath = JoinZipPath(FDestination, item.Name);
    // Windows refuses to replace a hidden or system file with a plain one ("Access is denied"),
    // so a release that once shipped a desktop.ini would block every later update. Those two
    // attributes go first; a read-only file still refuses, as it should.
    const DWORD attributes = GetFileAttributesW(FPath.c_str());
    const DWORD hiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & hiddenOrSystem) &&
        !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
      SetFileAttributesW(FPath.c_str(), attributes & ~hiddenOrSystem);
    FFile.emplace(TFileStream::Create(FPath));
  }
  void Write(const void* data, size_t count) override { FFile->Write(data, count); }
  void CloseFile() override { FFile.reset(); }
  void FinishFile(const TZipItem& item) override {
    if (!FileExists(FPath)) return;
    if (DosDateTimeValid(item.DosDate, item.DosTime)) SetDosTime(item.DosDate, item.DosTime);
    if ((item.MadeBy >> 8) == 0) SetFileAttributesW(FPath.c_str(), item.ExternalAttributes & 0xFF & ~0x08u);
  }

 private:
  void SetDosTime(uint16_t date, uint16_t time) {
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(date, time, &local) || !LocalFileTimeToFileTime(&local, &utc)) return;
    const Sys::TFileHandle file(CreateFileW(FPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) SetFileTime(file.Get(), &utc, nullptr, &utc);
  }

  std::wstring FDestination;
  std::wstring FPath;
  std::optional<TFileStream> FFile;
};
}  // namespace

void ExtractPackage(const std::wstring& archivePath, const std::wstring& destFolder) {
  TFileStream archive = TFileStream::Open(archivePath, FILE_SHARE_READ);
  TFileSource source(archive);
  TFolderOutput output(destFolder);
  ExtractZip(source, output);
}
