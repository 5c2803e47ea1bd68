// The command line both extraction programs of the bench share: an archive and a destination
// folder in, the seconds the extraction alone took out ("seconds N.NNN"), exit 1 with the reason
// when it fails, exit 2 on a wrong command line.
#pragma once

#include <windows.h>

#include <cstdio>

#include "system/errors.h"
#include "system/text.h"

template <typename TExtract>
int RunTimedExtraction(int argc, wchar_t** argv, const char* name, TExtract extract) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <archive> <destination>\n", name);
    return 2;
  }
  LARGE_INTEGER frequency, began, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&began);
  try {
    extract(argv[1], argv[2]);
  } catch (const Exception& e) {
    std::fprintf(stderr, "extraction failed: %s\n", EncodeUtf8(e.Message()).c_str());
    return 1;
  }
  QueryPerformanceCounter(&ended);
  std::printf("seconds %.3f\n", static_cast<double>(ended.QuadPart - began.QuadPart) / frequency.QuadPart);
  return 0;
}
