// The release notes as a page for the web view.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Decodes the bytes of the notes: after a UTF-8 byte-order mark strictly as UTF-8 (raises
// "No mapping for the Unicode character exists in the target multi-byte code page" when that
// fails); otherwise as strict UTF-8, falling back to ansiDecode when the bytes are not UTF-8 or
// decode to a text holding U+FFFD.
std::wstring DecodeNotes(std::string_view bytes, const std::function<std::wstring(std::string_view)>& ansiDecode);

// Plain notes go into the page template unescaped; HTML notes (holding "<html" or "<!doctype"
// in any ASCII case) are the page themselves, with a UTF-8 charset declaration added when
// they have no "<meta".
std::wstring BuildChangesPage(const std::wstring& notes);

// Where the charset declaration goes in HTML notes without "<meta": right after the start tag
// of the head; with no head tag, after the start tag of the html element, else after the
// doctype declaration, else at the very start.
size_t CharsetInsertPosition(const std::wstring& lowered);
