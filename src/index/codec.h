// The single-byte character set that turns log bytes into display text, and letter-case folding
// over it. Windows-1252 is used: it is a superset of the printable Latin-1 range, and the
// recorder ran on Windows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korva {

namespace detail {
constexpr std::array<unsigned char, 256> makeFold1252() {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<unsigned char>(c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) t[c] = static_cast<unsigned char>(c + 32);  // not the multiplication sign
  t[0x8A] = 0x9A;                                              // Š
  t[0x8C] = 0x9C;                                              // Œ
  t[0x8E] = 0x9E;                                              // Ž
  t[0x9F] = 0xFF;                                              // Ÿ
  return t;
}
inline constexpr std::array<unsigned char, 256> kFold1252 = makeFold1252();
}  // namespace detail

// Lower-case partner of a Windows-1252 byte (ASCII letters and the Latin letters of the set);
// every other byte maps to itself. Inline: key lookups fold every byte.
inline unsigned char foldCase1252(unsigned char byte) { return detail::kFold1252[byte]; }

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes);
// Unicode code point of a Windows-1252 byte (the five unassigned bytes map to themselves).
char16_t codePoint1252(unsigned char byte);
// Windows-1252 bytes to UTF-8.
std::string utf8From1252(std::string_view bytes);
// The bytes unchanged when they are valid UTF-8, else read as Windows-1252 and converted.
std::string utf8FromLine(std::string_view bytes);

}  // namespace korva
