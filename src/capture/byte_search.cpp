#include "capture/byte_search.h"

#include "index/constants.h"
#include "view/ascii.h"

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace korva {
namespace {

bool isAsciiLetter(char c) { return lowerAscii(c) >= 'a' && lowerAscii(c) <= 'z'; }

// How often a byte (either case of a letter) turns up in HTML and Western text, roughly: higher is
// more frequent. The scan anchors on the two rarest bytes of the term, as fast grep tools do.
int frequencyRank(char c) {
  static constexpr std::string_view kCommonToRare = " e<>\"=/tarniosldc-hpum.fgby:v0w12k_#;x3z5qj";
  const std::size_t at = kCommonToRare.find(lowerAscii(c));
  return at == std::string_view::npos ? 0 : static_cast<int>(kCommonToRare.size() - at);
}

#ifdef __SSE2__
inline __m128i load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Lanes equal to `lower`, or to its upper case when it is a letter: a letter's two cases differ
// only in bit 0x20, so OR-ing that bit in compares both at once.
struct FoldedByte {
  __m128i value;
  __m128i caseBit;
  explicit FoldedByte(char lower)
      : value(_mm_set1_epi8(lower)), caseBit(_mm_set1_epi8(isAsciiLetter(lower) ? 0x20 : 0)) {}
  __m128i equal(__m128i bytes) const { return _mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), value); }
};

// The same 32 bytes at a time; used where the processor has AVX2.
__attribute__((target("avx2"))) std::size_t scanAvx2(const AsciiNoCaseFinder& finder,
                                                     const char* data, std::size_t p,
                                                     std::size_t last, std::size_t a, std::size_t b,
                                                     std::size_t& resume) {
  const char ca = finder.folded()[a], cb = finder.folded()[b];
  const __m256i va = _mm256_set1_epi8(ca), vb = _mm256_set1_epi8(cb);
  const __m256i ba = _mm256_set1_epi8(isAsciiLetter(ca) ? 0x20 : 0);
  const __m256i bb = _mm256_set1_epi8(isAsciiLetter(cb) ? 0x20 : 0);
  for (; p + 32 <= last + 1; p += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p + a));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p + b));
    const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(x, ba), va),
                                         _mm256_cmpeq_epi8(_mm256_or_si256(y, bb), vb));
    for (auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hit)); mask != 0;
         mask &= mask - 1) {
      const std::size_t at = p + static_cast<std::size_t>(__builtin_ctz(mask));
      if (finder.matchesAt(data + at)) return at;
    }
  }
  resume = p;
  return kNoMatch;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

AsciiNoCaseFinder::AsciiNoCaseFinder(std::string_view term) : folded_(term) {
  for (char& c : folded_) c = lowerAscii(c);
  // The rarest byte, and the rarest one not next to it: neighbours go together too often ("qu")
  // to sift out more than one of them. For a one-byte term both anchors are that byte.
  auto rarer = [&](std::size_t k, std::size_t than) {
    return frequencyRank(folded_[k]) < frequencyRank(folded_[than]);
  };
  for (std::size_t k = 1; k < folded_.size(); ++k)
    if (rarer(k, rare_[0])) rare_[0] = k;
  bool chosen = false;
  for (std::size_t k = 0; k < folded_.size(); ++k) {
    const std::size_t distance = k > rare_[0] ? k - rare_[0] : rare_[0] - k;
    if (distance >= 2 && (!chosen || rarer(k, rare_[1]))) {
      rare_[1] = k;
      chosen = true;
    }
  }
  if (!chosen) rare_[1] = folded_.size() - 1;
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
  // Two rare bytes of the term together: a frequent letter would stop the wide scan at every
  // few bytes.
  const std::size_t a = rare_[0], b = rare_[1];
  if (kHaveAvx2) {
    const std::size_t found = scanAvx2(*this, data, p, last, a, b, p);
    if (found != kNoMatch) return found;
  }
  const FoldedByte first(folded_[a]), second(folded_[b]);
  auto candidates = [&](std::size_t q) {
    return static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(first.equal(load(data + q + a)), second.equal(load(data + q + b)))));
  };
  for (; p + 16 <= last + 1; p += 16) {
    for (unsigned mask = candidates(p); mask != 0; mask &= mask - 1) {
      const std::size_t at = p + static_cast<std::size_t>(__builtin_ctz(mask));
      if (matchesAt(data + at)) return at;
    }
  }
  // The last few offsets as one more 16 that overlaps those done: short texts such as request
  // rows would otherwise spend most of their time in the byte-by-byte loop below.
  if (p <= last && last + 1 >= 16) {
    const std::size_t q = last + 1 - 16;
    for (unsigned mask = candidates(q) & (~0u << (p - q)); mask != 0; mask &= mask - 1) {
      const std::size_t at = q + static_cast<std::size_t>(__builtin_ctz(mask));
      if (matchesAt(data + at)) return at;
    }
    return kNoMatch;
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

namespace {

// First offset at or after `aligned` (a multiple of 16) whose 16 bytes are all hyphens, stepping
// 16 at a time; kNoMatch when there is none.
std::size_t hyphenRunScalar(std::string_view bytes, std::size_t aligned) {
  constexpr std::size_t kStep = 16;
  for (; aligned + kStep <= bytes.size(); aligned += kStep) {
#ifdef __SSE2__
    const __m128i dashes = _mm_cmpeq_epi8(load(bytes.data() + aligned), _mm_set1_epi8('-'));
    if (_mm_movemask_epi8(dashes) == 0xFFFF) return aligned;
#else
    if (bytes.substr(aligned, kStep).find_first_not_of('-') == std::string_view::npos)
      return aligned;
#endif
  }
  return kNoMatch;
}

#ifdef __SSE2__
__attribute__((target("avx2"))) std::size_t hyphenRunAvx2(std::string_view bytes,
                                                          std::size_t aligned) {
  const __m256i dash = _mm256_set1_epi8('-');
  for (; aligned + 32 <= bytes.size(); aligned += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes.data() + aligned));
    const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, dash)));
    if ((mask & 0xFFFFu) == 0xFFFFu) return aligned;
    if ((mask >> 16) == 0xFFFFu) return aligned + 16;
  }
  return hyphenRunScalar(bytes, aligned);
}
#endif

std::size_t hyphenRun(std::string_view bytes, std::size_t aligned) {
#ifdef __SSE2__
  if (kHaveAvx2) return hyphenRunAvx2(bytes, aligned);
#endif
  return hyphenRunScalar(bytes, aligned);
}

}  // namespace

std::size_t findDividerLine(std::string_view bytes, std::size_t from, bool lineStartBefore) {
  // Any run of 47 hyphens holds a whole aligned 16-byte run: test one in 16 positions and look
  // closer only there.
  std::size_t p = from;
  while (p < bytes.size()) {
    const std::size_t hit = hyphenRun(bytes, (p + 15) / 16 * 16);
    if (hit == kNoMatch) return kNoMatch;
    const std::size_t divider = dividerAround(bytes, hit, from, lineStartBefore);
    if (divider != kNoMatch) return divider;
    // Past this run, wherever it ends.
    p = hit;
    while (p < bytes.size() && bytes[p] == '-') ++p;
  }
  return kNoMatch;
}

bool holdsLoneCr(std::string_view bytes) {
  std::size_t p = 0;
#ifdef __SSE2__
  // Lines are short: one test per 16 bytes instead of a search per line.
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; p + 17 <= bytes.size(); p += 16) {
    const __m128i isCr = _mm_cmpeq_epi8(load(bytes.data() + p), cr);
    const __m128i nextLf = _mm_cmpeq_epi8(load(bytes.data() + p + 1), lf);
    if (_mm_movemask_epi8(_mm_andnot_si128(nextLf, isCr)) != 0) return true;
  }
#endif
  for (; p + 1 < bytes.size(); ++p)
    if (bytes[p] == '\r' && bytes[p + 1] != '\n') return true;
  return false;
}

}  // namespace korva
