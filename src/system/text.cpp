#include "system/text.h"

#include <initializer_list>

std::optional<std::wstring> DecodeUtf8Strict(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out.push_back(static_cast<wchar_t>(c));
      ++i;
      continue;
    }
    int extra;
    uint32_t cp;
    uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (n - i <= static_cast<size_t>(extra)) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    AppendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

std::wstring DecodeUtf8Lenient(std::string_view bytes) {
  if (auto strict = DecodeUtf8Strict(bytes)) return std::move(*strict);
  std::wstring out;
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length != 0 && i + length <= bytes.size()) {
      if (auto piece = DecodeUtf8Strict(bytes.substr(i, length))) {
        out += *piece;
        i += length;
        continue;
      }
      if (lead == 0xED && (static_cast<unsigned char>(bytes[i + 1]) & 0xE0) == 0xA0 &&
          (static_cast<unsigned char>(bytes[i + 2]) & 0xC0) == 0x80) {
        out.push_back(static_cast<wchar_t>(0xD000 | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F)));
        i += 3;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(0xFFFD));
    ++i;
  }
  return out;
}

std::wstring_view TrimBlank(std::wstring_view s) {
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::wstring LowerHex(std::string_view bytes) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0xF]);
  }
  return text;
}

std::string EncodeUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = static_cast<uint32_t>(text[i]) & 0xFFFF;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
      const uint32_t lo = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::wstring AsciiLower(std::wstring_view text) {
  std::wstring out(text);
  for (auto& ch : out)
    if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch - L'A' + L'a');
  return out;
}

std::wstring AsciiUpper(std::wstring_view text) {
  std::wstring out(text);
  for (auto& ch : out)
    if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - L'a' + L'A');
  return out;
}

bool SameTextAscii(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
    if (x != y) return false;
  }
  return true;
}

std::wstring IntToStr(int64_t value) {
  return Widen(std::to_string(value));
}

std::wstring Widen(std::string_view ascii) {
  std::wstring out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

std::wstring ExtractFileName(std::wstring_view path) {
  const size_t pos = path.find_last_of(L"\\/:");
  return std::wstring(pos == std::wstring_view::npos ? path : path.substr(pos + 1));
}

std::wstring FormatMessageText(std::wstring_view pattern, std::initializer_list<std::wstring> texts) {
  std::wstring out;
  auto next = texts.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size() && (pattern[i + 1] == L's' || pattern[i + 1] == L'd')) {
      if (next != texts.end()) out += *next++;
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

void AppendUtf16(std::wstring& out, uint32_t codePoint) {
  if (codePoint >= 0x10000) {
    codePoint -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(codePoint));
  }
}
