// Comparing two responses: dtl as the comparison uses it (line numbers, cut at unique lines) and
// dtl alone over all lines, beside GNU diff(1) on the same pair of files. libgit2's
// git_diff_buffers (Myers, minimal, patience) measured 6.9/13.7/181 ms against dtl's 2.9/6.5/148 ms
// and was dropped: it cannot be interrupted.
//
//   diff_bench                              1, 2 and 20 MB, about 1 % of the lines touched
//   diff_bench --benchmark_filter=2MB
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dtl/dtl.hpp>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diff_pairs.h"
#include "view/text_decode.h"
#include "view/text_diff.h"

namespace {

using korva::bench::TextPair;

const TextPair& pairOf(int mb) {
  static std::map<int, TextPair> pairs;
  auto it = pairs.find(mb);
  if (it == pairs.end())
    it = pairs.emplace(mb, korva::bench::makeTextPair(std::size_t(mb) << 20, 10, 7)).first;
  return it->second;
}

void setCounters(benchmark::State& state, const TextPair& pair, std::size_t edits) {
  state.counters["lines"] = static_cast<double>(pair.lines);
  state.counters["touched"] = static_cast<double>(pair.touched);
  state.counters["edit_lines"] = static_cast<double>(edits);
}

// Lines as numbers, equal lines the same number: what either library compares.
void lineIds(std::string_view text, std::unordered_map<std::string_view, std::uint32_t>& ids,
             std::vector<std::uint32_t>& out) {
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    out.push_back(
        ids.emplace(text.substr(pos, end - pos), std::uint32_t(ids.size())).first->second);
    pos = end;
  }
}

void BM_Dtl(benchmark::State& state) {
  const TextPair& pair = pairOf(static_cast<int>(state.range(0)));
  std::size_t edits = 0;
  for (auto _ : state) {
    std::unordered_map<std::string_view, std::uint32_t> ids;
    std::vector<std::uint32_t> a, b;
    lineIds(pair.a, ids, a);
    lineIds(pair.b, ids, b);
    dtl::Diff<std::uint32_t> diff(a, b);
    diff.onHuge();
    diff.compose();
    edits = 0;
    for (const auto& e : diff.getSes().getSequence())
      if (e.second.type != dtl::SES_COMMON) ++edits;
  }
  setCounters(state, pair, edits);
}

// The comparison as the window runs it: decoded texts, characters of the changed pairs included.
void BM_CompareTexts(benchmark::State& state) {
  const TextPair& pair = pairOf(static_cast<int>(state.range(0)));
  const std::u16string a = korva::decodeBody(pair.a), b = korva::decodeBody(pair.b);
  std::size_t edits = 0;
  for (auto _ : state) {
    const korva::TextDiff diff = korva::compareTexts(a, b);
    edits = diff.removed + diff.added;
    if (diff.outcome != korva::DiffOutcome::Complete) state.SkipWithError("not complete");
  }
  setCounters(state, pair, edits);
}

// The baseline: GNU diff(1) as a whole process over the same texts in files, its output counted.
void BM_DiffTool(benchmark::State& state) {
  const TextPair& pair = pairOf(static_cast<int>(state.range(0)));
  char dir[] = "/tmp/korva-diff-bench-XXXXXX";
  if (!mkdtemp(dir)) return state.SkipWithError("mkdtemp failed");
  const std::string a = std::string(dir) + "/a", b = std::string(dir) + "/b";
  for (const auto& [path, text] : {std::pair{a, &pair.a}, std::pair{b, &pair.b}}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text->data(), 1, text->size(), f);
    std::fclose(f);
  }
  const std::string command = "diff -- " + a + " " + b;
  std::size_t edits = 0;
  char line[4096];
  for (auto _ : state) {
    edits = 0;
    FILE* out = popen(command.c_str(), "r");
    bool atStart = true;
    while (std::fgets(line, sizeof line, out)) {
      if (atStart && (line[0] == '<' || line[0] == '>')) ++edits;
      atStart = std::strchr(line, '\n') != nullptr;
    }
    if (pclose(out) == -1) state.SkipWithError("diff failed");
  }
  setCounters(state, pair, edits);
  std::remove(a.c_str());
  std::remove(b.c_str());
  rmdir(dir);
}

#define SIZES Arg(1)->Arg(2)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_DiffTool)->SIZES;
BENCHMARK(BM_Dtl)->SIZES;
BENCHMARK(BM_CompareTexts)->SIZES;

}  // namespace

BENCHMARK_MAIN();
