// Which regular expressions RE2 can count on a body's bytes, one byte a character (Latin-1),
// instead of on the body's shown text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korva {

// Whether the expression (RE2 syntax, UTF-8) means the same read as Latin-1: ASCII only, and
// none of the escapes that name characters outside ASCII or bytes. Then, in a text where every
// byte from 0x80 up is one character outside ASCII that no ASCII letter folds to (every
// single-byte set: U+212A and U+017F, which RE2 gives k and s, are in none), its matches over the
// bytes are its matches over the text.
bool readsAlikeOnBytes(std::string_view pattern);

// Whether every character a match can hold is ASCII, in a text without U+212A and U+017F: an
// expression that reads alike on bytes, without '.', a negated class or \S, \W, \D. May say
// false for one that is. Then its matches over any encoding that keeps ASCII as it is are its
// matches over the bytes.
bool matchesOnlyAscii(std::string_view pattern);

// Literals, one for each alternative of the expression, of which every match begins with one
// (ASCII letters in either case; in a text without U+212A and U+017F). Empty when some
// alternative does not begin with a literal that this reads: a search may then skip to the
// first of them.
std::vector<std::string> leadingLiterals(std::string_view pattern);

}  // namespace korva
