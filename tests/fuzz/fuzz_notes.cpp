// Release notes as downloaded: arbitrary bytes decoded (UTF-8 or the ANSI fallback) and turned
// into the page; the charset declaration must land inside the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/changes_page.h"
#include "system/errors.h"
#include "system/text.h"

namespace {
std::wstring Latin1(std::string_view bytes) {
  std::wstring out;
  for (unsigned char b : bytes) out.push_back(static_cast<wchar_t>(b));
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::wstring notes;
  try {
    notes = DecodeNotes(bytes, Latin1);
  } catch (const Exception&) {
    return 0;  // broken UTF-8 after a byte-order mark: the download is reported as failed
  }
  std::wstring lowered = notes;
  for (wchar_t& ch : lowered)
    if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch - L'A' + L'a');
  if (CharsetInsertPosition(lowered) > lowered.size()) __builtin_trap();
  const std::wstring page = BuildChangesPage(notes);
  (void)EncodeUtf8(page);
  return 0;
}
