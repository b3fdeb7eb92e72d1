#include "capture/byte_search.h"

#include "index/constants.h"
#include "view/ascii.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korva {
namespace {

bool isAsciiLetter(char c) { return lowerAscii(c) >= 'a' && lowerAscii(c) <= 'z'; }

#ifdef __SSE2__
// Lanes equal to `lower`, or to its upper case when it is a letter: a letter's two cases differ
// only in bit 0x20, so OR-ing that bit in compares both at once.
struct FoldedByte {
  __m128i value;
  __m128i caseBit;
  explicit FoldedByte(char lower)
      : value(_mm_set1_epi8(lower)), caseBit(_mm_set1_epi8(isAsciiLetter(lower) ? 0x20 : 0)) {}
  __m128i equal(__m128i bytes) const { return _mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), value); }
};

inline __m128i load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

}  // namespace

AsciiNoCaseFinder::AsciiNoCaseFinder(std::string_view term) : folded_(term) {
  for (char& c : folded_) c = lowerAscii(c);
}

bool AsciiNoCaseFinder::matchesAt(const char* at) const {
  for (std::size_t k = 0; k < folded_.size(); ++k)
    if (lowerAscii(at[k]) != folded_[k]) return false;
  return true;
}

std::size_t AsciiNoCaseFinder::find(std::string_view bytes, std::size_t from) const {
  const std::size_t m = folded_.size();
  if (m == 0 || from > bytes.size() || bytes.size() - from < m) return kNoMatch;
  const std::size_t last = bytes.size() - m;  // last offset where the term still fits
  const char* data = bytes.data();
  std::size_t p = from;
#ifdef __SSE2__
  // The first and the last byte of the term together: a frequent first letter alone would stop
  // the wide scan at every few bytes.
  const FoldedByte first(folded_.front()), final(folded_.back());
  for (; p + 16 <= last + 1; p += 16) {
    const __m128i hit =
        _mm_and_si128(first.equal(load(data + p)), final.equal(load(data + p + m - 1)));
    for (int mask = _mm_movemask_epi8(hit); mask != 0; mask &= mask - 1) {
      const std::size_t at =
          p + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
      if (matchesAt(data + at)) return at;
    }
  }
#endif
  for (; p <= last; ++p)
    if (matchesAt(data + p)) return p;
  return kNoMatch;
}

namespace {

// True when a line starts at `at`: the byte before is a CR (a lone CR or the first half of
// CR LF does not matter here: the divider's own CR decides its end) or an LF after a CR.
bool lineStartsAt(std::string_view bytes, std::size_t at, bool lineStartBefore) {
  if (at == 0) return lineStartBefore;
  if (bytes[at - 1] == '\r') return true;
  return bytes[at - 1] == '\n' && at >= 2 && bytes[at - 2] == '\r';
}

// The 47-hyphen line around a hyphen run found at `inRun`, or kNoMatch.
std::size_t dividerAround(std::string_view bytes, std::size_t inRun, std::size_t from,
                          bool lineStartBefore) {
  std::size_t start = inRun;
  while (start > from && bytes[start - 1] == '-') --start;
  std::size_t end = inRun;
  while (end < bytes.size() && bytes[end] == '-') ++end;
  if (end - start != kDevider.size() || end >= bytes.size() || bytes[end] != '\r') return kNoMatch;
  // A run cut at `from` may have more hyphens before it: then it is no divider.
  if (start == from && start > 0 && bytes[start - 1] == '-') return kNoMatch;
  return lineStartsAt(bytes, start, lineStartBefore) ? start : kNoMatch;
}

}  // namespace

std::size_t findDividerLine(std::string_view bytes, std::size_t from, bool lineStartBefore) {
  // Any run of 47 hyphens holds a whole aligned 16-byte run: test one in 16 positions and look
  // closer only there.
  constexpr std::size_t kStep = 16;
  std::size_t p = from;
  while (p < bytes.size()) {
    std::size_t aligned = (p + kStep - 1) / kStep * kStep;
    std::size_t hit = kNoMatch;
    for (; aligned + kStep <= bytes.size(); aligned += kStep) {
#ifdef __SSE2__
      const __m128i dashes = _mm_cmpeq_epi8(load(bytes.data() + aligned), _mm_set1_epi8('-'));
      if (_mm_movemask_epi8(dashes) == 0xFFFF) {
#else
      if (bytes.substr(aligned, kStep).find_first_not_of('-') == std::string_view::npos) {
#endif
        hit = aligned;
        break;
      }
    }
    if (hit == kNoMatch) return kNoMatch;
    const std::size_t divider = dividerAround(bytes, hit, from, lineStartBefore);
    if (divider != kNoMatch) return divider;
    // Past this run, wherever it ends.
    p = hit;
    while (p < bytes.size() && bytes[p] == '-') ++p;
  }
  return kNoMatch;
}

}  // namespace korva
