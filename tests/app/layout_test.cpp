#include "app/layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace korva {
namespace {

LayoutInput window(float width, float height, float ratio = 0.2f) {
  LayoutInput in;
  in.clientWidth = width;
  in.clientHeight = height;
  in.ListHeightRatio = ratio;
  in.requestHeight = 615.0f;
  in.labelWidth = 3000.0f;
  in.labelHeight = 240.0f;
  return in;
}

void expectRect(const RectF& r, float left, float top, float width, float height) {
  EXPECT_EQ(r.left, left);
  EXPECT_EQ(r.top, top);
  EXPECT_EQ(r.width, width);
  EXPECT_EQ(r.height, height);
}

void expectLine(const LineF& l, float x1, float y1, float x2, float y2) {
  EXPECT_EQ(l.x1, x1);
  EXPECT_EQ(l.y1, y1);
  EXPECT_EQ(l.x2, x2);
  EXPECT_EQ(l.y2, y2);
}

TEST(ArrangeControlsTest, PanesFillTheClientAreaTopToBottom) {
  std::vector<float> asked;
  const LayoutResult r = ArrangeControls(window(15000, 10000), [&](float h) {
    asked.push_back(h);
    return h;
  });
  EXPECT_FALSE(r.unchanged);
  EXPECT_EQ(asked, std::vector<float>{2000.0f});
  expectRect(r.lstRequest, 0, 0, 15000, 2000);
  expectRect(r.txtRequest, 0, 2040, 15000, 615);
  EXPECT_EQ(r.sourcePane.left, 0);
  EXPECT_EQ(r.sourcePane.top, 2040 + 615);
  EXPECT_EQ(r.sourcePane.width, 15000);
  EXPECT_EQ(r.sourcePane.top + r.sourcePane.height, 10000);
  expectRect(r.brwBrowser, 0, 2655, 15000, 7345);
}

TEST(ArrangeControlsTest, RequestTextFollowsTheListsActualBottom) {
  const auto wholeRows = [](float h) { return std::floor(h / 195.0f) * 195.0f; };
  const LayoutResult r = ArrangeControls(window(15000, 10000), wholeRows);
  EXPECT_EQ(r.lstRequest.height, 1950.0f);
  EXPECT_EQ(r.txtRequest.top, 1990.0f);
  EXPECT_EQ(r.sourcePane.top, 1990 + 615);
  EXPECT_EQ(r.sourcePane.height, 10000 - (1990 + 615));
}

TEST(ArrangeControlsTest, SourcePaneRoundsHalfToEvenAndUsesTheRoundedTop) {
  LayoutInput in = window(15000.5f, 10000.5f);
  const auto list2000 = [](float) { return 2000.0f; };
  in.requestHeight = 615.5f;  // top 2655.5 -> 2656
  LayoutResult r = ArrangeControls(in, list2000);
  EXPECT_EQ(r.sourcePane.top, 2656);
  EXPECT_EQ(r.sourcePane.width, 15000);  // 15000.5 -> even neighbour
  EXPECT_EQ(r.sourcePane.height, 7344);  // 10000.5 - 2656 = 7344.5 -> 7344
  EXPECT_EQ(r.brwBrowser.top, 2656.0f);
  EXPECT_EQ(r.brwBrowser.height, 7344.0f);

  in.requestHeight = 614.5f;  // top 2654.5 -> 2654
  r = ArrangeControls(in, list2000);
  EXPECT_EQ(r.sourcePane.top, 2654);
  EXPECT_EQ(r.sourcePane.height, 7346);  // 7346.5 -> 7346
}

TEST(ArrangeControlsTest, ProgressFrameIsSizedFromTheLabelAndCentred) {
  LayoutResult r = ArrangeControls(window(15000, 10000));
  expectRect(r.frmProgress, 5550, 4760, 3900, 480);
  expectRect(r.lblProgress, 450, 120, 3000, 240);
  expectLine(r.line1, 0, 0, 3900, 0);
  expectLine(r.line2, 0, 465, 3900, 465);
  expectLine(r.line3, 3885, 0, 3885, 480);
  expectLine(r.line4, 0, 0, 0, 480);

  // Each inset uses its own line's border and its own axis.
  LayoutInput in = window(15000, 10000);
  in.line2BorderWidth = 2;
  in.line3BorderWidth = 3;
  in.twipsPerPixelX = 10.0f;
  in.twipsPerPixelY = 20.0f;
  r = ArrangeControls(in);
  EXPECT_EQ(r.line2.y1, 480 - 40);
  EXPECT_EQ(r.line3.x1, 3900 - 30);
}

TEST(ArrangeControlsTest, MinimisedWindowMovesNothing) {
  LayoutInput in = window(15000, 10000);
  in.minimised = true;
  bool asked = false;
  const LayoutResult r = ArrangeControls(in, [&](float h) {
    asked = true;
    return h;
  });
  EXPECT_TRUE(r.unchanged);
  EXPECT_FALSE(asked);
}

TEST(ArrangeControlsTest, ExtentsNeverGoNegativeInALowWindow) {
  LayoutResult r = ArrangeControls(window(15000, 500));
  EXPECT_EQ(r.lstRequest.height, 100.0f);
  EXPECT_EQ(r.txtRequest.top, 140.0f);
  EXPECT_EQ(r.sourcePane.top, 755);
  EXPECT_EQ(r.sourcePane.height, 0);  // would be -255
  EXPECT_EQ(r.brwBrowser.height, 0.0f);

  r = ArrangeControls(window(0, 0), [](float) { return -30.0f; });
  EXPECT_EQ(r.lstRequest.height, 0.0f);
  EXPECT_EQ(r.lstRequest.width, 0.0f);
  EXPECT_EQ(r.sourcePane.height, 0);

  LayoutInput tiny = window(100, 100);
  tiny.labelWidth = 5;
  tiny.labelHeight = 5;  // frame smaller than the lines' insets
  r = ArrangeControls(tiny);
  EXPECT_EQ(r.line2.y1, 0.0f);
  EXPECT_EQ(r.line3.x1, 0.0f);
}

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbourAndTheRangeSaturates) {
  struct Case {
    double in;
    std::int32_t out;
  };
  for (const Case& c :
       {Case{0.5, 0}, Case{1.5, 2}, Case{2.5, 2}, Case{-0.5, 0}, Case{-1.5, -2}, Case{-2.5, -2},
        Case{2.4999, 2}, Case{2.5001, 3}, Case{-2.5001, -3},
        Case{1e12, std::numeric_limits<std::int32_t>::max()},
        Case{-1e12, std::numeric_limits<std::int32_t>::min()}, Case{std::nan(""), 0}}) {
    EXPECT_EQ(roundHalfEven(c.in), c.out) << c.in;
  }
}

TEST(PixelConversionTest, TouchingPanesStillTouchInPixels) {
  EXPECT_EQ(twipsPerPixel(96), 15.0f);
  EXPECT_EQ(twipsPerPixel(144), 10.0f);
  EXPECT_EQ(pixelsToTwips(1024, 15), 15360.0f);
  EXPECT_EQ(twipsToPixels(15360, 15), 1024.0f);

  const float tpp = twipsPerPixel(168);  // 8.571..., no whole number of twips per pixel
  // Rounding each extent on its own would leave a one-pixel gap here.
  LayoutInput in = window(15000, 10000, 0.2115f);
  in.requestHeight = 601.0f;
  const LayoutResult r = ArrangeControls(in);
  const PixelRect list = toPixels(r.lstRequest, tpp, tpp);
  const PixelRect request = toPixels(r.txtRequest, tpp, tpp);
  const PixelRect source = toPixels(r.sourcePane, tpp, tpp);
  EXPECT_EQ(request.top + request.height, source.top);
  EXPECT_EQ(source.top + source.height, twipsToWholePixels(10000, tpp));
  EXPECT_EQ(list.width, twipsToWholePixels(15000, tpp));
}

}  // namespace
}  // namespace korva
