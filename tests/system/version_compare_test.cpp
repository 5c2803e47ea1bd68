#include "system/version_compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct TCompareCase {
  const wchar_t* First;
  const wchar_t* Second;
  int Expected;
};

TEST(CompareVersionTexts, Table) {
  const TCompareCase cases[] = {
      {L"1.2", L"1.2.0.0", 0},
      {L"1.2.0.0", L"1.2", 0},
      {L"1.9", L"1.10", -1},
      {L"10.0", L"9.9", 1},
      {L"0.0.0", L"1.0.0.0", -1},
      {L"1.2.3.4", L"1.2.3.4", 0},
      {L"1.2.3.4", L"1.2.3.4\r\n", 0},
      {L"1.2.3.4", L"  1.2.3.4  ", 0},
      {L"1.0", L"r2.0", 1},
      {L"1.1", L"1.2b", 1},
      {L"1.0", L"1.-1", 1},
      {L"1.0", L"1.0x10", -1},
      {L"", L"0.0.0.0", 0},
      {L"", L"0.1", -1},
      {L"1.2 .3", L"1.2.3", 0},
      {L"1.2.3.5", L"1.2.3.4", 1},
      {L"1.0", L"1.$FFFFFFFF", 1},   // $FFFFFFFF is -1
      {L"1.0", L"1.$7FFFFFFF", -1},
      {L"1.0", L"1.$123456789", 0},  // nine hex digits: not a number
      {L"1.0", L"1.2147483648", 0},  // out of range
      {L"1.0", L"1.-2147483648", 1},
      {L"2147483647", L"2147483646", 1},
      {L"1.\"2.5\"", L"1.2", -1},    // a quoted "2.5" is one component, and not a number
      {L"1.\"3\"", L"1.2", 1},
      {L"3", L"\"3", 0},             // unterminated quote runs to the end
      {L"1\t2", L"1.2", 0},
      {L"1..2", L"1.0.2", 0},
      {L".5", L"0.5", 0},
      {L"1.2.", L"1.2", 0},
      {L"1. 0x1F", L"1.31", 0},
      {L"1.+5", L"1.5", 0},
      {L"1.X1f", L"1.31", 0},
      {L"1.-$1", L"1.-1", 0},
  };
  for (const TCompareCase& c : cases) {
    EXPECT_EQ(CompareVersionTexts(c.First, c.Second), c.Expected)
        << "first '" << testing::PrintToString(std::wstring(c.First)) << "' second '"
        << testing::PrintToString(std::wstring(c.Second)) << "'";
    EXPECT_EQ(CompareVersionTexts(c.Second, c.First), -c.Expected) << "reversed";
  }
}

TEST(SplitVersionText, Components) {
  using V = std::vector<std::wstring>;
  const struct {
    const wchar_t* Text;
    V Parts;
  } cases[] = {
      {L"", V{}},
      {L"   ", V{}},
      {L"1.2 3", V{L"1", L"2", L"3"}},
      {L"1 . 2", V{L"1", L"2"}},
      {L"1..2", V{L"1", L"", L"2"}},
      {L"1.2.", V{L"1", L"2", L""}},
      {L".5", V{L"", L"5"}},
      {L"1.2.3.4\r\n", V{L"1", L"2", L"3", L"4"}},
      {L"\"a\"\"b.c\".d", V{L"a\"b.c", L"d"}},
      {L"\"a b", V{L"a b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitVersionText(c.Text), c.Parts) << testing::PrintToString(std::wstring(c.Text));
}

TEST(VersionComponentValue, Numbers) {
  const struct {
    const wchar_t* Text;
    int32_t Value;
  } cases[] = {
      {L"17", 17},       {L"  17", 17},   {L"+17", 17},         {L"-17", -17},
      {L"$ff", 255},     {L"x10", 16},    {L"0X10", 16},        {L"$FFFFFFFF", -1},
      {L"-0x10", -16},   {L"2b", 0},      {L"rc1", 0},          {L"", 0},
      {L"0x", 0},        {L"$", 0},       {L"17 ", 0},          {L"2147483647", 2147483647},
      {L"-2147483648", INT32_MIN},        {L"2147483648", 0},   {L"99999999999999999999", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VersionComponentValue(c.Text), c.Value) << testing::PrintToString(std::wstring(c.Text));
}
}  // namespace
