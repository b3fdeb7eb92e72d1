// Pairs of HTML-like texts for the comparison benchmarks: the second is the first with a share of
// its lines changed, inserted or deleted, spread evenly as edits by hand or by a server would be.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korva::bench {

struct TextPair {
  std::string a, b;
  std::size_t lines = 0;    // lines of a
  std::size_t touched = 0;  // lines changed, inserted or deleted
};

class PairRng {
 public:
  explicit PairRng(std::uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t s_;
};

// A line of markup: a third are the short repeated lines of real pages, the rest carry numbers
// and words, so that most lines are unique but not all.
inline std::string makeLine(PairRng& rng) {
  static const char* const kRepeated[] = {"</div>", "<tr>", "</tr>", "  <td></td>",
                                          "",       "<br>", "</li>", "    </span>"};
  static const char* const kWords[] = {"Eintrag", "Preis", "Suche", "Konto", "Antwort",
                                       "Liste",   "Datum", "Name",  "Menge", "Status"};
  if (rng.below(3) == 0) return kRepeated[rng.below(8)];
  std::string line = "<td class=\"c" + std::to_string(rng.below(40)) + "\">";
  const std::size_t words = 3 + rng.below(6);
  for (std::size_t w = 0; w < words; ++w) {
    line += kWords[rng.below(10)];
    line += ' ';
    line += std::to_string(rng.below(100000));
    line += ' ';
  }
  return line + "</td>";
}

// About `bytes` bytes of CR LF lines; `permille` of them touched: 70 % changed in place,
// 15 % new lines inserted before them, 15 % deleted.
inline TextPair makeTextPair(std::size_t bytes, unsigned permille, std::uint64_t seed) {
  PairRng rng(seed);
  TextPair pair;
  pair.a.reserve(bytes + 256);
  pair.b.reserve(bytes + bytes / 50 + 256);
  while (pair.a.size() < bytes) {
    const std::string line = makeLine(rng) + "\r\n";
    pair.a += line;
    ++pair.lines;
    if (rng.below(1000) >= permille) {
      pair.b += line;
      continue;
    }
    ++pair.touched;
    const std::size_t what = rng.below(100);
    if (what < 70)
      pair.b += makeLine(rng) + " geändert\r\n";
    else if (what < 85)
      pair.b += makeLine(rng) + " neu\r\n" + line;
  }
  return pair;
}

}  // namespace korva::bench
