// Runs one parallel download the way the program does (Start on a job thread, the main thread
// in a message loop) and prints how long it took in all and in its phases: up to the first body
// byte (the size request, the redirects, the heads of the ranged answers), the transfer, and
// the join of the parts (with the SHA-256 check when a checksum is given); and how many
// progress reports arrived.
//   download_bench.exe <url> <target> [parts] [sha256 size]
// Prints one line: seconds <all> bytes <n> reports <n> reported <n> merge <s> first <s>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "system/main_queue.h"
#include "release/downloader.h"
#include "support/main_loop.h"
#include "system/errors.h"
#include "system/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: download_bench <url> <target> [parts]\n");
    return 2;
  }
  const int parts = argc > 3 ? _wtoi(argv[3]) : 4;
  const std::wstring sha256 = argc > 4 ? argv[4] : L"";
  const int64_t size = argc > 5 ? _wtoi64(argv[5]) : -1;
  MainQueue::Initialize();
  auto* downloader = new TParallelDownloader(argv[1], argv[2], parts, size, sha256);
  double merge = 0;
  DownloadMergeTimeHook = [&](double seconds) { merge = seconds; };
  long long reports = 0;
  int64_t last = 0, total = 0;
  ULONGLONG began = 0, firstByte = 0;
  DownloadFirstByteHook = [&] { firstByte = GetTickCount64(); };
  downloader->SetOnProgress([&](void*, int64_t downloaded, int64_t size) {
    ++reports;
    last = downloaded;
    total = size;
  });
  std::wstring error;
  ULONGLONG elapsed = 0;
  RunWithMainLoop([&] {
    began = GetTickCount64();
    try {
      downloader->Start();
    } catch (const Exception& e) {
      error = e.Message();
    }
    elapsed = GetTickCount64() - began;
  });
  delete downloader;
  if (!error.empty()) {
    std::fprintf(stderr, "download failed: %s\n", EncodeUtf8(error).c_str());
    return 1;
  }
  std::printf("seconds %.3f bytes %lld reports %lld reported %lld merge %.3f first %.3f\n", elapsed / 1000.0,
              static_cast<long long>(total), reports, static_cast<long long>(last), merge,
              firstByte ? (firstByte - began) / 1000.0 : 0.0);
  return 0;
}
