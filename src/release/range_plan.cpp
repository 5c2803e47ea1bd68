#include "release/range_plan.h"

#include <algorithm>

std::vector<TPartRange> PlanRangeParts(std::vector<TPartRange> wanted, int32_t connections, int64_t gap,
                                       int64_t minPiece) {
  std::erase_if(wanted, [](const TPartRange& r) { return r.StartByte < 0 || r.EndByte < r.StartByte; });
  std::sort(wanted.begin(), wanted.end(), [](const TPartRange& a, const TPartRange& b) {
    return a.StartByte != b.StartByte ? a.StartByte < b.StartByte : a.EndByte < b.EndByte;
  });
  std::vector<TPartRange> parts;
  for (const TPartRange& r : wanted) {
    // Written as a subtraction so that ranges near the largest offset cannot overflow.
    if (!parts.empty() && r.StartByte - parts.back().EndByte <= gap + 1)
      parts.back().EndByte = std::max(parts.back().EndByte, r.EndByte);
    else
      parts.push_back(r);
  }
  while (static_cast<int64_t>(parts.size()) < connections) {
    const auto longest = std::max_element(parts.begin(), parts.end(),
                                          [](const TPartRange& a, const TPartRange& b) { return a.Length() < b.Length(); });
    if (longest == parts.end() || longest->Length() / 2 < minPiece) break;
    const TPartRange second{longest->StartByte + longest->Length() / 2, longest->EndByte};
    longest->EndByte = second.StartByte - 1;
    parts.insert(longest + 1, second);
  }
  return parts;
}

int64_t RangeBytes(const std::vector<TPartRange>& parts) {
  int64_t total = 0;
  for (const TPartRange& r : parts) total += r.Length();
  return total;
}
