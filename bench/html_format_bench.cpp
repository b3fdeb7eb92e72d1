// The formatted view on a 30 MB page sent as one line, beside the tokenizer it runs on and a
// plain copy of the same text, run side by side. MB/s counts characters: the generated page is
// one byte per character before decoding.
//
//   html_format_bench
#include <benchmark/benchmark.h>

#include <string>

#include "../tests/view/html_pages.h"
#include "view/html_format.h"
#include "view/html_tokens.h"

namespace {

const std::u16string& page30MB() {
  static const std::u16string page = korva::testing::makeHtmlPage(1, 30u << 20, true);
  return page;
}

void setCounters(benchmark::State& state, std::size_t chars) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chars));
  state.counters["in_MB"] = static_cast<double>(chars) / (1 << 20);
}

void BM_FormatHtml_30MB(benchmark::State& state) {
  const std::u16string& page = page30MB();
  std::size_t insertions = 0;
  for (auto _ : state) {
    korva::FormattedHtml f = korva::formatHtml(page);
    insertions = f.map.insertions().size();
    benchmark::DoNotOptimize(f.text.data());
  }
  setCounters(state, page.size());
  state.counters["insertions"] = static_cast<double>(insertions);
}
BENCHMARK(BM_FormatHtml_30MB)->Unit(benchmark::kMillisecond);

void BM_TokenizeHtml_30MB(benchmark::State& state) {
  const std::u16string& page = page30MB();
  std::size_t tokens = 0;
  for (auto _ : state) {
    tokens = 0;
    korva::tokenizeHtml(page, korva::HtmlState{}, [&](const korva::HtmlToken&) { ++tokens; });
    benchmark::DoNotOptimize(tokens);
  }
  setCounters(state, page.size());
  state.counters["tokens"] = static_cast<double>(tokens);
}
BENCHMARK(BM_TokenizeHtml_30MB)->Unit(benchmark::kMillisecond);

// The floor: copying the text once, as the formatter's output must.
void BM_CopyText_30MB(benchmark::State& state) {
  const std::u16string& page = page30MB();
  for (auto _ : state) {
    std::u16string copy(page);
    benchmark::DoNotOptimize(copy.data());
  }
  setCounters(state, page.size());
}
BENCHMARK(BM_CopyText_30MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
