#include "skin/skin_math.h"

#include <algorithm>

#include "system/text.h"

namespace Skin {

namespace {

// Quotient and remainder of 100 * part / whole for part < whole, without overflow for any
// 64-bit whole: the product is built by doubling and adding, each step reduced below whole.
struct TQuotient {
  uint64_t Quot = 0;
  uint64_t Rem = 0;
};

TQuotient Hundredfold(uint64_t part, uint64_t whole) {
  TQuotient acc;
  for (int bit = 6; bit >= 0; --bit) {
    // acc = 2 * acc
    acc.Quot *= 2;
    if (acc.Rem >= whole - acc.Rem) {
      acc.Rem -= whole - acc.Rem;
      ++acc.Quot;
    } else {
      acc.Rem *= 2;
    }
    if ((100u >> bit) & 1u) {
      // acc += part
      if (acc.Rem >= whole - part) {
        acc.Rem -= whole - part;
        ++acc.Quot;
      } else {
        acc.Rem += part;
      }
    }
  }
  return acc;
}

}  // namespace

int64_t GaugePercent(int64_t minValue, int64_t maxValue, int64_t position) {
  if (maxValue <= minValue) return 0;
  // Unsigned differences cannot overflow, whatever the signs of the ends.
  const uint64_t span = static_cast<uint64_t>(maxValue) - static_cast<uint64_t>(minValue);
  position = std::clamp(position, minValue, maxValue);
  const uint64_t done = static_cast<uint64_t>(position) - static_cast<uint64_t>(minValue);
  if (done == span) return 100;
  // Exact quotient, rounded to nearest with halves to the even neighbour.
  const TQuotient q = Hundredfold(done, span);
  const uint64_t rest = span - q.Rem;  // the distance to the next whole number, times span
  uint64_t result = q.Quot;
  if (q.Rem > rest || (q.Rem == rest && (result & 1u))) ++result;
  return static_cast<int64_t>(result);
}

bool GaugeRange::SetMinValue(int64_t value) {
  const int64_t oldMin = FMin, oldMax = FMax, oldPos = FProgress;
  FMin = value;
  if (FMax < FMin) FMax = FMin;
  FProgress = std::clamp(FProgress, FMin, FMax);
  return oldMin != FMin || oldMax != FMax || oldPos != FProgress;
}

bool GaugeRange::SetMaxValue(int64_t value) {
  const int64_t oldMin = FMin, oldMax = FMax, oldPos = FProgress;
  FMax = value;
  if (FMin > FMax) FMin = FMax;
  FProgress = std::clamp(FProgress, FMin, FMax);
  return oldMin != FMin || oldMax != FMax || oldPos != FProgress;
}

bool GaugeRange::SetProgress(int64_t value) {
  const int64_t old = FProgress;
  FProgress = std::clamp(value, FMin, FMax);
  return old != FProgress;
}

std::wstring GaugeRange::Text(const std::wstring& suffix) const { return IntToStr(Percent()) + suffix; }

int GaugeRange::FillWidth(int width) const {
  if (FMax <= FMin || width <= 0) return 0;
  const uint64_t span = static_cast<uint64_t>(FMax) - static_cast<uint64_t>(FMin);
  const uint64_t done = static_cast<uint64_t>(FProgress) - static_cast<uint64_t>(FMin);
  return static_cast<int>(static_cast<double>(width) * static_cast<double>(done) / static_cast<double>(span));
}

uint32_t TintPixel(uint32_t pixel, uint32_t tone) {
  const uint32_t a = pixel >> 24;
  const uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
  const uint32_t m = std::max({r, g, b});
  const uint32_t tr = tone & 0xFF, tg = (tone >> 8) & 0xFF, tb = (tone >> 16) & 0xFF;
  return (a << 24) | ((tr * m / 256) << 16) | ((tg * m / 256) << 8) | (tb * m / 256);
}

void TintPixels(std::vector<uint32_t>& pixels, uint32_t tone) {
  for (uint32_t& p : pixels) p = TintPixel(p, tone);
}

void PremultiplyPixels(std::vector<uint32_t>& pixels) {
  for (uint32_t& p : pixels) {
    const uint32_t a = p >> 24;
    const uint32_t r = ((p >> 16) & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255, b = (p & 0xFF) * a / 255;
    p = (a << 24) | (r << 16) | (g << 8) | b;
  }
}

}  // namespace Skin
