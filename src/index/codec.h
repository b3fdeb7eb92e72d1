// The single-byte character set that turns log bytes into display text, and letter-case folding
// over it. Windows-1252 is used: it is a superset of the printable Latin-1 range, and the
// recorder ran on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korva {

// Lower-case partner of a Windows-1252 byte (ASCII letters and the Latin letters of the set);
// every other byte maps to itself.
unsigned char foldCase1252(unsigned char byte);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes);
// Unicode code point of a Windows-1252 byte (the five unassigned bytes map to themselves).
char16_t codePoint1252(unsigned char byte);
// Windows-1252 bytes to UTF-8.
std::string utf8From1252(std::string_view bytes);
// The bytes unchanged when they are valid UTF-8, else read as Windows-1252 and converted.
std::string utf8FromLine(std::string_view bytes);

}  // namespace korva
