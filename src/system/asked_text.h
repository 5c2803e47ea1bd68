// A text that a system call fills into the caller's buffer, however long it turns out to be.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

namespace Sys {

// call(buffer, size) returns the length written (without the terminator) when it fit; when it
// did not, either the size it needs or a value not below size (the calls that cut the text and
// say so). 0 is a failure, and gives an empty text. The buffer grows until the text fits.
template <typename Call>
std::wstring AskedText(Call call) {
  std::wstring text(MAX_PATH + 1, L'\0');
  for (int attempt = 0; attempt < 16; ++attempt) {
    const DWORD got = call(text.data(), static_cast<DWORD>(text.size()));
    if (got == 0) return std::wstring();
    if (got < text.size()) {
      text.resize(got);
      return text;
    }
    text.assign(std::max<size_t>(text.size() * 2, static_cast<size_t>(got) + 1), L'\0');
  }
  return std::wstring();
}

}  // namespace Sys
