#include "system/changes_page.h"

#include "system/errors.h"
#include "system/text.h"

namespace {

const wchar_t kTemplate[] =
    L"<!DOCTYPE html>\r\n"
    L"<html>\r\n"
    L"<head>\r\n"
    L"<meta charset=\"utf-8\">\r\n"
    L"<style>\r\n"
    L"  body {\r\n"
    L"    margin: 16px;\r\n"
    L"    overflow-y: hidden;\r\n"
    L"  }\r\n"
    L"  .text-container {\r\n"
    L"    white-space: pre-wrap;\r\n"
    L"    word-wrap: break-word;\r\n"
    L"    overflow-wrap: break-word;\r\n"
    L"    font-family: monospace;\r\n"
    L"  }\r\n"
    L"</style>\r\n"
    L"</head>\r\n"
    L"<body>\r\n"
    L"<div class=\"text-container\">\r\n";

const wchar_t kClosing[] = L"\r\n</div>\r\n</body>\r\n</html>";
const wchar_t kCharset[] = L"<meta charset=\"utf-8\">";

bool IsTagNameEnd(wchar_t ch) {
  return ch == L'>' || ch == L'/' || ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\f';
}

// Position just past the start tag "<name ...>" whose name is exactly name; npos when none.
size_t AfterStartTag(const std::wstring& lowered, const std::wstring& open) {
  size_t pos = 0;
  while ((pos = lowered.find(open, pos)) != std::wstring::npos) {
    const size_t after = pos + open.size();
    if (after < lowered.size() && IsTagNameEnd(lowered[after])) {
      const size_t close = lowered.find(L'>', after);
      return close == std::wstring::npos ? std::wstring::npos : close + 1;
    }
    pos = after;
  }
  return std::wstring::npos;
}

}  // namespace

std::wstring DecodeNotes(std::string_view bytes, const std::function<std::wstring(std::string_view)>& ansiDecode) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    auto text = DecodeUtf8Strict(bytes.substr(3));
    if (!text) throw Exception(L"No mapping for the Unicode character exists in the target multi-byte code page");
    return *text;
  }
  auto text = DecodeUtf8Strict(bytes);
  if (text && text->find(static_cast<wchar_t>(0xFFFD)) == std::wstring::npos) return *text;
  return ansiDecode(bytes);
}

size_t CharsetInsertPosition(const std::wstring& lowered) {
  for (const wchar_t* tag : {L"<head", L"<html", L"<!doctype"}) {
    const size_t pos = AfterStartTag(lowered, tag);
    if (pos != std::wstring::npos) return pos;
  }
  return 0;
}

std::wstring BuildChangesPage(const std::wstring& notes) {
  const std::wstring lowered = AsciiLower(notes);
  const bool html = lowered.find(L"<html") != std::wstring::npos || lowered.find(L"<!doctype") != std::wstring::npos;
  if (!html) return kTemplate + notes + kClosing;
  if (lowered.find(L"<meta") != std::wstring::npos) return notes;
  std::wstring page = notes;
  page.insert(CharsetInsertPosition(lowered), kCharset);
  return page;
}
