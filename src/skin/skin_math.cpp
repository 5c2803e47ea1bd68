#include "skin/skin_math.h"

#include <algorithm>
#include <cmath>

#include "system/text.h"

namespace Skin {

int64_t GaugePercent(int64_t minValue, int64_t maxValue, int64_t position) {
  if (maxValue == minValue) return 0;
  const double p = (100.0 / (static_cast<double>(maxValue) - static_cast<double>(minValue))) *
                   (static_cast<double>(position) - static_cast<double>(minValue));
  // Halves go to the even neighbour whatever rounding mode the process runs in.
  const double lower = std::floor(p);
  const double diff = p - lower;
  double r;
  if (diff > 0.5) {
    r = lower + 1;
  } else if (diff < 0.5) {
    r = lower;
  } else {
    r = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1;
  }
  return static_cast<int64_t>(r);
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
