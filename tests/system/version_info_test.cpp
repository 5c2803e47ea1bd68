#include "system/version_info.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/here.h"

namespace {
TEST(GetFileVersionString, Table) {
  const std::wstring here = HereFolder();
  const struct {
    std::wstring Path;
    const wchar_t* Version;
  } cases[] = {
      // File version 10.0.2.17; the product version and the string table say otherwise.
      {here + L"version_probe_a.exe", L"10.0.2.17"},
      {here + L"version_probe_max.exe", L"65535.65535.65535.65535"},
      {here + L"version_probe_none.exe", L"0.0.0"},
      {here + L"no_such_program.exe", L"0.0.0"},
      {here, L"0.0.0"},
      {here.substr(0, here.size() - 1), L"0.0.0"},
      {L"", L"0.0.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetFileVersionString(c.Path), c.Version) << testing::PrintToString(c.Path);
}

// The company of the first translation, trimmed; nothing where the resource or the name is missing.
TEST(GetFileCompanyName, Table) {
  const std::wstring here = HereFolder();
  const struct {
    std::wstring Path;
    const wchar_t* Company;
  } cases[] = {
      {here + L"version_probe_a.exe", L"Probe Company"},
      {here + L"version_probe_max.exe", L""},
      {here + L"version_probe_none.exe", L""},
      {here + L"no_such_program.exe", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetFileCompanyName(c.Path), c.Company) << testing::PrintToString(c.Path);
}
}  // namespace
