// The parts of a download of some ranges of a file: joined where close, cut where long, every
// wanted byte covered once.
#include "release/range_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

using R = TPartRange;
constexpr int64_t kMiB = 1024 * 1024;

TEST(RangePlan, JoinsCloseRangesAndCutsLongOnes) {
  struct Case {
    const char* name;
    std::vector<R> wanted;
    int32_t connections;
    std::vector<R> parts;
  } cases[] = {
      {"nothing", {}, 4, {}},
      {"far apart stay apart, sorted", {{900000, 900099}, {0, 99}}, 1, {{0, 99}, {900000, 900099}}},
      {"touching join", {{0, 99}, {100, 199}}, 1, {{0, 199}}},
      {"a small gap joins", {{0, 99}, {100 + kRangeJoinGap, 200 + kRangeJoinGap}}, 1, {{0, 200 + kRangeJoinGap}}},
      {"a gap one byte larger does not", {{0, 99}, {101 + kRangeJoinGap, 200 + kRangeJoinGap}}, 1,
       {{0, 99}, {101 + kRangeJoinGap, 200 + kRangeJoinGap}}},
      {"overlapping and contained", {{0, 500}, {100, 200}, {400, 900}}, 1, {{0, 900}}},
      {"reversed and negative dropped", {{10, 5}, {-3, 4}, {20, 29}}, 1, {{20, 29}}},
      {"one long range shared by four", {{0, 4 * kMiB - 1}}, 4,
       {{0, kMiB - 1}, {kMiB, 2 * kMiB - 1}, {2 * kMiB, 3 * kMiB - 1}, {3 * kMiB, 4 * kMiB - 1}}},
      {"short ones are not cut", {{0, 300000}}, 4, {{0, 300000}}},
      {"the longest is cut first", {{0, 99}, {kMiB, 2 * kMiB - 1}}, 3,
       {{0, 99}, {kMiB, kMiB + kMiB / 2 - 1}, {kMiB + kMiB / 2, 2 * kMiB - 1}}},
      {"already enough parts", {{0, 99}, {kMiB, 3 * kMiB}}, 2, {{0, 99}, {kMiB, 3 * kMiB}}},
      {"near the largest offset", {{std::numeric_limits<int64_t>::max() - 9, std::numeric_limits<int64_t>::max() - 1}}, 1,
       {{std::numeric_limits<int64_t>::max() - 9, std::numeric_limits<int64_t>::max() - 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<R> parts = PlanRangeParts(c.wanted, c.connections);
    EXPECT_EQ(parts, c.parts);
  }
  EXPECT_EQ(RangeBytes({{0, 99}, {200, 299}}), 200);
}

}  // namespace
