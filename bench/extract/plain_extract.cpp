// The peer of the installation: a plain extraction of the same archive by the program's own zip
// reader, each file created with CreateFileW (replacing one that is there) and written with
// WriteFile; no flush, no record, nothing judged, nothing set but the bytes. Prints how long it
// took, as extract_bench does.
//   plain_extract.exe <archive> <destination folder>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "system/errors.h"
#include "system/file_stream.h"
#include "system/handles.h"
#include "system/text.h"
#include "system/zip_core.h"
#include "system/zip_extract.h"
#include "timed_extraction.h"

namespace {

class TPlainOutput final : public TZipOutput {
 public:
  explicit TPlainOutput(std::wstring destination) : FDestination(std::move(destination)) {}
  void MakeFolder(const TZipItem& item) override {
    FPath = JoinZipPath(FDestination, item.Name);
    const std::wstring folder = ExtractFilePath(FPath);
    if (!folder.empty() && folder != FLastFolder) {
      ForceDirectories(folder);
      FLastFolder = folder;
    }
  }
  void BeginFile(const TZipItem&) override {
    FFile.Reset(CreateFileW(FPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!FFile) RaiseFileError(L"create", FPath, GetLastError());
  }
  void Write(const void* data, size_t count) override {
    DWORD written = 0;
    if (!WriteFile(FFile.Get(), data, static_cast<DWORD>(count), &written, nullptr) || written != count)
      RaiseFileError(L"write", FPath, GetLastError());
  }
  void CloseFile() override { FFile.Reset(); }
  void FinishFile(const TZipItem&) override {}

 private:
  std::wstring FDestination, FPath, FLastFolder;
  Sys::TFileHandle FFile;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  return RunTimedExtraction(argc, argv, "plain_extract", [](const wchar_t* archivePath, const wchar_t* destination) {
    TFileStream file = TFileStream::Open(archivePath, FILE_SHARE_READ);
    TFileZipSource archive(file);
    std::vector<TZipItem> items = ReadZipDirectory(archive);
    for (TZipItem& item : items) JudgeZipEntry(archive, item);  // the names and data offsets only
    TPlainOutput output(destination);
    ExtractZipItems(archive, items, output);
  });
}
