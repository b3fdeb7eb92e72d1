// The pane layout, which runs synchronously on every pointer move of a splitter drag.
//
//   layout_bench
#include <benchmark/benchmark.h>

#include <cmath>

#include "app/layout.h"
#include "app/splitter.h"

namespace {

korva::LayoutInput typicalWindow() {
  korva::LayoutInput in;
  in.clientWidth = 15120.0f;
  in.clientHeight = 10350.0f;
  in.requestHeight = 615.0f;
  in.labelWidth = 3375.0f;
  in.labelHeight = 255.0f;
  return in;
}

// The ratio changes on every iteration, as it does while dragging, so nothing can be hoisted.
void BM_ArrangeControls(benchmark::State& state) {
  korva::LayoutInput in = typicalWindow();
  float y = 500.0f;
  for (auto _ : state) {
    in.ListHeightRatio = korva::dragRatio(y, in.clientHeight);
    benchmark::DoNotOptimize(korva::ArrangeControls(in));
    y = y > 9800.0f ? 500.0f : y + 7.0f;
  }
}
BENCHMARK(BM_ArrangeControls);

// With the read-back the window uses: the list snaps to whole pixels.
void BM_ArrangeControlsWithReadBack(benchmark::State& state) {
  korva::LayoutInput in = typicalWindow();
  const korva::ListHeightReadBack wholePixels = [](float requested) {
    return static_cast<float>(korva::twipsToWholePixels(requested, 15.0f)) * 15.0f;
  };
  float y = 500.0f;
  for (auto _ : state) {
    in.ListHeightRatio = korva::dragRatio(y, in.clientHeight);
    benchmark::DoNotOptimize(korva::ArrangeControls(in, wholePixels));
    y = y > 9800.0f ? 500.0f : y + 7.0f;
  }
}
BENCHMARK(BM_ArrangeControlsWithReadBack);

}  // namespace

BENCHMARK_MAIN();
