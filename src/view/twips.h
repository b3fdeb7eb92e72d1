// Twips (1/1440 inch), the unit the window lays its controls out in, and the conversions to
// the screen's pixels. No Qt: the layout and the view components share these.
#pragma once

#include <cstdint>

namespace korva {

// Nearest 32-bit integer, halves to the even neighbour, as the clsTextBox boundary expects.
// Saturates outside the int32 range; NaN gives 0.
std::int32_t roundHalfEven(double value);

// Twips per pixel for a logical resolution: 15 at 96 dpi.
float twipsPerPixel(float logicalDpi);
float pixelsToTwips(float pixels, float twipsPerPixel);
float twipsToPixels(float twips, float twipsPerPixel);
// Whole pixels, rounded half to even.
std::int32_t twipsToWholePixels(float twips, float twipsPerPixel);

struct PixelRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The one twips-to-pixels conversion of a rectangle, for the layout and both views: the edges
// are rounded half to even rather than the extents, so panes that touch or coincide in twips
// touch or coincide in pixels. Negative extents become 0.
PixelRect twipsRectToPixels(double left, double top, double width, double height,
                            double twipsPerPixelX, double twipsPerPixelY);

}  // namespace korva
