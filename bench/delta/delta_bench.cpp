// One update as the launcher makes it, timed from inside: the download (on a job thread, the
// main thread in a message loop, as in the program) and the installation; or the reading and
// hashing of an installed product against a record.
//   delta_bench.exe update <folder link> <product folder> entries|whole
//   delta_bench.exe hash <product folder> <record file>
// Prints "seconds <total> download <s> install <s> path entries|whole" or "seconds <s> files
// <n> bytes <n>". The test build takes the cloud API's root from MORVANE_API_ROOT.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/partial_update.h"
#include "release/downloader.h"
#include "release/release_folder.h"
#include "support/files.h"
#include "support/main_loop.h"
#include "system/errors.h"
#include "system/main_queue.h"
#include "system/text.h"
#include "system/zip_extract.h"

namespace {

double Seconds(ULONGLONG from) { return static_cast<double>(GetTickCount64() - from) / 1000.0; }

int Update(const std::wstring& folderLink, const std::wstring& product, bool entries) {
  MainQueue::Initialize();
  const TRemoteFile file = FindRemoteFile(folderLink, L"Tandrel.zip");
  TEntryUpdateSource source{folderLink, L"Tandrel.zip", file.Link, file.Size, file.Sha256,
                            product, product + L"Update.zip", {}};
  std::unique_ptr<TParallelDownloader> ranges, whole;
  std::optional<std::vector<uint64_t>> changed;
  std::wstring error;
  const ULONGLONG began = GetTickCount64();
  RunWithMainLoop([&] {
    try {
      if (entries) changed = DownloadChangedEntries(source, ranges);
      if (!changed) {
        whole = std::make_unique<TParallelDownloader>(file.Link, source.PackagePath, 4, file.Size, file.Sha256);
        whole->Start();
      }
    } catch (const Exception& e) {
      error = e.Message();
    }
  });
  const double download = Seconds(began);
  if (!error.empty()) {
    std::fprintf(stderr, "download failed: %s\n", EncodeUtf8(error).c_str());
    return 1;
  }
  const ULONGLONG installBegan = GetTickCount64();
  try {
    if (changed)
      ExtractPackageEntries(source.PackagePath, product, *changed);
    else
      ExtractPackage(source.PackagePath, product);
  } catch (const Exception& e) {
    std::fprintf(stderr, "installation failed: %s\n", EncodeUtf8(e.Message()).c_str());
    return 1;
  }
  DeleteFileW(source.PackagePath.c_str());
  const double install = Seconds(installBegan);
  std::printf("seconds %.3f download %.3f install %.3f path %s entries %zu\n", download + install, download, install,
              changed ? "entries" : "whole", changed ? changed->size() : 0);
  return 0;
}

int Hash(const std::wstring& product, const std::wstring& recordFile) {
  const std::optional<TEntryRecord> record = ParseEntryRecord(ReadFileBytes(recordFile));
  if (!record) {
    std::fprintf(stderr, "not a record\n");
    return 1;
  }
  uint64_t bytes = 0;
  for (const TRecordedEntry& e : record->Entries) bytes += e.Size;
  const ULONGLONG began = GetTickCount64();
  const std::vector<size_t> changed = ChangedEntries(*record, product);
  std::printf("seconds %.3f files %zu bytes %llu changed %zu\n", Seconds(began), record->Entries.size(),
              static_cast<unsigned long long>(bytes), changed.size());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    if (argc == 5 && std::wstring(argv[1]) == L"update")
      return Update(argv[2], JoinZipPath(argv[3], L""), std::wstring(argv[4]) == L"entries");
    if (argc == 4 && std::wstring(argv[1]) == L"hash") return Hash(JoinZipPath(argv[2], L""), argv[3]);
  } catch (const Exception& e) {
    std::fprintf(stderr, "failed: %s\n", EncodeUtf8(e.Message()).c_str());
    return 1;
  }
  std::fprintf(stderr, "usage: delta_bench update <folder link> <product folder> entries|whole\n"
                       "       delta_bench hash <product folder> <record file>\n");
  return 2;
}
