#include "release/download_plan.h"

#include <limits>

#include "system/errors.h"
#include "system/text.h"

int32_t EffectivePartCount(int64_t totalSize, int32_t partCount) {
  if (partCount < 1) partCount = 1;
  if (totalSize < partCount) return totalSize < 1 ? 1 : static_cast<int32_t>(totalSize);
  return partCount;
}

std::vector<TPartRange> PlanRanges(int64_t totalSize, int32_t partCount) {
  std::vector<TPartRange> ranges;
  if (partCount < 1) return ranges;
  const int64_t partSize = totalSize / partCount;
  ranges.reserve(static_cast<size_t>(partCount));
  for (int32_t i = 0; i < partCount; ++i) {
    TPartRange r;
    r.StartByte = static_cast<int64_t>(i) * partSize;
    r.EndByte = (i == partCount - 1) ? totalSize - 1 : static_cast<int64_t>(i + 1) * partSize - 1;
    ranges.push_back(r);
  }
  return ranges;
}

std::wstring RangeHeaderValue(const TPartRange& range) {
  return L"bytes=" + IntToStr(range.StartByte) + L"-" + IntToStr(range.EndByte);
}

std::wstring PartFileName(std::wstring_view fileName, int32_t index) {
  size_t cut = fileName.size();
  for (size_t i = fileName.size(); i-- > 0;) {
    const wchar_t c = fileName[i];
    if (c == L'\\' || c == L':') break;
    if (c == L'.') {
      cut = i;
      break;
    }
  }
  return std::wstring(fileName.substr(0, cut)) + L".part" + IntToStr(index);
}

namespace {

// Digits only, no sign; false on overflow or anything else.
bool ParseUnsigned(std::wstring_view text, int64_t& value) {
  if (text.empty()) return false;
  int64_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    const int digit = c - L'0';
    if (v > (std::numeric_limits<int64_t>::max() - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

}  // namespace

int64_t ParseContentLength(std::wstring_view value) {
  bool negative = false;
  if (!value.empty() && (value[0] == L'+' || value[0] == L'-')) {
    negative = value[0] == L'-';
    value.remove_prefix(1);
  }
  int64_t v = 0;
  if (!ParseUnsigned(value, v)) return -1;
  return negative ? -v : v;
}

namespace {

// "bytes <first>-<last>/<total or *>": false when the header is not of that form.
bool ParseContentRange(std::wstring_view text, int64_t& first, int64_t& last, int64_t& total) {
  if (text.size() < 6 || !SameTextAscii(text.substr(0, 6), L"bytes ")) return false;
  text.remove_prefix(6);
  while (!text.empty() && text[0] == L' ') text.remove_prefix(1);
  const size_t dash = text.find(L'-');
  const size_t slash = text.find(L'/');
  if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || dash > slash) return false;
  if (!ParseUnsigned(text.substr(0, dash), first)) return false;
  if (!ParseUnsigned(text.substr(dash + 1, slash - dash - 1), last)) return false;
  const std::wstring_view rest = text.substr(slash + 1);
  if (rest == L"*") {
    total = -1;
    return true;
  }
  return ParseUnsigned(rest, total);
}

[[noreturn]] void RaiseLength(int64_t received, int64_t expected) {
  throw Exception(FormatMessageText(L"получено %d байт вместо %d", {IntToStr(received), IntToStr(expected)}));
}

}  // namespace

int64_t JudgePartHead(int status, std::wstring_view contentRange, std::wstring_view contentLength,
                      const TPartRange& range, int64_t totalSize) {
  int64_t expected = totalSize;
  if (status == 206) {
    int64_t first = 0, last = 0, total = 0;
    const bool parsed = ParseContentRange(contentRange, first, last, total);
    if (!parsed || first != range.StartByte || last != range.EndByte || (total >= 0 && total != totalSize)) {
      throw Exception(FormatMessageText(L"получен диапазон \"%s\" вместо %d-%d/%d",
                                        {std::wstring(contentRange), IntToStr(range.StartByte),
                                         IntToStr(range.EndByte), IntToStr(totalSize)}));
    }
    expected = range.Length();
  }
  if (!contentLength.empty()) {
    const int64_t length = ParseContentLength(contentLength);
    if (length != expected)
      throw Exception(FormatMessageText(L"сервер объявил %s байт вместо %d", {std::wstring(contentLength), IntToStr(expected)}));
  }
  return expected;
}

TPartOutcome CheckPart(int status, std::wstring_view contentRange, int64_t received, const TPartRange& range,
                       int64_t totalSize) {
  const bool wholeRange = range.StartByte == 0 && range.EndByte == totalSize - 1;
  const int64_t expected = JudgePartHead(status, contentRange, L"", range, totalSize);
  if (received != expected) RaiseLength(received, expected);
  return status == 206 || wholeRange ? TPartOutcome::Range : TPartOutcome::WholeFile;
}
