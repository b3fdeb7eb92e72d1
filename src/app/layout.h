// Pane geometry of the main window as a pure function: no widgets, no state.
//
// Everything is in twips (1/1440 inch). The window feeds in its client size and the few values
// only its controls know (request text height, auto-sized label), and applies the returned
// rectangles to its controls after converting them to pixels with the helpers below.
#pragma once

#include <cstdint>
#include <functional>

#include "view/twips.h"

namespace korva {

// Band between the request list and the request text; it is the splitter.
inline constexpr float kSplitterGap = 40.0f;
inline constexpr float kFrameHeightFactor = 2.0f;
// Kept in double: the product is formed in double and only then stored as single, which keeps
// 3000 * 1.3 at exactly 3900.
inline constexpr double kFrameWidthFactor = 1.3;

struct RectF {
  float left = 0.0f;
  float top = 0.0f;
  float width = 0.0f;
  float height = 0.0f;
};

// The source pane's geometry as the clsTextBox adapter takes and returns it.
struct RectI {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

struct LineF {
  float x1 = 0.0f;
  float y1 = 0.0f;
  float x2 = 0.0f;
  float y2 = 0.0f;
};

struct LayoutInput {
  float clientWidth = 0.0f;
  float clientHeight = 0.0f;
  float ListHeightRatio = 0.2f;
  bool minimised = false;
  // txtRequest keeps the height it was created with; the layout never changes it.
  float requestHeight = 0.0f;
  // lblProgress after auto-sizing to its current caption.
  float labelWidth = 0.0f;
  float labelHeight = 0.0f;
  // BorderWidth of Line2 and Line3, in pixels. The window's lines are one pixel wide and it
  // never changes them; the inputs keep the insets computable for other widths.
  std::int16_t line2BorderWidth = 1;
  std::int16_t line3BorderWidth = 1;
  float twipsPerPixelX = 15.0f;
  float twipsPerPixelY = 15.0f;
};

// Given the list height the layout asks for, returns the height the list box actually took
// (for example after snapping to whole rows or whole pixels). An empty function means the list
// takes exactly what it is asked for.
using ListHeightReadBack = std::function<float(float requested)>;

struct LayoutResult {
  // True when the window is minimised: nothing is to be moved and all rectangles are zero.
  bool unchanged = false;
  RectF lstRequest;
  RectF txtRequest;
  RectI sourcePane;  // through clsTextBox
  RectF brwBrowser;  // always the source pane's rectangle
  RectF frmProgress;
  // Label and lines are relative to frmProgress's top-left corner.
  RectF lblProgress;
  LineF line1;  // top edge
  LineF line2;  // bottom edge, moved inwards by its border width
  LineF line3;  // right edge, moved inwards by its border width
  LineF line4;  // left edge
};

// Lays out every pane for the given window state. `readBack` is called exactly once, with the
// list height requested, before anything below the list is placed.
//
// Every computed extent is clamped at 0: in a window lower than list, splitter and request text
// the response pane would otherwise get a negative height, which no control accepts. The inset
// bottom and right lines stay inside a frame smaller than their border. Other positions are not
// clamped, so a frame wider than the window still stays centred.
LayoutResult ArrangeControls(const LayoutInput& in, const ListHeightReadBack& readBack = {});

// Pixel rectangles by twipsRectToPixels (the request text sits directly on the response pane).
PixelRect toPixels(const RectF& twips, float twipsPerPixelX, float twipsPerPixelY);
PixelRect toPixels(const RectI& twips, float twipsPerPixelX, float twipsPerPixelY);

}  // namespace korva
