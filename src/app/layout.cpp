#include "app/layout.h"

#include <cmath>
#include <limits>

namespace korva {
namespace {

// Also maps NaN to 0, so a broken input cannot reach a control as a size.
float nonNegative(float v) { return v > 0.0f ? v : 0.0f; }

struct ListAndRequest {
  RectF list;
  RectF request;
};

ListAndRequest placeListAndRequest(const LayoutInput& in, float width,
                                   const ListHeightReadBack& readBack) {
  ListAndRequest r;
  r.list.width = width;
  const float requested = nonNegative(in.clientHeight * in.ListHeightRatio);
  r.list.height = nonNegative(readBack ? readBack(requested) : requested);
  // The request text hangs off the list's actual bottom, not the requested one.
  r.request.top = r.list.height + r.list.top + kSplitterGap;
  r.request.width = width;
  r.request.height = nonNegative(in.requestHeight);
  return r;
}

RectI placeSourcePane(const LayoutInput& in, float width, const RectF& request) {
  RectI s;
  s.left = 0;
  s.top = roundHalfEven(request.height + request.top);
  s.width = roundHalfEven(width);
  // Single minus integer is evaluated in double before it reaches the adapter.
  s.height = roundHalfEven(static_cast<double>(nonNegative(in.clientHeight)) - s.top);
  if (s.height < 0) s.height = 0;
  return s;
}

RectF copyToBrowser(const RectI& s) {
  return RectF{static_cast<float>(s.left), static_cast<float>(s.top), static_cast<float>(s.width),
               static_cast<float>(s.height)};
}

void placeProgress(const LayoutInput& in, float width, float height, LayoutResult& out) {
  RectF& frame = out.frmProgress;
  RectF& label = out.lblProgress;
  label.width = nonNegative(in.labelWidth);
  label.height = nonNegative(in.labelHeight);
  frame.height = label.height * kFrameHeightFactor;
  frame.width = static_cast<float>(label.width * kFrameWidthFactor);

  const float line2Inset = static_cast<float>(in.line2BorderWidth) * in.twipsPerPixelY;
  const float line3Inset = static_cast<float>(in.line3BorderWidth) * in.twipsPerPixelX;
  const float bottom = nonNegative(frame.height - line2Inset);
  const float right = nonNegative(frame.width - line3Inset);
  out.line1 = LineF{0.0f, 0.0f, frame.width, 0.0f};
  out.line2 = LineF{0.0f, bottom, frame.width, bottom};
  out.line3 = LineF{right, 0.0f, right, frame.height};
  out.line4 = LineF{0.0f, 0.0f, 0.0f, frame.height};

  label.left = (frame.width - label.width) / 2.0f;
  label.top = (frame.height - label.height) / 2.0f;
  frame.left = (width - frame.width) / 2.0f;
  frame.top = (height - frame.height) / 2.0f;
}

}  // namespace

LayoutResult ArrangeControls(const LayoutInput& in, const ListHeightReadBack& readBack) {
  LayoutResult out;
  if (in.minimised) {
    out.unchanged = true;
    return out;
  }
  const float width = nonNegative(in.clientWidth);
  const ListAndRequest top = placeListAndRequest(in, width, readBack);
  out.lstRequest = top.list;
  out.txtRequest = top.request;
  out.sourcePane = placeSourcePane(in, width, top.request);
  out.brwBrowser = copyToBrowser(out.sourcePane);
  placeProgress(in, width, nonNegative(in.clientHeight), out);
  return out;
}

PixelRect toPixels(const RectF& twips, float tppX, float tppY) {
  return twipsRectToPixels(twips.left, twips.top, twips.width, twips.height, tppX, tppY);
}

PixelRect toPixels(const RectI& twips, float tppX, float tppY) {
  return twipsRectToPixels(twips.left, twips.top, twips.width, twips.height, tppX, tppY);
}

}  // namespace korva
