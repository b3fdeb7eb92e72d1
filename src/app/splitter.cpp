#include "app/splitter.h"

#include <cmath>

namespace korva {

std::int16_t HitTestSplitter(float listTop, float listHeight, float requestTop, float y) {
  const float bottom = listTop + listHeight;
  return (y > bottom && y < requestTop) ? kListRequestSplitter : kNoSplitter;
}

void SplitterDrag::press(float y, const SplitterBand& band) {
  ActiveSplitter_ = HitTestSplitter(band.listTop, band.listHeight, band.requestTop, y);
}

float dragRatio(float y, float clientHeight) {
  if (y < kSplitterMargin) {
    y = kSplitterMargin;
  } else if (static_cast<float>(clientHeight - y) < kSplitterMargin) {
    y = clientHeight - kSplitterMargin;
  }
  const float ratio = y / clientHeight;
  if (ratio < 0.0f) return 0.0f;
  if (ratio > 1.0f) return 1.0f;
  return ratio;
}

SplitterAction SplitterDrag::move(float y, float clientHeight, const SplitterBand& band) const {
  SplitterAction action;
  if (ActiveSplitter_ == kNoSplitter) {
    const bool inBand =
        HitTestSplitter(band.listTop, band.listHeight, band.requestTop, y) == kListRequestSplitter;
    action.kind = SplitterAction::Kind::SetPointer;
    action.pointer = inBand ? kPointerSizeNS : kPointerDefault;
    return action;
  }
  // A zero or missing client area has no share to give; dividing by it would store inf or NaN.
  if (!(clientHeight > 0.0f) || std::isnan(y)) return action;
  action.kind = SplitterAction::Kind::Relayout;
  action.ListHeightRatio = dragRatio(y, clientHeight);
  return action;
}

}  // namespace korva
