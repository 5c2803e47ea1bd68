#include <gtest/gtest.h>

#include "system/changes_page.h"
#include "system/errors.h"
#include "system/text.h"

namespace {

const std::wstring kHead =
    L"<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<style>\r\n  body {\r\n"
    L"    margin: 16px;\r\n    overflow-y: hidden;\r\n  }\r\n  .text-container {\r\n"
    L"    white-space: pre-wrap;\r\n    word-wrap: break-word;\r\n    overflow-wrap: break-word;\r\n"
    L"    font-family: monospace;\r\n  }\r\n</style>\r\n</head>\r\n<body>\r\n<div class=\"text-container\">\r\n";
const std::wstring kTail = L"\r\n</div>\r\n</body>\r\n</html>";

// Marks the bytes handed to the fallback decoder, so a test sees which way they went.
std::wstring FakeAnsi(std::string_view bytes) { return L"ANSI:" + Widen(bytes); }

}  // namespace

TEST(BuildChangesPage, PlainNotesGoIntoTheTemplateByteForByte) {
  EXPECT_EQ(BuildChangesPage(L"Версия 2.0\n- Исправлено"), kHead + L"Версия 2.0\n- Исправлено" + kTail);
  EXPECT_EQ(BuildChangesPage(L""), kHead + kTail);
  // Markup in plain notes is not escaped: it takes effect in the page.
  EXPECT_EQ(BuildChangesPage(L"a <b>bold</b> & more"), kHead + L"a <b>bold</b> & more" + kTail);
}

TEST(BuildChangesPage, HtmlNotesAreThePageWithACharsetWhereItBelongs) {
  struct Case {
    const wchar_t* notes;
    const wchar_t* page;
  } cases[] = {
      {L"<html><head></head><body>x</body></html>",
       L"<html><head><meta charset=\"utf-8\"></head><body>x</body></html>"},
      {L"<HTML><HEAD><TITLE>t</TITLE></HEAD></HTML>",
       L"<HTML><HEAD><meta charset=\"utf-8\"><TITLE>t</TITLE></HEAD></HTML>"},
      // Any meta tag, not only a charset one, leaves the document alone.
      {L"<html><head><meta name=\"x\"></head></html>", L"<html><head><meta name=\"x\"></head></html>"},
      // A head tag with attributes: after the end of its start tag, not inside it.
      {L"<html><head lang=\"ru\"><title>t</title></head></html>",
       L"<html><head lang=\"ru\"><meta charset=\"utf-8\"><title>t</title></head></html>"},
      // "<header" is no head tag; without a head the declaration follows the html start tag.
      {L"<html><body><header>h</header></body></html>",
       L"<html><meta charset=\"utf-8\"><body><header>h</header></body></html>"},
      // A doctype alone makes HTML; the declaration follows it.
      {L"<!doctype html><p>x</p>", L"<!doctype html><meta charset=\"utf-8\"><p>x</p>"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildChangesPage(c.notes), c.page) << c.notes;
}

TEST(DecodeNotes, Utf8WithOrWithoutMarkAndTheAnsiFallback) {
  struct Case {
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {"\xEF\xBB\xBF\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD0\xB5", L"Новое"},
      {"\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD0\xB5", L"Новое"},
      {"", L""},
      {"\xCD\xEE\xE2\xEE\xE5", L"ANSI:\xCD\xEE\xE2\xEE\xE5"},  // windows-1251 bytes are no UTF-8
      {"ok \xEF\xBF\xBD", L"ANSI:ok \xEF\xBF\xBD"},          // a decoded U+FFFD counts as failure
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeNotes(c.bytes, FakeAnsi), c.text);
}

TEST(DecodeNotes, InvalidUtf8AfterTheMarkIsAnError) {
  try {
    DecodeNotes("\xEF\xBB\xBF\xCD\xEE", FakeAnsi);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"No mapping for the Unicode character exists in the target multi-byte code page");
  }
}
