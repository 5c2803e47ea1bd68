#include "release/answer_text.h"

#include <zlib.h>

#include <cstdint>

#include "release/response.h"
#include "system/errors.h"
#include "system/text.h"

namespace {

constexpr unsigned kUtf8 = 65001;
constexpr unsigned kUtf16LE = 1200;
constexpr unsigned kUtf16BE = 1201;
constexpr unsigned kUtf32LE = 12000;
constexpr unsigned kUtf32BE = 12001;

std::wstring DecodeUtf16(std::string_view b, bool bigEndian) {
  if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == (bigEndian ? 0xFE : 0xFF) &&
      static_cast<unsigned char>(b[1]) == (bigEndian ? 0xFF : 0xFE))
    b.remove_prefix(2);
  std::wstring out;
  out.reserve(b.size() / 2);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const unsigned hi = static_cast<unsigned char>(b[bigEndian ? i : i + 1]);
    const unsigned lo = static_cast<unsigned char>(b[bigEndian ? i + 1 : i]);
    out.push_back(static_cast<wchar_t>((hi << 8) | lo));
  }
  if (b.size() % 2) out.push_back(L'\xFFFD');
  return out;
}

std::wstring DecodeUtf32(std::string_view b, bool bigEndian) {
  auto at = [&](size_t i) -> uint32_t {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const uint32_t byte = static_cast<unsigned char>(b[i + (bigEndian ? k : 3 - k)]);
      v = (v << 8) | byte;
    }
    return v;
  };
  size_t start = 0;
  if (b.size() >= 4 && at(0) == 0xFEFF) start = 4;
  std::wstring out;
  for (size_t i = start; i + 3 < b.size(); i += 4) {
    uint32_t cp = at(i);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    AppendUtf16(out, cp);
  }
  if (b.size() % 4) out.push_back(L'\xFFFD');
  return out;
}

std::wstring DecodeUtf8Body(std::string_view b) {
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") b.remove_prefix(3);
  auto text = DecodeUtf8Strict(b);
  if (!text) throw Exception(L"No mapping for the Unicode character exists in the target multi-byte code page");
  return std::move(*text);
}

}  // namespace

std::optional<std::wstring> CharsetOf(std::wstring_view contentType) {
  size_t start = 0;
  while (start <= contentType.size()) {
    size_t end = contentType.find(L';', start);
    if (end == std::wstring_view::npos) end = contentType.size();
    const std::wstring_view piece = TrimBlank(contentType.substr(start, end - start));
    if (piece.size() >= 7 && SameTextAscii(piece.substr(0, 7), L"charset")) {
      const size_t eq = piece.find(L'=');
      if (eq == std::wstring_view::npos || piece.find(L'=', eq + 1) != std::wstring_view::npos) return std::nullopt;
      std::wstring_view value = TrimBlank(piece.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return std::wstring(value);
    }
    start = end + 1;
  }
  return std::nullopt;
}

unsigned CodePageByName(std::wstring_view name) {
  static const struct {
    const wchar_t* Name;
    unsigned CodePage;
  } kNames[] = {
      {L"utf-8", kUtf8}, {L"utf8", kUtf8},
      {L"utf-16", kUtf16LE}, {L"utf-16le", kUtf16LE}, {L"unicode", kUtf16LE},
      {L"utf-16be", kUtf16BE}, {L"unicodefffe", kUtf16BE},
      {L"utf-32", kUtf32LE}, {L"utf-32le", kUtf32LE}, {L"utf-32be", kUtf32BE},
      {L"utf-7", 65000},
      {L"us-ascii", 20127}, {L"ascii", 20127},
      {L"windows-1250", 1250}, {L"windows-1251", 1251}, {L"windows-1252", 1252}, {L"windows-1253", 1253},
      {L"windows-1254", 1254}, {L"windows-1255", 1255}, {L"windows-1256", 1256}, {L"windows-1257", 1257},
      {L"windows-1258", 1258}, {L"windows-874", 874},
      {L"cp1250", 1250}, {L"cp1251", 1251}, {L"cp1252", 1252}, {L"cp1253", 1253}, {L"cp1254", 1254},
      {L"cp1255", 1255}, {L"cp1256", 1256}, {L"cp1257", 1257}, {L"cp1258", 1258},
      {L"x-cp1250", 1250}, {L"x-cp1251", 1251},
      {L"koi8-r", 20866}, {L"koi8r", 20866}, {L"koi8-u", 21866}, {L"koi8-ru", 21866},
      {L"ibm866", 866}, {L"cp866", 866}, {L"866", 866}, {L"ibm437", 437}, {L"cp437", 437},
      {L"ibm850", 850}, {L"cp850", 850}, {L"x-mac-cyrillic", 10007}, {L"macintosh", 10000},
      {L"iso-8859-1", 28591}, {L"latin1", 28591}, {L"l1", 28591}, {L"iso_8859-1", 28591},
      {L"iso-8859-2", 28592}, {L"iso-8859-3", 28593}, {L"iso-8859-4", 28594}, {L"iso-8859-5", 28595},
      {L"iso-8859-6", 28596}, {L"iso-8859-7", 28597}, {L"iso-8859-8", 28598}, {L"iso-8859-8-i", 38598},
      {L"iso-8859-9", 28599}, {L"iso-8859-13", 28603}, {L"iso-8859-15", 28605}, {L"latin9", 28605},
      {L"shift_jis", 932}, {L"shift-jis", 932}, {L"sjis", 932}, {L"euc-jp", 51932}, {L"iso-2022-jp", 50220},
      {L"gb2312", 936}, {L"gbk", 936}, {L"gb18030", 54936}, {L"big5", 950},
      {L"euc-kr", 51949}, {L"ks_c_5601-1987", 949},
  };
  const std::wstring low = AsciiLower(name);
  for (const auto& entry : kNames)
    if (low == entry.Name) return entry.CodePage;
  return 0;
}

std::string InflateBody(std::string_view body, bool gzip, size_t maxSize) {
  z_stream z{};
  if (inflateInit2(&z, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK) throw Exception(L"Error decompressing data");
  std::string out;
  char buffer[16384];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  z.avail_in = static_cast<uInt>(body.size());
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    const size_t produced = sizeof buffer - z.avail_out;
    if (produced > maxSize - out.size()) {
      inflateEnd(&z);
      throw Exception(FormatMessageText(L"Распакованный ответ сервера длиннее %d байт",
                                        {IntToStr(static_cast<int64_t>(maxSize))}));
    }
    out.append(buffer, produced);
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // cut short
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) throw Exception(L"Error decompressing data");
  return out;
}

std::wstring DecodeAnswerText(std::string_view body, std::wstring_view contentType,
                              std::wstring_view contentEncoding, const TCodePageDecoder& decodeCodePage) {
  std::string inflated;
  if (!body.empty() && (contentEncoding == L"gzip" || contentEncoding == L"deflate")) {
    inflated = InflateBody(body, contentEncoding == L"gzip");
    body = inflated;
  }
  const auto charset = CharsetOf(contentType);
  if (!charset || SameTextAscii(*charset, L"utf-8")) return DecodeUtf8Body(body);
  const unsigned codePage = CodePageByName(*charset);
  switch (codePage) {
    case 0:
      throw Exception(L"Invalid encoding name");
    case kUtf8:
      return DecodeUtf8Body(body);
    case kUtf16LE:
    case kUtf16BE:
      return DecodeUtf16(body, codePage == kUtf16BE);
    case kUtf32LE:
    case kUtf32BE:
      return DecodeUtf32(body, codePage == kUtf32BE);
    default:
      return body.empty() ? std::wstring() : decodeCodePage(codePage, body);
  }
}

std::wstring ReadAnswerText(const THttpResponse& response, const TCodePageDecoder& decodeCodePage) {
  return DecodeAnswerText(response.Body, response.Header(L"Content-Type"), response.Header(L"Content-Encoding"),
                          decodeCodePage);
}

std::wstring TrimControlAndSpace(std::wstring_view text) {
  auto low = [](wchar_t c) { return static_cast<uint32_t>(c) <= 0x20; };
  while (!text.empty() && low(text.front())) text.remove_prefix(1);
  while (!text.empty() && low(text.back())) text.remove_suffix(1);
  return std::wstring(text);
}
