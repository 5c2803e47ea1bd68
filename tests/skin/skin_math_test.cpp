// The gauge's reading and range rules, and the recolouring of skin pictures by a tone.
#include <gtest/gtest.h>

#include <cstdint>

#include "skin/skin_math.h"

namespace {

using Skin::GaugeRange;

struct ReadingCase {
  int64_t max;
  int64_t progress;
  const wchar_t* text;
};

TEST(Gauge, ReadingTable) {
  const ReadingCase cases[] = {
      {100, 0, L"0%"},   {3, 1, L"33%"},     {8, 1, L"12%"},  // 12.5: halves to even
      {8, 3, L"38%"},    {8, 5, L"62%"},     {8, 7, L"88%"},   {1000, 1000, L"100%"},
      {200, 1, L"0%"},   {200, 3, L"2%"},    {0, 0, L"0%"},    // empty range reads 0
      {24, 15, L"62%"},  {88, 11, L"12%"},  // 62.5 and 12.5 exactly, though not in binary
      {int64_t{5} << 32, int64_t{5} << 31, L"50%"},              // 64-bit totals
      {int64_t{1} << 62, int64_t{1} << 59, L"12%"},              // a tie near the top
      {INT64_MAX, INT64_MAX / 200 * 3, L"1%"},                   // just below 1.5, which doubles read as a tie
  };
  for (const ReadingCase& c : cases) {
    GaugeRange g;
    g.SetMaxValue(c.max);
    g.SetProgress(c.progress);
    EXPECT_EQ(g.Text(L"%"), c.text) << c.progress << " of " << c.max;
  }
}

TEST(Gauge, PercentWithNonZeroMinimum) {
  EXPECT_EQ(Skin::GaugePercent(10, 20, 15), 50);
  EXPECT_EQ(Skin::GaugePercent(-10, 10, 0), 50);
  EXPECT_EQ(Skin::GaugePercent(7, 7, 7), 0);
  // The widest range there is: the span does not fit a signed 64-bit number.
  EXPECT_EQ(Skin::GaugePercent(INT64_MIN, INT64_MAX, 0), 50);
  EXPECT_EQ(Skin::GaugePercent(INT64_MIN, INT64_MAX, INT64_MAX), 100);
  EXPECT_EQ(Skin::GaugePercent(INT64_MIN, INT64_MAX, INT64_MIN), 0);
}

TEST(Gauge, StartsAtZeroOfHundred) {
  GaugeRange g;
  EXPECT_EQ(g.MinValue(), 0);
  EXPECT_EQ(g.MaxValue(), 100);
  EXPECT_EQ(g.Progress(), 0);
  EXPECT_EQ(g.Text(L"%"), L"0%");
}

TEST(Gauge, MaximumBelowProgressPullsItDown) {
  GaugeRange g;
  g.SetProgress(80);
  g.SetMaxValue(50);
  EXPECT_EQ(g.Progress(), 50);
  EXPECT_EQ(g.Text(L"%"), L"100%");
  // Raising the maximum again leaves the position where it is.
  g.SetMaxValue(200);
  EXPECT_EQ(g.Progress(), 50);
}

TEST(Gauge, ProgressHeldWithinRange) {
  GaugeRange g;
  g.SetProgress(150);
  EXPECT_EQ(g.Progress(), 100);
  g.SetProgress(-5);
  EXPECT_EQ(g.Progress(), 0);
  g.SetMinValue(10);
  EXPECT_EQ(g.Progress(), 10);
}

TEST(Gauge, ChangeReportedOnlyWhenSomethingChanged) {
  GaugeRange g;
  EXPECT_FALSE(g.SetProgress(0));
  EXPECT_TRUE(g.SetProgress(1));
  EXPECT_FALSE(g.SetMaxValue(100));
  EXPECT_TRUE(g.SetMaxValue(0));  // pulls the position down as well
}

struct FillCase {
  int64_t min, max, progress;
  int width;
  int fill;
};

TEST(Gauge, FillWidthTable) {
  const FillCase cases[] = {
      {0, 100, 0, 464, 0},       {0, 100, 100, 464, 464},  {0, 100, 50, 464, 232},
      {0, 3, 1, 464, 154},       // rounded down
      {0, 0, 0, 464, 0},         // empty range: no fill
      {0, 100, 50, 0, 0},        // a gauge not laid out yet
      {10, 20, 15, 100, 50},     // non-zero minimum
      {0, int64_t{1} << 40, int64_t{1} << 39, 464, 232},  // totals past 4 GiB
      // The widest range there is: the span does not fit a signed 64-bit number.
      {INT64_MIN, INT64_MAX, INT64_MAX, 464, 464}, {INT64_MIN, INT64_MAX, INT64_MIN, 464, 0},
  };
  for (const FillCase& c : cases) {
    GaugeRange g;
    g.SetMinValue(c.min);
    g.SetMaxValue(c.max);
    g.SetProgress(c.progress);
    EXPECT_EQ(g.FillWidth(c.width), c.fill) << c.progress << " of " << c.min << ".." << c.max << " over " << c.width;
  }
}

struct TintCase {
  uint32_t pixel;
  uint32_t expected;
};

TEST(Tint, ScalesToneByBrightestChannelAndKeepsAlpha) {
  const uint32_t tone = 15102740;  // red 20, green 115, blue 230
  const TintCase cases[] = {
      {0xFFFFFFFF, 0xFF1372E5},  // white: 20*255/256=19, 115*255/256=114, 230*255/256=229
      {0xFF000000, 0xFF000000},  // black stays black
      {0x80E0E0E0, 0x801164C9},  // alpha kept; m = 224: 17, 100, 201
      {0xFF10FF20, 0xFF1372E5},  // m is the largest channel, whichever it is
      {0x00FFFFFF, 0x001372E5},
      {0xFF808080, 0xFF0A3973},  // m = 128: 10, 57, 115
  };
  for (const TintCase& c : cases) {
    EXPECT_EQ(Skin::TintPixel(c.pixel, tone), c.expected) << std::hex << c.pixel;
  }
}

TEST(Tint, PremultiplyScalesColourByAlpha) {
  std::vector<uint32_t> px = {0xFFFFFFFF, 0x80FF0000, 0x00FFFFFF};
  Skin::PremultiplyPixels(px);
  EXPECT_EQ(px[0], 0xFFFFFFFFu);
  EXPECT_EQ(px[1], 0x80800000u);
  EXPECT_EQ(px[2], 0x00000000u);
}

}  // namespace
