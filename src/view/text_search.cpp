#include "view/text_search.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korva {
namespace {

// Pairs laid out as upper, lower, upper, lower ... over [first, last]: the upper one is at the
// even (or odd) offset given by upperParity.
constexpr char16_t pairedLower(char16_t c, char16_t first, char16_t last, int upperParity) {
  if (c < first || c > last) return 0;
  if ((c & 1) != upperParity) return c;
  return static_cast<char16_t>(c + 1);
}

// Lower-case partner by rule; 0 when the rules have none.
constexpr char16_t ruleFold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  if (c < 0xC0) return 0;
  if (c <= 0xDE) return c == 0xD7 ? 0 : static_cast<char16_t>(c + 0x20);  // À..Þ without ×
  if (c >= 0x0100 && c <= 0x017F) {                                       // Latin Extended-A
    if (c == 0x0130) return u'i';    // İ: its lower case is the plain i
    if (c == 0x0178) return 0x00FF;  // Ÿ
    if (char16_t l = pairedLower(c, 0x0100, 0x012F, 0)) return l;
    if (char16_t l = pairedLower(c, 0x0132, 0x0137, 0)) return l;
    if (char16_t l = pairedLower(c, 0x0139, 0x0148, 1)) return l;
    if (char16_t l = pairedLower(c, 0x014A, 0x0177, 0)) return l;
    if (char16_t l = pairedLower(c, 0x0179, 0x017E, 1)) return l;
    return 0;
  }
  if (c >= 0x0370 && c <= 0x03FF) {  // Greek
    if (c == 0x0386) return 0x03AC;
    if (c >= 0x0388 && c <= 0x038A) return static_cast<char16_t>(c + 0x25);
    if (c == 0x038C) return 0x03CC;
    if (c == 0x038E || c == 0x038F) return static_cast<char16_t>(c + 0x3F);
    if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) return static_cast<char16_t>(c + 0x20);
    if (c == 0x03C2) return 0x03C3;  // final sigma matches sigma
    if (char16_t l = pairedLower(c, 0x03D8, 0x03EF, 0)) return l;
    return 0;
  }
  if (c >= 0x0400 && c <= 0x052F) {  // Cyrillic
    if (c <= 0x040F) return static_cast<char16_t>(c + 0x50);
    if (c <= 0x042F) return static_cast<char16_t>(c + 0x20);
    if (char16_t l = pairedLower(c, 0x0460, 0x0481, 0)) return l;
    if (char16_t l = pairedLower(c, 0x048A, 0x04BF, 0)) return l;
    if (c == 0x04C0) return 0x04CF;
    if (char16_t l = pairedLower(c, 0x04C1, 0x04CE, 1)) return l;
    if (char16_t l = pairedLower(c, 0x04D0, 0x052F, 0)) return l;
    return 0;
  }
  return 0;
}

// Folding covers only U+0000..U+052F; everything above maps to itself.
constexpr char16_t kFoldEnd = 0x0530;

struct FoldTable {
  std::array<char16_t, kFoldEnd> lower{};
  constexpr FoldTable() {
    for (unsigned c = 0; c < kFoldEnd; ++c) {
      char16_t l = ruleFold(static_cast<char16_t>(c));
      lower[c] = l ? l : static_cast<char16_t>(c);
    }
  }
};
constexpr FoldTable kFold;

inline char16_t fold(char16_t c) { return c < kFoldEnd ? kFold.lower[c] : c; }

// Every code unit that folds to `target`, `target` itself among them.
std::vector<char16_t> unitsFoldingTo(char16_t target) {
  std::vector<char16_t> units;
  if (target >= kFoldEnd) return {target};
  for (unsigned c = 0; c < kFoldEnd; ++c)
    if (kFold.lower[c] == target) units.push_back(static_cast<char16_t>(c));
  return units;
}

// Up to three code units that one position may hold; unused slots repeat one of them.
struct UnitSet {
  char16_t u[3];
  explicit UnitSet(const char16_t (&three)[3]) : u{three[0], three[1], three[2]} {}
  bool has(char16_t c) const { return c == u[0] || c == u[1] || c == u[2]; }
};

#ifdef __SSE2__
// 16-bit lanes of `t` that hold a unit of `set`.
inline __m128i lanesIn(__m128i t, const __m128i (&set)[3]) {
  return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(t, set[0]), _mm_cmpeq_epi16(t, set[1])),
                      _mm_cmpeq_epi16(t, set[2]));
}
#endif

// First offset p in [from, last] with text[p] in `first` and, when `second` is given,
// text[p + 1] in `second`; kNotFound if none. With `second`, last + 1 must be inside the text.
// Filtering on two units keeps a frequent first letter from stopping the wide scan all the time.
std::size_t scanFor(const char16_t* text, std::size_t from, std::size_t last, const UnitSet& first,
                    const UnitSet* second) {
  std::size_t p = from;
#ifdef __SSE2__
  auto splat = [](const UnitSet& s, __m128i(&v)[3]) {
    for (int k = 0; k < 3; ++k) v[k] = _mm_set1_epi16(static_cast<short>(s.u[k]));
  };
  __m128i v0[3], v1[3];
  splat(first, v0);
  splat(second ? *second : first, v1);
  while (p + 8 <= last + 1) {
    __m128i hit = lanesIn(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p)), v0);
    if (second)
      hit = _mm_and_si128(
          hit, lanesIn(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p + 1)), v1));
    int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
    p += 8;
  }
#endif
  for (; p <= last; ++p)
    if (first.has(text[p]) && (!second || second->has(text[p + 1]))) return p;
  return kNotFound;
}

}  // namespace

char16_t foldCase16(char16_t c) { return fold(c); }

NoCaseFinder16::NoCaseFinder16(std::u16string_view term) : folded_(term) {
  for (char16_t& c : folded_) c = fold(c);
  if (folded_.empty()) return;
  const std::vector<char16_t> firstUnits = unitsFoldingTo(folded_[0]);
  const std::vector<char16_t> secondUnits =
      folded_.size() > 1 ? unitsFoldingTo(folded_[1]) : firstUnits;
  wide_ = firstUnits.size() <= 3 && secondUnits.size() <= 3;
  for (int k = 0; k < 3; ++k) {
    first_[k] = firstUnits[std::min<std::size_t>(k, firstUnits.size() - 1)];
    second_[k] = secondUnits[std::min<std::size_t>(k, secondUnits.size() - 1)];
  }
}

std::size_t NoCaseFinder16::find(std::u16string_view text, std::size_t from) const {
  const std::size_t m = folded_.size();
  if (m == 0 || from > text.size() || text.size() - from < m) return kNotFound;
  const UnitSet first(first_), second(second_);
  const std::size_t last = text.size() - m;  // last offset where the term still fits
  const char16_t* data = text.data();
  for (std::size_t p = from; p <= last; ++p) {
    if (wide_) {
      p = scanFor(data, p, last, first, m > 1 ? &second : nullptr);
      if (p == kNotFound) return kNotFound;
    } else if (fold(data[p]) != folded_[0]) {
      continue;
    }
    std::size_t k = 1;
    while (k < m && fold(data[p + k]) == folded_[k]) ++k;
    if (k == m) return p;
  }
  return kNotFound;
}

std::vector<std::size_t> NoCaseFinder16::findAll(std::u16string_view text) const {
  std::vector<std::size_t> found;
  for (std::size_t p = find(text, 0); p != kNotFound; p = find(text, p + folded_.size()))
    found.push_back(p);
  return found;
}

std::size_t findNoCase(std::u16string_view text, std::u16string_view term, std::size_t from) {
  return NoCaseFinder16(term).find(text, from);
}

std::size_t findWithWrap(std::u16string_view text, std::u16string_view term, std::size_t start) {
  std::size_t p = findNoCase(text, term, start);
  return p != kNotFound ? p : findNoCase(text, term, 0);
}

}  // namespace korva
