#include "app/command_line.h"

#include "system/text.h"

namespace CommandLine {

namespace {

bool IsSeparator(wchar_t c) { return c >= 0x0001 && c <= 0x0020; }

}  // namespace

std::vector<std::wstring> Split(const std::wstring& commandLine) {
  std::vector<std::wstring> args;
  const size_t n = commandLine.size();
  size_t i = 0;
  for (;;) {
    // Skip separators and empty "" pairs before an argument.
    for (;;) {
      while (i < n && IsSeparator(commandLine[i])) ++i;
      if (i + 1 < n && commandLine[i] == L'"' && commandLine[i + 1] == L'"') {
        i += 2;
        continue;
      }
      break;
    }
    if (i >= n || commandLine[i] == L'\0') break;
    std::wstring arg;
    bool quoted = false;
    while (i < n && commandLine[i] != L'\0') {
      const wchar_t c = commandLine[i];
      if (c == L'"') {
        quoted = !quoted;
      } else if (!quoted && IsSeparator(c)) {
        break;
      } else {
        arg.push_back(c);
      }
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

bool HasSwitch(const std::wstring& commandLine, const std::wstring& switchText, bool ignoreCase,
               const TextEquals& equals) {
  const std::vector<std::wstring> args = Split(commandLine);
  for (size_t k = 1; k < args.size(); ++k) {
    const std::wstring& arg = args[k];
    if (arg.empty() || (arg[0] != L'-' && arg[0] != L'/')) continue;
    if (equals(arg.substr(1), switchText, ignoreCase)) return true;
  }
  return false;
}

bool AsciiEquals(const std::wstring& a, const std::wstring& b, bool ignoreCase) {
  return ignoreCase ? SameTextAscii(a, b) : a == b;
}

}  // namespace CommandLine
