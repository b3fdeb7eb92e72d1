// The splitter between the request list and the request text: hit test, pointer feedback and the
// drag that sets ListHeightRatio. No widgets; the window turns the returned actions into calls.
//
// All Y values are twips in the window's client coordinates. Moves that a child control forwards
// (lstRequest, txtRequest, txtSource_) arrive in the child's own coordinates: the window maps them
// into its client area before calling move(), so the hit test and the drag see one system.
#pragma once

#include <cstdint>

namespace korva {

// Splitter codes, as the hit test returns them and ActiveSplitter stores them.
inline constexpr std::int16_t kNoSplitter = 0;
inline constexpr std::int16_t kListRequestSplitter = 2;

// Pointer shapes the window sets, by the classic shape codes: 0 the default arrow, 7 the
// north-south sizing arrow (the window maps them onto Qt cursors).
inline constexpr std::int16_t kPointerDefault = 0;
inline constexpr std::int16_t kPointerSizeNS = 7;

// Closest the list's bottom edge may come to the top or the bottom of the client area.
inline constexpr float kSplitterMargin = 500.0f;

// kListRequestSplitter when y lies strictly between the list's bottom edge and the request
// text's top, otherwise kNoSplitter. X plays no part.
std::int16_t HitTestSplitter(float listTop, float listHeight, float requestTop, float y);

// Where the band is, read from the controls (or from the last layout) at the time of the event.
struct SplitterBand {
  float listTop = 0.0f;
  float listHeight = 0.0f;
  float requestTop = 0.0f;
};

struct SplitterAction {
  enum class Kind {
    None,        // nothing to do
    SetPointer,  // set the window's pointer shape to `pointer`
    Relayout,    // store ListHeightRatio, then run ArrangeControls
  };
  Kind kind = Kind::None;
  std::int16_t pointer = kPointerDefault;
  float ListHeightRatio = 0.0f;
};

// Holds ActiveSplitter between press and release. One per window; not thread-safe (the window
// calls it from its UI thread only).
class SplitterDrag {
 public:
  // Any button and any modifiers: a press in the band starts a drag, elsewhere it clears it.
  void press(float y, const SplitterBand& band);

  // Idle: pointer feedback for the band. Dragging: the clamped ratio to store and lay out with;
  // the pointer shape is left alone. kNone only when there is no client area to divide.
  SplitterAction move(float y, float clientHeight, const SplitterBand& band) const;

  // Any button. Ends a drag; no layout and no pointer change (the next move decides).
  void release() { ActiveSplitter_ = kNoSplitter; }

  std::int16_t ActiveSplitter() const { return ActiveSplitter_; }

 private:
  std::int16_t ActiveSplitter_ = kNoSplitter;
};

// The drag step's ratio for a pointer at y: the list's bottom edge follows the pointer but stays
// kSplitterMargin from both edges. For a client height under twice the margin the two limits
// cross; the result is then kept within 0..1 so the list never gets a negative height.
float dragRatio(float y, float clientHeight);

}  // namespace korva
