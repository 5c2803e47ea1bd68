// Arithmetic of the drawn controls that does not need a window: the gauge's range and
// reading, and the recolouring of skin pictures by a tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Skin {

// Whole percentage of position within min..max, rounded to nearest with halves to the even
// neighbour on the exact quotient (integer arithmetic: the same on every build); 0 when the
// range is empty. A position outside the range counts as the nearer end.
int64_t GaugePercent(int64_t minValue, int64_t maxValue, int64_t position);

// Range and position of a gauge. The position is always held within the range.
class GaugeRange {
 public:
  int64_t MinValue() const { return FMin; }
  int64_t MaxValue() const { return FMax; }
  int64_t Progress() const { return FProgress; }
  // Each returns true when anything changed.
  bool SetMinValue(int64_t value);
  // A maximum below the current position pulls the position down to it.
  bool SetMaxValue(int64_t value);
  // A position outside the range is held at the nearer end.
  bool SetProgress(int64_t value);
  int64_t Percent() const { return GaugePercent(FMin, FMax, FProgress); }
  // The reading drawn on the gauge: the percentage followed by suffix, e.g. "37%".
  std::wstring Text(const std::wstring& suffix) const;
  // How many pixels of a bar width pixels wide the fill covers (rounded down); 0 for an empty
  // range.
  int FillWidth(int width) const;

 private:
  int64_t FMin = 0;
  int64_t FMax = 100;
  int64_t FProgress = 0;
};

// Tone as a Windows colour value: red in the low byte, then green, then blue.
// Pixels are 0xAARRGGBB (the memory order B, G, R, A of a 32-bit DIB).
// Each pixel takes the tone's red, green and blue, each scaled by m / 256 where m is the
// largest of the pixel's own red, green and blue; alpha is kept.
uint32_t TintPixel(uint32_t pixel, uint32_t tone);
void TintPixels(std::vector<uint32_t>& pixels, uint32_t tone);

// Premultiplies colour by alpha, as alpha blending of 32-bit bitmaps expects.
void PremultiplyPixels(std::vector<uint32_t>& pixels);

}  // namespace Skin
