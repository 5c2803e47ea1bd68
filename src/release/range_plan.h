// The parts of a download of some byte ranges of a file, not all of it: the ranges an update
// needs, joined where they touch or nearly touch, and the largest cut so that every connection
// has a share. Portable, checked natively.
#pragma once

#include <cstdint>
#include <vector>

#include "release/download_plan.h"

// Ranges closer than this are fetched as one, gap included: a request costs more than so few
// bytes.
inline constexpr int64_t kRangeJoinGap = 4096;
// A range is cut for another connection only while its pieces stay at least this long.
inline constexpr int64_t kRangeMinPiece = 256 * 1024;

// The parts that fetch every byte of wanted (ranges with StartByte <= EndByte, in any order,
// overlapping or not), sorted by offset: ranges that overlap or lie within gap bytes of each
// other are joined, then the longest part is halved while there are fewer parts than
// connections and both halves keep at least minPiece bytes.
std::vector<TPartRange> PlanRangeParts(std::vector<TPartRange> wanted, int32_t connections,
                                       int64_t gap = kRangeJoinGap, int64_t minPiece = kRangeMinPiece);

// The bytes the parts cover.
int64_t RangeBytes(const std::vector<TPartRange>& parts);
