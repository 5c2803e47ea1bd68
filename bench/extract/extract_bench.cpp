// Extracts one archive the way the installation does (ExtractPackage on the calling thread)
// and prints how long the extraction alone took.
//   extract_bench.exe <archive> <destination folder>
#include <windows.h>

#include <cstdio>

#include "system/errors.h"
#include "system/text.h"
#include "system/zip_extract.h"
#include "timed_extraction.h"

int wmain(int argc, wchar_t** argv) {
  return RunTimedExtraction(argc, argv, "extract_bench",
                            [](const wchar_t* archive, const wchar_t* destination) { ExtractPackage(archive, destination); });
}
