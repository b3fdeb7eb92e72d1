// The two HTML filters on large bodies, and the linear filters beside the literal quadratic loop.
//
//   filters_bench                        all of it (the slow loop takes a few seconds)
//   filters_bench --benchmark_filter=10MB
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "../tests/view/filter_reference.h"
#include "view/html_filters.h"

namespace {

using Filter = std::string (*)(const std::string&);

// HTML of about `size` bytes with `pieces` script elements and as many comments spread evenly,
// the rest ordinary markup with '<' and '-' in it so the searches have candidates to reject.
std::string makeHtml(std::size_t size, int pieces) {
  const std::string filler =
      "<div class=\"row\"><a href=\"/x-y-z\">Eintrag</a> - <span>Text mit Umlauten "
      "und Bindestrichen -- wie im Log</span></div>\r\n";
  std::string html;
  html.reserve(size + 4096);
  const std::size_t perPiece = size / static_cast<std::size_t>(pieces);
  for (int n = 0; n < pieces; ++n) {
    const std::size_t target = html.size() + perPiece;
    html += "<script type=\"text/javascript\">var n = " + std::to_string(n) +
            "; if (a < b) { f(n); }</script>\r\n";
    html += "<!-- Kommentar " + std::to_string(n) + " -->\r\n";
    while (html.size() + filler.size() <= target) html += filler;
    if (html.size() < target) html.append(filler, 0, target - html.size());
  }
  return html;
}

const std::string& html10MB() {
  static const std::string html = makeHtml(10u << 20, 20000);
  return html;
}

void runFast(benchmark::State& state, Filter filter) {
  const std::string& html = html10MB();
  std::size_t outSize = 0;
  for (auto _ : state) {
    std::string out = filter(html);
    outSize = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * html.size()));
  state.counters["in_MB"] = static_cast<double>(html.size()) / (1 << 20);
  state.counters["removed_MB"] = static_cast<double>(html.size() - outSize) / (1 << 20);
}

void BM_StripJavaScript_10MB(benchmark::State& state) { runFast(state, korva::StripJavaScript); }
void BM_StripComments_10MB(benchmark::State& state) { runFast(state, korva::StripComments); }
BENCHMARK(BM_StripJavaScript_10MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StripComments_10MB)->Unit(benchmark::kMillisecond);

// One run of the literal loop against the linear filter on the same 1 MB (2,000 pieces of
// each kind), timed side by side; the results must be equal.
void BM_LoopVersusLinear_1MB(benchmark::State& state, Filter fast, Filter slow) {
  using Clock = std::chrono::steady_clock;
  const std::string html = makeHtml(1u << 20, 2000);
  constexpr int kFastRuns = 20;  // the linear filter is too quick to time once
  double slowSeconds = 0, fastSeconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    std::string expected = slow(html);
    auto t1 = Clock::now();
    std::string got;
    for (int r = 0; r < kFastRuns; ++r) got = fast(html);
    auto t2 = Clock::now();
    if (got != expected) state.SkipWithError("the filters disagree");
    slowSeconds += std::chrono::duration<double>(t1 - t0).count();
    fastSeconds += std::chrono::duration<double>(t2 - t1).count() / kFastRuns;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["loop_ms"] = slowSeconds / n * 1e3;
  state.counters["linear_ms"] = fastSeconds / n * 1e3;
  state.counters["loop_per_linear"] = slowSeconds / fastSeconds;
}
BENCHMARK_CAPTURE(BM_LoopVersusLinear_1MB, javascript, korva::StripJavaScript,
                  korva::reference::stripJavaScript)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopVersusLinear_1MB, comments, korva::StripComments,
                  korva::reference::stripComments)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
