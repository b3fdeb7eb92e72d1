// The automatic encoding of an undeclared 20 MB body that is not UTF-8: decodeBody, which asks
// the character set detector, against the same decode without it (decodeLine: the UTF-8 attempt,
// then Windows-1252), timed side by side.
//
//   decode_bench
//   decode_bench --benchmark_filter=Cyrillic
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "view/text_decode.h"

namespace {

// About 20 MB of mark-up around `line`, the text of one paragraph in its single-byte set.
std::string makeBody(const std::string& line) {
  std::string body = "<html><head><title>Seite</title></head><body>\r\n";
  while (body.size() < (20u << 20))
    body += "<div class=\"row\"><a href=\"/artikel?id=42\">" + line + "</a></div>\r\n";
  return body + "</body></html>\r\n";
}

void runSideBySide(benchmark::State& state, const std::string& line, korva::BodyEncoding expected) {
  using Clock = std::chrono::steady_clock;
  const std::string body = makeBody(line);
  if (korva::detectBodyEncoding(body) != expected) state.SkipWithError("unexpected guess");
  double with = 0, without = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    std::u16string a = korva::decodeBody(body);
    auto t1 = Clock::now();
    std::u16string b = korva::decodeLine(body);
    auto t2 = Clock::now();
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
    with += std::chrono::duration<double>(t1 - t0).count();
    without += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["body_MB"] = static_cast<double>(body.size()) / (1 << 20);
  state.counters["detect_ms"] = with / n * 1e3;
  state.counters["plain_ms"] = without / n * 1e3;
  state.counters["ratio"] = with / without;
}

void BM_Western_20MB(benchmark::State& state) {
  runSideBySide(state,
                "Gr\xFC\xDF"
                "e aus M\xFCnchen, Stra\xDF"
                "e 5, \x80 12,50",
                korva::BodyEncoding::Windows1252);
}
void BM_Cyrillic_20MB(benchmark::State& state) {
  runSideBySide(state,
                "\xCC\xEE\xF1\xEA\xE2\xE0 - \xF1\xF2\xEE\xEB\xE8\xF6\xE0 \xD0\xEE\xF1\xF1\xE8\xE8",
                korva::BodyEncoding::Windows1251);
}
// Few high bytes, far apart: the detector's sample is looked for through the whole body.
void BM_SparseWestern_20MB(benchmark::State& state) {
  runSideBySide(state, std::string(8000, 'x') + " Caf\xE9", korva::BodyEncoding::Windows1252);
}
BENCHMARK(BM_Western_20MB)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Cyrillic_20MB)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SparseWestern_20MB)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
