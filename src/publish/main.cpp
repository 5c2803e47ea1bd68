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
#include "publish/sign.h"
#include "system/errors.h"
#include "system/release_statement.h"
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

int Check(const fs::path& dir, const std::optional<std::string>& publicKeyLine = std::nullopt) {
  TReleaseFiles files{ReadIfPresent(dir / "version.txt"), ReadIfPresent(dir / "Changes.txt"),
                      ReadIfPresent(dir / "Tandrel.zip")};
  bool failed = false;
  std::vector<TFinding> findings = CheckRelease(files);
  if (publicKeyLine) {
    const std::vector<TFinding> more = CheckSignature(files, ReadIfPresent(dir / "Tandrel.zip.sig"), *publicKeyLine);
    findings.insert(findings.end(), more.begin(), more.end());
  }
  for (const TFinding& finding : findings) {
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
  if (args.size() == 2 && args[0] == "keygen") {
    const std::string publicKeyLine = GenerateKeyFile(args[1]);
    PrintLine(L"keygen: wrote the private key; keep it off the cloud folder. The public key for "
              L"-DMORVANE_RELEASE_KEYS:");
    PrintLine(Widen(publicKeyLine));
    return 0;
  }
  if (args.size() == 6 && args[0] == "pack" && args[1] == "--key") {
    const TPublisherKey key = ReadPrivateKeyFile(args[2]);
    PackRelease(args[3], args[4], args[5]);
    SignReleaseFolder(args[5], key);
    PrintLine(L"pack: wrote Tandrel.zip, version.txt, Changes.txt and Tandrel.zip.sig");
    return Check(args[5], FormatPublicKeyLine(key.Point));
  }
  if (args.size() == 4 && args[0] == "check" && args[1] == "--key") return Check(args[3], args[2].string());
  PrintLine(L"usage: morvane-publish keygen PRIVATE_KEY_FILE\n"
            L"       morvane-publish pack [--key PRIVATE_KEY_FILE] PRODUCT_DIR NOTES OUT_DIR\n"
            L"       morvane-publish check [--key PUBLIC_KEY_LINE] DIR", stderr);
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
