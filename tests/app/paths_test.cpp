// The product folder's base: from LOCALAPPDATA, and from the user's known folder when the
// variable is unset or empty, never a folder relative to the current one.
#include "app/paths.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <optional>

namespace {

std::wstring KnownLocalAppData() {
  wchar_t* path = nullptr;
  EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path), S_OK);
  std::wstring text = path ? path : L"";
  CoTaskMemFree(path);
  return text;
}

bool IsAbsolute(const std::wstring& path) {
  return path.size() > 3 && ((path[1] == L':' && path[2] == L'\\') || path.rfind(L"\\\\", 0) == 0);
}

TEST(Paths, LocalAppDataBase) {
  const std::wstring known = KnownLocalAppData();
  ASSERT_TRUE(IsAbsolute(known)) << testing::PrintToString(known);
  const struct {
    const char* What;
    std::optional<std::wstring> Variable;  // nullopt: unset
    std::wstring Expected;
  } cases[] = {
      {"unset", std::nullopt, known + L"\\"},
      {"empty", L"", known + L"\\"},
      {"without a backslash", L"C:\\Users\\Tester\\Local", L"C:\\Users\\Tester\\Local\\"},
      {"with a backslash", L"C:\\Users\\Tester\\Local\\", L"C:\\Users\\Tester\\Local\\"},
  };
  for (const auto& c : cases) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", c.Variable ? c.Variable->c_str() : nullptr);
    const std::wstring base = LocalAppDataBase();
    EXPECT_EQ(base, c.Expected) << c.What;
    EXPECT_TRUE(IsAbsolute(base)) << c.What;
  }
}

TEST(Paths, OwnExeName) {
  EXPECT_EQ(OwnExeName(), L"app_paths_tests.exe");
  EXPECT_EQ(OwnExePath().substr(OwnExePath().size() - OwnExeName().size()), OwnExeName());
  EXPECT_TRUE(IsAbsolute(OwnExePath()));
}

}  // namespace
