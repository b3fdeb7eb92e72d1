// The UTF-8 of the text a response body shows, taken from the body's bytes where that is cheap:
// the search over all responses runs a regular expression on it without decoding to UTF-16.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korva {

struct BodyUtf8 {
  enum class Kind {
    Same,         // `text` is the UTF-8 of the shown text as it is
    Windows1252,  // `text` is Windows-1252: one byte is one character; see appendUtf8Of1252
    // Undeclared and not UTF-8: one of the single-byte sets, one byte one character. Which set
    // only the detector tells (see resolveSingleByte), and it costs more than the rest of the
    // search; but an expression that reads alike on bytes has the same matches in all.
    SingleByte,
    Decode,  // only decodeBody gives the shown text (UTF-16, invalid UTF-8, NUL bytes, a detected
             // Cyrillic, Greek or Central European set)
  };
  Kind kind = Kind::Decode;
  std::string_view text;  // the body without its byte-order mark
};

// Sorts a body (its bytes as retrieveResponse gives them) by how its shown text is had.
BodyUtf8 bodyUtf8(std::string_view body);

// For an expression whose matches hold only ASCII characters (matchesOnlyAscii): the body's
// bytes, read one byte a character, have the same matches as its shown text in every encoding
// that keeps ASCII as it is, which is all but UTF-16. Not so with a NUL (shown as U+2400) or
// bytes that may be U+212A or U+017F (which RE2's case folding gives k and s). The view is the
// body without its UTF-8 byte-order mark, as the shown text begins.
std::optional<std::string_view> asciiView(std::string_view body);

// A SingleByte body as the detector decides it: Windows1252, or Decode.
void resolveSingleByte(BodyUtf8& sorted);

// Appends the UTF-8 of decodeWindows1252(bytes); `bytes` must hold no NUL.
void appendUtf8Of1252(std::string_view bytes, std::string& out);

}  // namespace korva
