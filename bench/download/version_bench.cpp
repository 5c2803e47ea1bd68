// Times the start-up check's requests against the local stand-in: the folder listing plus the
// version file (GetRemoteVersionText), run a number of times in a row, each with new clients
// as in the program. Prints the mean and the spread; asserts nothing.
//   version_bench.exe <folder id> [runs]      (under tools/with-standin, which sets the API root)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "release/release_folder.h"
#include "support/standin.h"
#include "system/errors.h"
#include "system/text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: version_bench <folder id> [runs]\n");
    return 2;
  }
  const std::wstring link = FolderLink(argv[1]);
  const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 20;
  std::vector<double> ms;
  std::wstring version;
  try {
    // The first run also loads WinHTTP and its TLS and proxy parts; it is reported apart.
    LARGE_INTEGER frequency, began, ended;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i <= runs; ++i) {
      QueryPerformanceCounter(&began);
      version = GetRemoteVersionText(link, L"version.txt");
      QueryPerformanceCounter(&ended);
      ms.push_back(1000.0 * static_cast<double>(ended.QuadPart - began.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "failed: %s\n", EncodeUtf8(e.Message()).c_str());
    return 1;
  }
  const double first = ms.front();
  ms.erase(ms.begin());
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms) sum += v;
  std::printf("version \"%s\": first %.1f ms; next %d runs: mean %.1f ms, median %.1f ms, min %.1f ms, max %.1f ms\n",
              EncodeUtf8(version).c_str(), first, runs, sum / ms.size(), ms[ms.size() / 2], ms.front(), ms.back());
  return 0;
}
