// The one UTF-8 encoder and decoder: every layer that writes UTF-8 from code points or UTF-16,
// or checks that bytes are UTF-8, uses them.
#pragma once

#include <string>

namespace korva {

// Appends the UTF-8 bytes of `codePoint`. A surrogate or a value above U+10FFFF, which UTF-8
// cannot carry, becomes U+FFFD. Inline: conversions call it for every character.
inline void appendUtf8(std::string& out, char32_t codePoint) {
  char32_t c = codePoint;
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Returned by decodeUtf8 for bytes that are no UTF-8 sequence.
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// Decodes the sequence that starts at `p` (before `end`) and moves `p` past it. Overlong forms,
// surrogates, values above U+10FFFF and cut sequences give kNotUtf8, with `p` left as it was.
inline char32_t decodeUtf8(const unsigned char*& p, const unsigned char* end) {
  const unsigned char c = *p;
  if (c < 0x80) {
    ++p;
    return c;
  }
  int extra;
  char32_t cp, min;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    return kNotUtf8;
  }
  if (end - p <= extra) return kNotUtf8;
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return kNotUtf8;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kNotUtf8;
  p += extra + 1;
  return cp;
}

}  // namespace korva
