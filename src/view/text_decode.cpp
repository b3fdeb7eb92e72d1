#include "view/text_decode.h"

#include <array>
#include <optional>

#include "index/codec.h"
#include "view/ascii.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korva {
namespace {

constexpr std::size_t kMetaScanLimit = 1024;   // a <meta> tag counts when it starts before this
constexpr std::size_t kMetaParseLimit = 2048;  // and its attributes are read no further than this

struct Declared {
  BodyEncoding encoding;
  std::size_t skip;  // bytes of the byte-order mark
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (lowerAscii(text[at + k]) != word[k]) return false;
  return true;
}

std::string lowerTrimmed(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

// Encoding labels as browsers read them in <meta>, for the two encodings the viewer knows.
std::optional<BodyEncoding> encodingOfLabel(const std::string& label) {
  static constexpr std::string_view kUtf8[] = {
      "utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "x-unicode20utf8"};
  static constexpr std::string_view k1252[] = {
      "iso-8859-1", "latin1",     "us-ascii",    "windows-1252",    "cp1252",  "ascii",
      "iso8859-1",  "iso88591",   "iso_8859-1",  "iso_8859-1:1987", "l1",      "cp819",
      "ibm819",     "iso-ir-100", "csisolatin1", "ansi_x3.4-1968",  "x-cp1252"};
  for (auto name : kUtf8)
    if (label == name) return BodyEncoding::Utf8;
  for (auto name : k1252)
    if (label == name) return BodyEncoding::Windows1252;
  return std::nullopt;
}

// Attributes of one tag that matter for the charset.
struct MetaAttributes {
  std::optional<std::string> charset;
  std::string httpEquiv;
  std::optional<std::string> content;
};

// Reads the attributes of the tag whose name ends just before `p`; leaves `p` behind its '>'.
MetaAttributes readAttributes(std::string_view text, std::size_t& p) {
  MetaAttributes attrs;
  for (;;) {
    while (p < text.size() && (isSpace(text[p]) || text[p] == '/')) ++p;
    if (p >= text.size()) return attrs;
    if (text[p] == '>') {
      ++p;
      return attrs;
    }
    std::size_t nameStart = p;
    while (p < text.size() && !isSpace(text[p]) && text[p] != '=' && text[p] != '>' &&
           text[p] != '/')
      ++p;
    std::string name = lowerTrimmed(text.substr(nameStart, p - nameStart));
    while (p < text.size() && isSpace(text[p])) ++p;
    std::string_view value;
    if (p < text.size() && text[p] == '=') {
      ++p;
      while (p < text.size() && isSpace(text[p])) ++p;
      if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
        char quote = text[p++];
        std::size_t end = text.find(quote, p);
        if (end == std::string_view::npos) end = text.size();
        value = text.substr(p, end - p);
        p = end < text.size() ? end + 1 : end;
      } else {
        std::size_t start = p;
        while (p < text.size() && !isSpace(text[p]) && text[p] != '>') ++p;
        value = text.substr(start, p - start);
      }
    }
    if (name == "charset" && !attrs.charset) attrs.charset = std::string(value);
    if (name == "http-equiv") attrs.httpEquiv = lowerTrimmed(value);
    if (name == "content" && !attrs.content) attrs.content = std::string(value);
  }
}

// The charset=... part of a Content-Type value such as "text/html; charset=utf-8".
std::string charsetOfContentType(std::string_view content) {
  for (std::size_t at = 0; at + 7 <= content.size(); ++at) {
    if (!startsWithNoCase(content, at, "charset")) continue;
    std::size_t p = at + 7;
    while (p < content.size() && isSpace(content[p])) ++p;
    if (p >= content.size() || content[p] != '=') continue;
    ++p;
    while (p < content.size() && isSpace(content[p])) ++p;
    if (p < content.size() && (content[p] == '"' || content[p] == '\'')) {
      char quote = content[p++];
      std::size_t end = content.find(quote, p);
      if (end == std::string_view::npos) return {};
      return std::string(content.substr(p, end - p));
    }
    std::size_t start = p;
    while (p < content.size() && !isSpace(content[p]) && content[p] != ';') ++p;
    return std::string(content.substr(start, p - start));
  }
  return {};
}

std::string charsetOfMeta(const MetaAttributes& attrs) {
  if (attrs.charset) {
    std::string_view value = *attrs.charset;
    if (!value.empty() && value.back() == '/') value.remove_suffix(1);  // <meta charset=utf-8/>
    return lowerTrimmed(value);
  }
  if (attrs.httpEquiv == "content-type" && attrs.content)
    return lowerTrimmed(charsetOfContentType(*attrs.content));
  return {};
}

std::optional<Declared> declaredEncoding(std::string_view bytes) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
    return Declared{BodyEncoding::Utf8, 3};
  if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE)
    return Declared{BodyEncoding::Utf16Le, 2};
  if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF)
    return Declared{BodyEncoding::Utf16Be, 2};
  std::string charset = declaredCharset(bytes);
  if (charset.empty()) return std::nullopt;
  return Declared{*encodingOfLabel(charset), 0};
}

// Windows-1252 to UTF-16, with the NUL placeholder folded into the table.
const std::array<char16_t, 256>& table1252() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = codePoint1252(static_cast<unsigned char>(b));
    t[0] = kNulPlaceholder;
    return t;
  }();
  return table;
}

// Writes bytes.size() units.
void write1252(std::string_view bytes, char16_t* dst) {
  const auto& table = table1252();
  for (unsigned char b : bytes) *dst++ = table[b];
}

inline char16_t visible(char16_t unit) { return unit == 0 ? kNulPlaceholder : unit; }

// Widens a run of ASCII bytes at the front of [src, end) into dst; returns how many it took.
// Stops before the first byte >= 0x80.
std::size_t widenAscii(const unsigned char* src, const unsigned char* end, char16_t* dst) {
  const unsigned char* p = src;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  const __m128i placeholder = _mm_set1_epi16(static_cast<short>(kNulPlaceholder));
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(v) != 0) break;
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    __m128i loNul = _mm_cmpeq_epi16(lo, zero);
    __m128i hiNul = _mm_cmpeq_epi16(hi, zero);
    lo = _mm_or_si128(lo, _mm_and_si128(loNul, placeholder));
    hi = _mm_or_si128(hi, _mm_and_si128(hiNul, placeholder));
    char16_t* out = dst + (p - src);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), hi);
    p += 16;
  }
#endif
  while (p < end && *p < 0x80) {
    dst[p - src] = visible(*p);
    ++p;
  }
  return static_cast<std::size_t>(p - src);
}

// Length of the valid UTF-8 sequence at p (2 to 4), or the length of its maximal invalid
// prefix as a negative number (-1 to -3). The lead byte is >= 0x80.
int sequenceAt(const unsigned char* p, const unsigned char* end, char32_t& cp) {
  unsigned char c = p[0];
  int extra;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2, cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;  // no overlongs
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3, cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    if (p + k >= end) return -k;
    unsigned char b = p[k];
    if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return -k;
    cp = (cp << 6) | (b & 0x3F);
  }
  return extra + 1;
}

// UTF-8 to UTF-16 into out. Strict: false at the first invalid sequence (out is then garbage);
// lenient: each maximal invalid subsequence becomes U+FFFD.
bool utf8Into(std::string_view bytes, std::u16string& out, bool strict) {
  out.resize(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  char16_t* dst = out.data();
  while (p < end) {
    std::size_t run = widenAscii(p, end, dst);
    p += run;
    dst += run;
    if (p == end) break;
    char32_t cp = 0;
    int len = sequenceAt(p, end, cp);
    if (len < 0) {
      if (strict) return false;
      *dst++ = kReplacementChar;
      p += -len;
    } else if (cp >= 0x10000) {  // 4 bytes give 2 units: still within the bytes' count
      cp -= 0x10000;
      *dst++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *dst++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      p += len;
    } else {
      *dst++ = static_cast<char16_t>(cp);
      p += len;
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return true;
}

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string declaredCharset(std::string_view bytes) {
  const std::string_view text = bytes.substr(0, kMetaParseLimit);
  std::size_t p = 0;
  while (p < kMetaScanLimit && p < text.size()) {
    p = text.find('<', p);
    if (p == std::string_view::npos || p >= kMetaScanLimit) break;
    if (text.compare(p, 4, "<!--") == 0) {  // a <meta> inside a comment declares nothing
      std::size_t end = text.find("-->", p + 4);
      if (end == std::string_view::npos) break;
      p = end + 3;
      continue;
    }
    if (startsWithNoCase(text, p, "<meta") && p + 5 < text.size() &&
        (isSpace(text[p + 5]) || text[p + 5] == '/')) {
      p += 5;
      std::string charset = charsetOfMeta(readAttributes(text, p));
      if (!charset.empty() && encodingOfLabel(charset)) return charset;
      continue;
    }
    ++p;
  }
  return {};
}

BodyEncoding detectBodyEncoding(std::string_view bytes, bool* declared) {
  std::optional<Declared> d = declaredEncoding(bytes);
  if (declared) *declared = d.has_value();
  if (d) return d->encoding;
  return isValidUtf8(bytes) ? BodyEncoding::Utf8 : guessSingleByteEncoding(bytes);
}

bool declaredBodyEncoding(std::string_view bytes, BodyEncoding& encoding) {
  const std::optional<Declared> d = declaredEncoding(bytes);
  if (d) encoding = d->encoding;
  return d.has_value();
}

std::u16string decodeUtf8Lenient(std::string_view bytes) {
  std::u16string out;
  utf8Into(bytes, out, false);
  return out;
}

std::u16string decodeWindows1252(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  write1252(bytes, out.data());
  return out;
}

std::u16string decodeUtf16(std::string_view bytes, bool bigEndian) {
  const std::size_t units = bytes.size() / 2;
  std::u16string out(units + (bytes.size() % 2), u'\0');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t k = 0; k < units; ++k) {
    unsigned a = p[2 * k], b = p[2 * k + 1];
    out[k] = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  for (std::size_t k = 0; k < units; ++k) {
    char16_t u = out[k];
    if (isHighSurrogate(u) && k + 1 < units && isLowSurrogate(out[k + 1])) {
      ++k;  // a proper pair stays
    } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
      out[k] = kReplacementChar;
    } else {
      out[k] = visible(u);
    }
  }
  if (bytes.size() % 2) out[units] = kReplacementChar;
  return out;
}

std::u16string decodeBody(std::string_view bytes) {
  if (std::optional<Declared> d = declaredEncoding(bytes)) {
    std::string_view text = bytes.substr(d->skip);
    switch (d->encoding) {
      case BodyEncoding::Utf8:
        return decodeUtf8Lenient(text);
      case BodyEncoding::Utf16Le:
        return decodeUtf16(text, false);
      case BodyEncoding::Utf16Be:
        return decodeUtf16(text, true);
      default:  // only Windows-1252 is declared among the single-byte sets
        return decodeWindows1252(text);
    }
  }
  std::u16string out;
  if (utf8Into(bytes, out, true)) return out;
  // The failed attempt left a buffer of the right size whose pages are already mapped.
  out.resize(bytes.size());
  const BodyEncoding guess = guessSingleByteEncoding(bytes);
  if (guess == BodyEncoding::Windows1252)
    write1252(bytes, out.data());
  else
    writeSingleByte(bytes, guess, out.data());
  return out;
}

void unifyLineEnds(std::u16string& text) {
  // Moved down in runs between CRs: a 30 MB text is not copied when it holds none.
  std::size_t to = 0, from = 0;
  for (std::size_t cr; (cr = text.find(u'\r', from)) != std::u16string::npos;) {
    std::char_traits<char16_t>::move(&text[to], &text[from], cr - from);
    to += cr - from;
    text[to++] = u'\n';
    from = cr + 1 < text.size() && text[cr + 1] == u'\n' ? cr + 2 : cr + 1;
  }
  if (from == 0) return;
  std::char_traits<char16_t>::move(&text[to], &text[from], text.size() - from);
  text.resize(to + text.size() - from);
}

std::u16string decodeLine(std::string_view bytes) {
  std::u16string out;
  if (utf8Into(bytes, out, true)) return out;
  // The failed attempt left a buffer of the right size whose pages are already mapped.
  out.resize(bytes.size());
  write1252(bytes, out.data());
  return out;
}

}  // namespace korva
