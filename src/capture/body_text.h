// The UTF-8 of the text a response body shows, taken from the body's bytes where that is cheap:
// the search over all responses runs a regular expression on it without decoding to UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace korva {

struct BodyUtf8 {
  enum class Kind {
    Same,         // `text` is the UTF-8 of the shown text as it is
    Windows1252,  // `text` is Windows-1252: one byte is one character; see appendUtf8Of1252
    // Undeclared and not UTF-8: one of the single-byte sets, one byte one character. Which set
    // only the detector tells (see resolveSingleByte), and it costs more than the rest of the
    // search; but every high byte is one character outside ASCII in each of them, so whether an
    // expression that RegexPrefilter reads alike can match is the same in all.
    SingleByte,
    Decode,  // only decodeBody gives the shown text (UTF-16, invalid UTF-8, NUL bytes, a detected
             // Cyrillic, Greek or Central European set)
  };
  Kind kind = Kind::Decode;
  std::string_view text;  // the body without its byte-order mark
  // Whether the text holds none of the characters RegexPrefilter::mayMatch must not see.
  bool prefilterSafe = false;
};

// Sorts a body (its bytes as retrieveResponse gives them) by how its shown text is had.
BodyUtf8 bodyUtf8(std::string_view body);

// A SingleByte body as the detector decides it: Windows1252, or Decode.
void resolveSingleByte(BodyUtf8& sorted);

// Appends the UTF-8 of decodeWindows1252(bytes); `bytes` must hold no NUL.
void appendUtf8Of1252(std::string_view bytes, std::string& out);

}  // namespace korva
