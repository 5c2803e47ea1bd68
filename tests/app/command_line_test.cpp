// The silent-mode switch: splitting of the command line and the comparison of arguments.
// On Windows the comparison is the system's (CompareStringW), elsewhere the ASCII one.
#include <gtest/gtest.h>

#include "app/command_line.h"
#ifdef _WIN32
#include "app/command_line_win.h"
#endif

namespace {

bool Equals(const std::wstring& a, const std::wstring& b, bool ignoreCase) {
#ifdef _WIN32
  return CommandLine::SystemEquals(a, b, ignoreCase);
#else
  return CommandLine::AsciiEquals(a, b, ignoreCase);
#endif
}

bool Silent(const std::wstring& line) { return CommandLine::HasSwitch(line, L"checkmorvane", true, Equals); }

struct SwitchCase {
  const wchar_t* line;
  bool silent;
};

const SwitchCase kCases[] = {
    {LR"("C:\Program Files\Tandrel\Morvane.exe" -checkmorvane)", true},
    {LR"(Morvane.exe /checkmorvane)", true},
    {LR"(Morvane.exe -CheckMorvane)", true},
    {LR"(Morvane.exe /CHECKMORVANE)", true},
    {LR"(Morvane.exe a b -checkmorvane c)", true},
    {LR"(Morvane.exe "-checkmorvane")", true},
    {LR"(Morvane.exe "/CheckMorvane" other)", true},
    {L"Morvane.exe\t-checkmorvane", true},
    {LR"(Morvane.exe -check"morvane")", true},  // quotes are dropped inside an argument too
    {LR"(Morvane.exe "" -checkmorvane)", true},
    {LR"(Morvane.exe)", false},
    {LR"(Morvane.exe checkmorvane)", false},
    {LR"(Morvane.exe --checkmorvane)", false},
    {LR"(Morvane.exe -checkmorvane:1)", false},
    {LR"(Morvane.exe -checkmorvane=yes)", false},
    {LR"(Morvane.exe -check morvane)", false},
    {LR"(Morvane.exe -checkmorvanex)", false},
    {LR"(Morvane.exe "-check morvane")", false},
    {LR"(Morvane.exe - checkmorvane)", false},
    {LR"(C:\checkmorvane\-checkmorvane)", false},  // the program's own path is never looked at
    {LR"("C:\x -checkmorvane\Morvane.exe")", false},
    {LR"(-checkmorvane)", false},
    {L"", false},
};

TEST(HasSwitch, SilentModeTable) {
  for (const SwitchCase& c : kCases) {
    EXPECT_EQ(Silent(c.line), c.silent) << "command line: " << testing::PrintToString(std::wstring(c.line));
  }
}

TEST(HasSwitch, CaseMattersWhenNotIgnored) {
  EXPECT_TRUE(CommandLine::HasSwitch(L"p -checkmorvane", L"checkmorvane", false, Equals));
  EXPECT_FALSE(CommandLine::HasSwitch(L"p -CheckMorvane", L"checkmorvane", false, Equals));
}

struct SplitCase {
  const wchar_t* line;
  std::vector<std::wstring> args;
};

TEST(Split, ArgumentsTable) {
  const SplitCase cases[] = {
      {L"", {}},
      {L"   \t ", {}},
      {L"a", {L"a"}},
      {L"  a   b  ", {L"a", L"b"}},
      {LR"("a b" c)", {L"a b", L"c"}},
      {LR"(a"b c"d e)", {L"ab cd", L"e"}},
      {LR"(a "unterminated rest)", {L"a", L"unterminated rest"}},
      {LR"(a "" b)", {L"a", L"b"}},          // an empty quoted argument does not count
      {LR"(a """" b)", {L"a", L"b"}},
      {L"a\x01" L"b\x1f" L"c", {L"a", L"b", L"c"}},  // every control character separates
      {L"a\x21" L"b", {L"a!b"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(CommandLine::Split(c.line), c.args) << testing::PrintToString(std::wstring(c.line));
  }
}

}  // namespace
