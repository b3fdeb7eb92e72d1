#include "index/codec.h"

#include "index/utf8.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korva {
namespace {

// Windows-1252 bytes 0x80..0x9F; the unassigned ones keep their byte value.
constexpr char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

char16_t codePoint1252(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return k1252High[byte - 0x80];
  return byte;
}

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
#ifdef __SSE2__
    // ASCII is passed over 16 bytes at a time: German text is mostly ASCII.
    while (end - p >= 16) {
      const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
      if (high != 0) {
        p += __builtin_ctz(static_cast<unsigned>(high));
        break;
      }
      p += 16;
    }
#endif
    while (p < end && *p < 0x80) ++p;
    if (p == end) break;
    if (decodeUtf8(p, end) == kNotUtf8) return false;
  }
  return true;
}

std::string utf8From1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char ch : bytes) appendUtf8(out, codePoint1252(static_cast<unsigned char>(ch)));
  return out;
}

std::string utf8FromLine(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  return utf8From1252(bytes);
}

}  // namespace korva
