// An HTTP answer body read as text: inflated when it came gzip- or deflate-encoded, decoded
// with the charset its "Content-Type" names (UTF-8 when none). Portable: bodies are untrusted.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct THttpResponse;

// The charset parameter of a "Content-Type" value; nullopt when it names none.
std::optional<std::wstring> CharsetOf(std::wstring_view contentType);

// The Windows code page of a charset name (letter case ignored); 0 when the name is unknown.
unsigned CodePageByName(std::wstring_view name);

// The most bytes an answer may inflate to; far above any real listing or text.
constexpr size_t kMaxInflatedBody = 64 * 1024 * 1024;

// The inflated body: gzip format when gzip, zlib format otherwise. Raises on broken data, and
// on a body that inflates past maxSize.
std::string InflateBody(std::string_view body, bool gzip, size_t maxSize = kMaxInflatedBody);

// Decodes bytes of a code page other than UTF-8 and UTF-16/32 (on Windows the system does).
using TCodePageDecoder = std::function<std::wstring(unsigned codePage, std::string_view bytes)>;

// The body as text. Raises "Invalid encoding name" for an unknown charset and "No mapping for
// the Unicode character exists in the target multi-byte code page" for broken UTF-8.
std::wstring DecodeAnswerText(std::string_view body, std::wstring_view contentType,
                              std::wstring_view contentEncoding, const TCodePageDecoder& decodeCodePage);
std::wstring ReadAnswerText(const THttpResponse& response, const TCodePageDecoder& decodeCodePage);

// The text without every character of code U+0020 or less at either end.
std::wstring TrimControlAndSpace(std::wstring_view text);
