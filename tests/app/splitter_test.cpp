#include "app/splitter.h"

#include <gtest/gtest.h>

#include "app/layout.h"

namespace korva {
namespace {

// The band after a layout of a 10000-twip client area at ratio 0.2.
constexpr SplitterBand kBand{0.0f, 2000.0f, 2040.0f};

TEST(HitTestSplitterTest, BandIsTheOpenIntervalBetweenListAndRequest) {
  EXPECT_EQ(HitTestSplitter(0, 2000, 2040, 2000.0f), kNoSplitter);
  EXPECT_EQ(HitTestSplitter(0, 2000, 2040, 2040.0f), kNoSplitter);
  EXPECT_EQ(HitTestSplitter(0, 2000, 2040, 2000.5f), kListRequestSplitter);
  EXPECT_EQ(HitTestSplitter(0, 2000, 2040, 2039.0f), kListRequestSplitter);
  EXPECT_EQ(HitTestSplitter(0, 2000, 2040, 500.0f), kNoSplitter);
  EXPECT_EQ(HitTestSplitter(100, 1900, 2040, 1999.0f), kNoSplitter);  // bottom is Top + Height
}

TEST(SplitterDragTest, HoverSetsThePointerOnlyOverTheBand) {
  SplitterDrag drag;
  SplitterAction a = drag.move(2020, 10000, kBand);
  EXPECT_EQ(a.kind, SplitterAction::Kind::SetPointer);
  EXPECT_EQ(a.pointer, kPointerSizeNS);
  a = drag.move(1000, 10000, kBand);
  EXPECT_EQ(a.kind, SplitterAction::Kind::SetPointer);
  EXPECT_EQ(a.pointer, kPointerDefault);
}

TEST(SplitterDragTest, OnlyAPressInTheBandStartsADrag) {
  SplitterDrag drag;
  drag.press(2000, kBand);
  EXPECT_EQ(drag.ActiveSplitter(), kNoSplitter);
  EXPECT_EQ(drag.move(3000, 10000, kBand).kind, SplitterAction::Kind::SetPointer);

  drag.press(2020, kBand);
  EXPECT_EQ(drag.ActiveSplitter(), kListRequestSplitter);
  const SplitterAction a = drag.move(3000, 10000, kBand);
  EXPECT_EQ(a.kind, SplitterAction::Kind::Relayout);  // no pointer change while dragging
  EXPECT_EQ(a.ListHeightRatio, 0.3f);

  drag.press(5000, kBand);  // a later press elsewhere clears it again
  EXPECT_EQ(drag.ActiveSplitter(), kNoSplitter);
}

TEST(SplitterDragTest, ReleaseEndsTheDragAndTheNextMoveHovers) {
  SplitterDrag drag;
  drag.press(2020, kBand);
  drag.release();
  EXPECT_EQ(drag.ActiveSplitter(), kNoSplitter);
  const SplitterAction a = drag.move(2020, 10000, kBand);
  EXPECT_EQ(a.kind, SplitterAction::Kind::SetPointer);
  EXPECT_EQ(a.pointer, kPointerSizeNS);
}

float listHeightAfterDrag(float y, float dragHeight, float layoutHeight) {
  SplitterDrag drag;
  drag.press(2020, kBand);
  const SplitterAction a = drag.move(y, dragHeight, kBand);
  LayoutInput in;
  in.clientWidth = 15000;
  in.clientHeight = layoutHeight;
  in.ListHeightRatio = a.ListHeightRatio;
  return ArrangeControls(in).lstRequest.height;
}

TEST(SplitterDragTest, ListBottomStaysFiveHundredTwipsFromEitherEdge) {
  EXPECT_EQ(dragRatio(-300, 10000), 500.0f / 10000.0f);
  EXPECT_EQ(listHeightAfterDrag(-300, 10000, 10000), 500.0f);
  EXPECT_EQ(listHeightAfterDrag(12000, 10000, 10000), 9500.0f);
  EXPECT_EQ(listHeightAfterDrag(9600, 10000, 10000), 9500.0f);
  EXPECT_EQ(dragRatio(500, 10000), 0.05f);  // the limits themselves are reachable
  EXPECT_EQ(dragRatio(9500, 10000), 0.95f);
}

TEST(SplitterDragTest, RatioSurvivesAResize) {
  EXPECT_EQ(dragRatio(3000, 10000), 0.3f);
  EXPECT_EQ(listHeightAfterDrag(3000, 10000, 20000), 6000.0f);
}

TEST(SplitterDragTest, SmallWindowKeepsTheRatioWithinZeroAndOne) {
  for (float height : {1.0f, 300.0f, 499.0f, 500.0f, 800.0f, 999.0f}) {
    for (float y = -2000.0f; y <= 3000.0f; y += 50.0f) {
      const float ratio = dragRatio(y, height);
      ASSERT_GE(ratio, 0.0f) << height << " " << y;
      ASSERT_LE(ratio, 1.0f) << height << " " << y;
      ASSERT_GE(listHeightAfterDrag(y, height, height), 0.0f);
    }
  }
  EXPECT_EQ(dragRatio(100, 400), 1.0f);   // 500 / 400 without the bound
  EXPECT_EQ(dragRatio(1000, 400), 0.0f);  // -100 / 400 without the bound
  EXPECT_EQ(dragRatio(600, 800), 300.0f / 800.0f);

  SplitterDrag drag;
  drag.press(2020, kBand);
  EXPECT_EQ(drag.move(100, 0, kBand).kind, SplitterAction::Kind::None);
}

}  // namespace
}  // namespace korva
