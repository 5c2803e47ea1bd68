// Extracts one archive the way the installation does (ExtractPackage on the calling thread)
// and prints how long the extraction alone took.
//   extract_bench.exe <archive> <destination folder>
#include <windows.h>

#include <cstdio>

#include "system/errors.h"
#include "system/text.h"
#include "system/zip_extract.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: extract_bench <archive> <destination>\n");
    return 2;
  }
  LARGE_INTEGER frequency, began, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&began);
  try {
    ExtractPackage(argv[1], argv[2]);
  } catch (const Exception& e) {
    std::fprintf(stderr, "extraction failed: %s\n", EncodeUtf8(e.Message()).c_str());
    return 1;
  }
  QueryPerformanceCounter(&ended);
  std::printf("seconds %.3f\n", static_cast<double>(ended.QuadPart - began.QuadPart) / frequency.QuadPart);
  return 0;
}
