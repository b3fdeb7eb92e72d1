#include "capture/body_text.h"

#include <array>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "capture/text_match.h"
#include "index/codec.h"
#include "view/text_decode.h"

namespace korva {
namespace {

// How far detectBodyEncoding looks for a declaration (its <meta> tags are read no further).
constexpr std::size_t kDeclarationReach = 2048;

struct ByteFlags {
  bool high = false;  // a byte >= 0x80
  bool nul = false;   // shown as U+2400
};

// One pass, 16 bytes at a time.
ByteFlags flagsOf(std::string_view bytes) {
  std::size_t k = 0;
  unsigned high = 0, nul = 0;
#ifdef __SSE2__
  __m128i anyHigh = _mm_setzero_si128(), anyNul = anyHigh;
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= bytes.size(); k += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + k));
    anyHigh = _mm_or_si128(anyHigh, v);
    anyNul = _mm_or_si128(anyNul, _mm_cmpeq_epi8(v, zero));
  }
  high = static_cast<unsigned>(_mm_movemask_epi8(anyHigh));
  nul = static_cast<unsigned>(_mm_movemask_epi8(anyNul));
#endif
  for (; k < bytes.size(); ++k) {
    const auto c = static_cast<unsigned char>(bytes[k]);
    high |= c & 0x80;
    nul |= static_cast<unsigned>(c == 0);
  }
  return {high != 0, nul != 0};
}

}  // namespace

BodyUtf8 bodyUtf8(std::string_view body) {
  BodyUtf8 result;
  result.text = body;
  const ByteFlags flags = flagsOf(body);
  if (flags.nul) return result;
  // ASCII is the same text in every encoding but UTF-16, which has a byte-order mark >= 0x80.
  if (!flags.high) {
    result.kind = BodyUtf8::Kind::Same;
    return result;
  }
  // The declaration (byte-order mark or <meta>) is read from the first 2048 bytes only, so the
  // whole body need not be passed over twice.
  BodyEncoding declaredAs = BodyEncoding::Utf8;
  const bool declared = declaredBodyEncoding(body.substr(0, kDeclarationReach), declaredAs);
  if (declared && declaredAs == BodyEncoding::Windows1252) {
    result.kind = BodyUtf8::Kind::Windows1252;
    return result;
  }
  if (!declared || declaredAs == BodyEncoding::Utf8) {
    if (body.substr(0, 3) == "\xEF\xBB\xBF") result.text.remove_prefix(3);
    if (isValidUtf8(result.text)) {
      result.kind = BodyUtf8::Kind::Same;
      return result;
    }
    if (!declared) {
      result.kind = BodyUtf8::Kind::SingleByte;
      result.text = body;
      return result;
    }
  }
  result.kind = BodyUtf8::Kind::Decode;
  result.text = body;
  return result;
}

std::optional<std::string_view> asciiView(std::string_view body) {
  if (body.size() >= 2 &&
      ((body[0] == '\xFF' && body[1] == '\xFE') || (body[0] == '\xFE' && body[1] == '\xFF')))
    return std::nullopt;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  const ByteFlags flags = flagsOf(body);
  if (flags.nul) return std::nullopt;
  if (flags.high && (body.find("\xE2\x84\xAA") != std::string_view::npos ||
                     body.find("\xC5\xBF") != std::string_view::npos))
    return std::nullopt;
  return body;
}

void resolveSingleByte(BodyUtf8& sorted) {
  if (sorted.kind != BodyUtf8::Kind::SingleByte) return;
  // Windows-1252 unless the detector chose another set, whose text only decodeBody gives.
  if (guessSingleByteEncoding(sorted.text) == BodyEncoding::Windows1252) {
    sorted.kind = BodyUtf8::Kind::Windows1252;
    return;
  }
  sorted.kind = BodyUtf8::Kind::Decode;
}

void appendUtf8Of1252(std::string_view bytes, std::string& out) {
  // Made from the decoder itself, so both agree by construction.
  static const std::array<std::string, 256> table = [] {
    std::array<std::string, 256> t;
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      t[b] = utf8FromUtf16(decodeWindows1252(std::string_view(&c, 1)));
    }
    return t;
  }();
  out.reserve(out.size() + bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80)
      out.push_back(c);
    else
      out += table[b];
  }
}

}  // namespace korva
