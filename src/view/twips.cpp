#include "view/twips.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korva {

std::int32_t roundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  if (value <= kMin) return std::numeric_limits<std::int32_t>::min();
  if (value >= kMax) return std::numeric_limits<std::int32_t>::max();
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double rounded = floor;
  if (fraction > 0.5) {
    rounded = floor + 1.0;
  } else if (fraction == 0.5) {
    rounded = std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
  }
  return static_cast<std::int32_t>(rounded);
}

float twipsPerPixel(float logicalDpi) { return 1440.0f / logicalDpi; }

float pixelsToTwips(float pixels, float tpp) { return pixels * tpp; }

float twipsToPixels(float twips, float tpp) { return twips / tpp; }

std::int32_t twipsToWholePixels(float twips, float tpp) {
  return roundHalfEven(static_cast<double>(twips) / tpp);
}

PixelRect twipsRectToPixels(double left, double top, double width, double height, double tppX,
                            double tppY) {
  // Far beyond any screen and far inside int32, so that right - left cannot overflow.
  static constexpr std::int32_t kLimit = 1 << 24;
  auto edge = [](double twips, double tpp) {
    return std::clamp(roundHalfEven(twips / tpp), -kLimit, kLimit);
  };
  PixelRect p;
  p.left = edge(left, tppX);
  p.top = edge(top, tppY);
  p.width = std::max(0, edge(left + width, tppX) - p.left);
  p.height = std::max(0, edge(top + height, tppY) - p.top);
  return p;
}

}  // namespace korva
