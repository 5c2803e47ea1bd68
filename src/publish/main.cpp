// morvane-publish: packs a product folder into a release folder and checks a release folder
// before it is uploaded.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publish/pack.h"
#include "publish/release_check.h"
#include "publish/sha256.h"
#include "system/errors.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {
void PrintLine(const std::wstring& text, FILE* stream = stdout) {
  const std::string bytes = EncodeUtf8(text) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

std::optional<std::string> ReadIfPresent(const fs::path& path) {
  if (!fs::exists(path)) return std::nullopt;
  return ReadWholeFile(path);
}

int Check(const fs::path& dir) {
  TReleaseFiles files{ReadIfPresent(dir / "version.txt"), ReadIfPresent(dir / "Changes.txt"),
                      ReadIfPresent(dir / "Tandrel.zip")};
  bool failed = false;
  for (const TFinding& finding : CheckRelease(files)) {
    PrintLine((finding.Error ? L"error: " : L"warning: ") + finding.Text);
    failed = failed || finding.Error;
  }
  if (files.Archive)
    PrintLine(L"Tandrel.zip: " + IntToStr(static_cast<int64_t>(files.Archive->size())) + L" bytes, SHA-256 " +
              Sha256Hex(*files.Archive));
  PrintLine(failed ? L"check: errors found, do not upload" : L"check: ready to upload");
  return failed ? 1 : 0;
}

int Run(const std::vector<fs::path>& args) {
  if (args.size() == 4 && args[0] == "pack") {
    PackRelease(args[1], args[2], args[3]);
    PrintLine(L"pack: wrote Tandrel.zip, version.txt and Changes.txt");
    return Check(args[3]);
  }
  if (args.size() == 2 && args[0] == "check") return Check(args[1]);
  PrintLine(L"usage: morvane-publish pack PRODUCT_DIR NOTES OUT_DIR\n"
            L"       morvane-publish check DIR", stderr);
  return 2;
}
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
#else
int main(int argc, char** argv) {
#endif
  std::vector<fs::path> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (...) {
    PrintLine(L"error: " + CurrentExceptionText(), stderr);
    return 1;
  }
}
