#include <gtest/gtest.h>

#include "system/text.h"

TEST(DecodeUtf8Strict, AcceptsWellFormedAndRefusesEveryBrokenForm) {
  struct Case {
    const char* bytes;
    bool ok;
    std::wstring text;
  } cases[] = {
      {"", true, L""},
      {"1.2.3", true, L"1.2.3"},
      {"\xD0\x9F\xD1\x80\xD0\xB8", true, L"\x041F\x0440\x0438"},
      {"\xF0\x9F\x98\x80", true, L"\xD83D\xDE00"},
      {"\xC0\xAF", false, L""},          // overlong
      {"\xED\xA0\x80", false, L""},      // surrogate
      {"\xD0", false, L""},              // cut short
      {"\xFF", false, L""},
      {"a\x80" "b", false, L""},         // stray continuation byte
      {"\xF4\x90\x80\x80", false, L""},  // beyond U+10FFFF
  };
  for (const auto& c : cases) {
    const auto got = DecodeUtf8Strict(c.bytes);
    EXPECT_EQ(got.has_value(), c.ok) << c.bytes;
    if (got && c.ok) {
      EXPECT_EQ(*got, c.text);
    }
  }
}

TEST(EncodeUtf8, RoundTripsSurrogatePairsAndReplacesLoneOnes) {
  EXPECT_EQ(EncodeUtf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(EncodeUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(*DecodeUtf8Strict(EncodeUtf8(L"Установка")), L"Установка");
}

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(SameTextAscii(L"TANDREL.EXE", L"Tandrel.exe"));
  EXPECT_FALSE(SameTextAscii(L"Тandrel.exe", L"тandrel.exe"));  // Cyrillic Т against т
  EXPECT_FALSE(SameTextAscii(L"Tandrel", L"Tandrel.exe"));
  EXPECT_EQ(AsciiLower(L"<HTML>Ä"), L"<html>Ä");
}

TEST(ExtractFileName, TakesTextAfterLastSeparator) {
  EXPECT_EQ(ExtractFileName(L"C:\\a\\b\\Morvane.exe"), L"Morvane.exe");
  EXPECT_EQ(ExtractFileName(L"C:Morvane.exe"), L"Morvane.exe");
  EXPECT_EQ(ExtractFileName(L"Morvane.exe"), L"Morvane.exe");
}
