// morvane-publish: packs a product folder into a release folder and checks a release folder
// before it is uploaded.
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publish/files.h"
#include "publish/pack.h"
#include "publish/release_check.h"
#include "publish/sha256.h"
#include "publish/sign.h"
#include "system/errors.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {
constexpr int kUsageError = 2;

void PrintLine(const std::wstring& text, FILE* stream = stdout) {
  const std::string bytes = EncodeUtf8(text) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

struct TCommand {
  const char* Name;
  size_t Arguments;
  const wchar_t* Usage;
  const wchar_t* Help;
  bool TakesKey = false;  // "--key VALUE" before the operands
};

const TCommand kCommands[] = {
    {"keygen", 1, L"morvane-publish keygen PRIVATE_KEY_FILE",
     L"Makes a new publisher's key: writes the private key to PRIVATE_KEY_FILE (readable by its owner\n"
     L"only; an existing file is never replaced) and prints the public key line last, for the\n"
     L"launcher's build (-DMORVANE_RELEASE_KEYS). Keep the private key off the cloud folder.\n"
     L"Exit code: 0 written, 1 refused, 2 wrong command line."},
    {"pack", 3, L"morvane-publish pack [--key PRIVATE_KEY_FILE] PRODUCT_DIR NOTES OUT_DIR",
     L"Packs PRODUCT_DIR (a folder holding Tandrel.exe with its version resource) into a release:\n"
     L"Tandrel.zip, version.txt (the version of Tandrel.exe), Changes.txt (the NOTES file, UTF-8) and\n"
     L"Tandrel.zip.files (where each entry lies and what it holds, so that updates fetch only what\n"
     L"changed), and with --key Tandrel.zip.sig, all of them signed with the publisher's key.\n"
     L"The release is built and checked in a folder beside OUT_DIR; OUT_DIR's files are replaced only\n"
     L"when the check finds no error. OUT_DIR may not lie inside PRODUCT_DIR.\n"
     L"Exit code: 0 written, 1 refused (OUT_DIR unchanged), 2 wrong command line.",
     true},
    {"check", 1, L"morvane-publish check [--key PUBLIC_KEY_LINE] DIR",
     L"Reads the release in DIR (Tandrel.zip, version.txt, Changes.txt) as every launcher will and\n"
     L"reports each error (users cannot install it) and warning (a risk), naming the file or entry.\n"
     L"With --key it also checks Tandrel.zip.sig as a launcher holding that public key will.\n"
     L"Exit code: 0 ready to upload, 1 errors found, 2 wrong command line.",
     true},
    {"help", 0, L"morvane-publish help [COMMAND]", L"Shows the commands, or what one command does."},
};

const TCommand* FindCommand(const std::string& name) {
  for (const TCommand& command : kCommands)
    if (name == command.Name) return &command;
  return nullptr;
}

void PrintUsage(FILE* stream) {
  std::wstring text = L"usage:";
  for (const TCommand& command : kCommands) text += L"\n  " + std::wstring(command.Usage);
  text += L"\n  morvane-publish COMMAND --help";
  PrintLine(text, stream);
}

int UsageError(const std::wstring& problem) {
  PrintLine(L"morvane-publish: " + problem, stderr);
  PrintUsage(stderr);
  return kUsageError;
}

int Help(const TCommand* command) {
  if (!command) {
    PrintUsage(stdout);
    return 0;
  }
  PrintLine(L"usage: " + std::wstring(command->Usage) + L"\n\n" + command->Help);
  return 0;
}

void PrintFindings(const std::vector<TFinding>& findings) {
  for (const TFinding& finding : findings) PrintLine((finding.Error ? L"error: " : L"warning: ") + finding.Text);
}

bool HasError(const std::vector<TFinding>& findings) {
  return std::any_of(findings.begin(), findings.end(), [](const TFinding& f) { return f.Error; });
}

int Check(const fs::path& dir, const std::optional<std::string>& publicKeyLine) {
  std::vector<TFinding> findings = CheckReleaseFolder(dir);
  if (publicKeyLine) {
    const std::vector<TFinding> more = CheckSignature(dir, *publicKeyLine);
    findings.insert(findings.end(), more.begin(), more.end());
  }
  PrintFindings(findings);
  const fs::path archive = dir / "Tandrel.zip";
  if (fs::is_regular_file(archive)) {
    TInFile file(archive);
    PrintLine(L"Tandrel.zip: " + CountText(static_cast<uint64_t>(file.Size())) + L" bytes, SHA-256 " + Sha256OfFile(archive));
  }
  const bool failed = HasError(findings);
  PrintLine(failed ? L"check: errors found, do not upload" : L"check: ready to upload");
  return failed ? 1 : 0;
}

int Pack(const fs::path& product, const fs::path& notes, const fs::path& out, const std::optional<fs::path>& keyFile) {
  TStagingStep sign;
  std::optional<TPublisherKey> key;
  if (keyFile) {
    key.emplace(ReadPrivateKeyFile(*keyFile));
    // Signed in the staging folder, so the check below sees the signature as users will.
    sign = [&key](const fs::path& staging, std::vector<std::string>& files) {
      SignReleaseFolder(staging, *key);
      files.insert(files.begin(), "Tandrel.zip.sig");
    };
  }
  const TPackResult result = PackRelease(product, notes, out, sign);
  PrintFindings(result.Findings);
  if (!result.Written) {
    PrintLine(L"pack: errors found; " + PathText(out) + L" is left as it was");
    return 1;
  }
  std::wstring files;
  for (const std::string& file : result.Files) files += (files.empty() ? L"" : L", ") + DecodeUtf8Lenient(file);
  PrintLine(L"pack: wrote version " + result.Version + L" into " + PathText(out) + L": " + files);
  PrintLine(L"pack: " + CountText(result.Entries) + L" entries, " + CountText(result.FilesSize) + L" bytes of files; Tandrel.zip " +
            CountText(result.ArchiveSize) + L" bytes, SHA-256 " + result.Sha256);
  for (const fs::path& old : result.Unwritten)
    PrintLine(L"warning: " + PathText(old) + L" is not part of this release (pack did not write it): do not upload it, "
              L"or remove it");
  PrintLine(L"pack: ready to upload");
  return 0;
}

int Keygen(const fs::path& file) {
  const std::string publicKeyLine = GenerateKeyFile(file);
  PrintLine(L"keygen: wrote the private key to " + PathText(file) +
            L"; keep it off the cloud folder. The public key for -DMORVANE_RELEASE_KEYS:");
  PrintLine(Widen(publicKeyLine));
  return 0;
}

int Run(const std::vector<std::string>& args, const std::vector<fs::path>& paths) {
  if (args.empty()) return UsageError(L"no command given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "/?") return args.size() == 1 ? Help(nullptr) : UsageError(L"too many arguments");
  const TCommand* command = FindCommand(args[0]);
  if (!command) return UsageError(L"unknown command \"" + DecodeUtf8Lenient(args[0]) + L"\"");
  std::vector<fs::path> operands;
  std::optional<size_t> key;  // the index of --key's value
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return Help(command);
    if (command->TakesKey && args[i] == "--key" && operands.empty() && !key) {
      if (i + 1 == args.size()) return UsageError(L"--key needs a value: " + std::wstring(command->Usage));
      key = ++i;
      continue;
    }
    if (args[i].size() > 1 && args[i][0] == '-' && args[i] != "--")
      return UsageError(L"unknown option \"" + DecodeUtf8Lenient(args[i]) + L"\"");
    operands.push_back(paths[i]);
  }
  if (std::string(command->Name) == "help") {
    if (operands.size() > 1) return UsageError(L"too many arguments");
    if (operands.empty()) return Help(nullptr);
    const TCommand* about = FindCommand(args[1]);
    return about ? Help(about) : UsageError(L"unknown command \"" + DecodeUtf8Lenient(args[1]) + L"\"");
  }
  if (operands.size() != command->Arguments)
    return UsageError(std::wstring(L"\"") + Widen(command->Name) + L"\" takes " + IntToStr(static_cast<int64_t>(command->Arguments)) +
                      (command->Arguments == 1 ? L" argument" : L" arguments") + L": " + command->Usage);
  const std::string name = command->Name;
  if (name == "keygen") return Keygen(operands[0]);
  if (name == "pack") return Pack(operands[0], operands[1], operands[2], key ? std::optional<fs::path>(paths[*key]) : std::nullopt);
  return Check(operands[0], key ? std::optional<std::string>(args[*key]) : std::nullopt);
}
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(EncodeUtf8(argv[i]));
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#endif
  const std::vector<fs::path> paths(argv + 1, argv + argc);
  try {
    return Run(args, paths);
  } catch (...) {
    PrintLine(L"error: " + CurrentExceptionText(), stderr);
    return 1;
  }
}
