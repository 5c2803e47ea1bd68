// Text helpers shared by every part of the program. Portable: std::wstring holds UTF-16
// code units on every platform (on Windows wchar_t is 16 bits; elsewhere each unit simply
// sits in a wider wchar_t).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Strict UTF-8 decoding: any invalid, overlong, surrogate or incomplete sequence gives nullopt.
std::optional<std::wstring> DecodeUtf8Strict(std::string_view bytes);
// UTF-8 that never fails: each malformed byte becomes U+FFFD. A three-byte form of a lone
// surrogate (as JSON readers write an escaped "\udc00") is kept as that UTF-16 unit.
std::wstring DecodeUtf8Lenient(std::string_view bytes);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::wstring_view text);
// Appends one code point in UTF-16: a surrogate pair above U+FFFF.
void AppendUtf16(std::wstring& out, uint32_t codePoint);

// Without leading and trailing spaces, tabs, CRs and LFs.
std::wstring_view TrimBlank(std::wstring_view text);

// ASCII-only case mapping: A-Z <-> a-z, every other unit unchanged.
std::wstring AsciiLower(std::wstring_view text);
std::wstring AsciiUpper(std::wstring_view text);
bool SameTextAscii(std::wstring_view a, std::wstring_view b);

std::wstring IntToStr(int64_t value);
// Bytes as lower-case hexadecimal digits, two a byte.
std::wstring LowerHex(std::string_view bytes);
// Text from an ASCII string literal or other 7-bit text.
std::wstring Widen(std::string_view ascii);

// The file-name part of a path: the text after the last "\", "/" or ":".
std::wstring ExtractFileName(std::wstring_view path);
// Replaces each "%s" or "%d" of the pattern, in order, with the next of the texts (numbers
// are passed through IntToStr). Only what the program's own message patterns need.
std::wstring FormatMessageText(std::wstring_view pattern, std::initializer_list<std::wstring> texts);
