#include "system/version_compare.h"

#include <algorithm>

namespace {
bool IsControlOrSpace(wchar_t c) { return c >= 0x0001 && c <= 0x0020; }

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
}  // namespace

std::vector<std::wstring> SplitVersionText(const std::wstring& text) {
  std::vector<std::wstring> parts;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && IsControlOrSpace(text[i])) ++i;
  while (i < n) {
    std::wstring part;
    if (text[i] == L'"') {
      ++i;
      while (i < n) {
        if (text[i] == L'"') {
          if (i + 1 < n && text[i + 1] == L'"') {
            part += L'"';
            i += 2;
            continue;
          }
          ++i;  // closing quote
          break;
        }
        part += text[i++];
      }
    } else {
      while (i < n && !IsControlOrSpace(text[i]) && text[i] != L'.') part += text[i++];
    }
    parts.push_back(std::move(part));
    while (i < n && IsControlOrSpace(text[i])) ++i;
    if (i < n && text[i] == L'.') {
      if (i + 1 == n) parts.emplace_back();
      ++i;
      while (i < n && IsControlOrSpace(text[i])) ++i;
    }
  }
  return parts;
}

int32_t VersionComponentValue(const std::wstring& component) {
  const size_t n = component.size();
  size_t i = 0;
  while (i < n && component[i] == L' ') ++i;
  bool negative = false;
  if (i < n && (component[i] == L'+' || component[i] == L'-')) negative = component[i++] == L'-';
  if (i >= n) return 0;

  size_t digitsAt = std::wstring::npos;
  if (component[i] == L'$' || component[i] == L'x' || component[i] == L'X') {
    digitsAt = i + 1;
  } else if (component[i] == L'0' && i + 1 < n && (component[i + 1] == L'x' || component[i + 1] == L'X')) {
    digitsAt = i + 2;
  }
  if (digitsAt != std::wstring::npos) {
    const size_t count = n - digitsAt;
    if (count < 1 || count > 8) return 0;
    uint32_t value = 0;
    for (size_t k = digitsAt; k < n; ++k) {
      const int d = HexDigit(component[k]);
      if (d < 0) return 0;
      value = value << 4 | static_cast<uint32_t>(d);
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
  }

  int64_t value = 0;
  for (size_t k = i; k < n; ++k) {
    const wchar_t c = component[k];
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + (c - L'0');
    if (value > 2147483648LL) return 0;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<int32_t>(value);
}

int CompareVersionTexts(const std::wstring& first, const std::wstring& second) {
  const std::vector<std::wstring> a = SplitVersionText(first);
  const std::vector<std::wstring> b = SplitVersionText(second);
  const size_t count = std::max(a.size(), b.size());
  for (size_t i = 0; i < count; ++i) {
    const int32_t x = i < a.size() ? VersionComponentValue(a[i]) : 0;
    const int32_t y = i < b.size() ? VersionComponentValue(b[i]) : 0;
    if (x < y) return -1;
    if (x > y) return 1;
  }
  return 0;
}
