// The text search over a large source text, and the decoding that makes that text.
//
//   search_bench
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "view/text_decode.h"
#include "view/text_search.h"

namespace {

// HTML-like UTF-8 of about `size` bytes: tags, German words with umlauts, line breaks.
std::string makeBody(std::size_t size, bool withUmlauts) {
  const char* words[] = {"<div>", "</div>", "Eintrag", "Anfrage", "Antwort", "<a href=\"/x\">",
                         "</a>",  "der",    "die",     "und",     "Seite",   "\r\n"};
  const char* umlautWords[] = {
      "Gr\xC3\xBC\xC3\x9F"
      "e",
      "\xC3\x84nderung",
      "gr\xC3\xB6\xC3\x9F"
      "er"};
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> pick(0, 11);
  std::uniform_int_distribution<int> rare(0, 19);
  std::string body;
  body.reserve(size + 64);
  while (body.size() < size) {
    if (withUmlauts && rare(rng) == 0)
      body += umlautWords[pick(rng) % 3];
    else
      body += words[pick(rng)];
    body += ' ';
  }
  body.resize(size);
  return body;
}

const std::u16string& text50M() {
  static const std::u16string text = korva::decodeBody(makeBody(50u << 20, true));
  return text;
}

// A full pass: the term is not in the text, so every unit is looked at.
void BM_FindNoCase_50M(benchmark::State& state, std::u16string term) {
  const std::u16string& text = text50M();
  for (auto _ : state) {
    std::size_t p = korva::findNoCase(text, term, 0);
    if (p != korva::kNotFound) state.SkipWithError("the term should not occur");
    benchmark::DoNotOptimize(p);
  }
  state.counters["text_Munits"] = static_cast<double>(text.size()) / 1e6;
}
// 'e' starts many words of the text: many candidates that fail on the second unit.
BENCHMARK_CAPTURE(BM_FindNoCase_50M, frequent_first_letter, std::u16string(u"Erlaubnis"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindNoCase_50M, rare_first_letter, std::u16string(u"Quittung"))
    ->Unit(benchmark::kMillisecond);

void BM_DecodeBody_20MB(benchmark::State& state, bool umlauts, bool broken) {
  std::string body = makeBody(20u << 20, umlauts);
  if (broken) body[body.size() - 100] = '\xE9';  // invalid UTF-8 near the end: read as 1252
  for (auto _ : state) {
    std::u16string text = korva::decodeBody(body);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK_CAPTURE(BM_DecodeBody_20MB, ascii, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeBody_20MB, utf8, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeBody_20MB, windows1252_late, true, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
