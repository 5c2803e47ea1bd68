// The arithmetic of a ranged download, kept apart from threads and sockets so it is checked
// natively: the ranges of the parts, the "Range" header text, the names of the part files, the
// size from "Content-Length" and the check of what a part really received. All sizes and
// offsets are signed 64-bit, so files beyond 4 GiB work like small ones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One part: the offsets of its first and last byte, both inclusive.
struct TPartRange {
  int64_t StartByte = 0;
  int64_t EndByte = -1;
  int64_t Length() const { return EndByte - StartByte + 1; }
  bool operator==(const TPartRange&) const = default;
};

// The number of parts a file of totalSize bytes is cut into when partCount parts are wanted:
// never more parts than bytes, so no part gets an empty or reversed range. At least 1.
int32_t EffectivePartCount(int64_t totalSize, int32_t partCount);

// Contiguous ranges covering [0, totalSize): part size is totalSize / partCount, the last
// part also takes the remainder. partCount must be from 1 to totalSize.
std::vector<TPartRange> PlanRanges(int64_t totalSize, int32_t partCount);

// "bytes=<first>-<last>".
std::wstring RangeHeaderValue(const TPartRange& range);

// The target path with its extension replaced by ".part<index>". The extension starts at the
// last "." that no "\" or ":" follows; without one, the suffix is appended to the whole path.
std::wstring PartFileName(std::wstring_view fileName, int32_t index);

// A "Content-Length" value as a signed 64-bit decimal number; -1 when it is not one.
int64_t ParseContentLength(std::wstring_view value);

// What a part's answer delivered, judged after its body was written.
enum class TPartOutcome {
  Range,      // exactly the requested range
  WholeFile,  // the whole file, answered with 200 by a server that ignores "Range"
};

// Judges the head of a part's answer before any of its body is written: status, its
// "Content-Range" and "Content-Length" headers (empty when absent), the requested range and the
// size of the whole file. A 206 must name exactly the requested range and the file's size; any
// other success is the whole file. Returns the body length the answer must deliver; raises
// Exception with a Russian message (without the part prefix) for an answer that carries other
// bytes.
int64_t JudgePartHead(int status, std::wstring_view contentRange, std::wstring_view contentLength,
                      const TPartRange& range, int64_t totalSize);

// Judges a finished part: status (2xx), its "Content-Range" header (may be empty), the bytes in
// the part file, the requested range and the size of the whole file. Raises Exception with a
// Russian message (without the part prefix) when the part holds anything else.
TPartOutcome CheckPart(int status, std::wstring_view contentRange, int64_t received, const TPartRange& range,
                       int64_t totalSize);

// The progress throttle: true when at least intervalMs have passed from last to now on the
// wrapping 32-bit millisecond tick count.
inline bool TickIntervalPassed(uint32_t now, uint32_t last, uint32_t intervalMs) {
  return static_cast<uint32_t>(now - last) >= intervalMs;
}
