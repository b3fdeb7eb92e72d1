// Turns the bytes of a response body or a request-log line into display text.
//
// The logs carry no encoding of their own: a body is decoded by its byte-order mark, else by the
// charset its <meta> tag declares, else as UTF-8 when it is valid UTF-8, else by what the
// character set detector makes of it among the single-byte sets below, Windows-1252 by default.
// A zero byte must not end the text in the views, so U+0000 is shown as U+2400 (␀).
#pragma once

#include <string>
#include <string_view>

namespace korva {

inline constexpr char16_t kNulPlaceholder = u'\u2400';
inline constexpr char16_t kReplacementChar = u'\uFFFD';

enum class BodyEncoding {
  Utf8,
  Utf16Le,
  Utf16Be,
  Windows1252,
  // The single-byte sets the detector may choose for an undeclared body.
  Windows1250,
  Iso8859_2,
  Windows1251,
  Koi8R,
  Iso8859_5,
  Windows1253,
  Iso8859_7,
};

// The encoding decodeBody uses for these bytes, by the first rule that applies:
// 1. a byte-order mark (EF BB BF, FF FE, FE FF);
// 2. the first <meta charset=...> or <meta http-equiv="Content-Type" content="...charset=...">
//    that starts within the first 1024 bytes and names a known charset: utf-8/utf8 give UTF-8;
//    iso-8859-1, latin1, us-ascii, windows-1252, cp1252 give Windows-1252; others are skipped;
// 3. UTF-8 when the bytes are valid UTF-8;
// 4. guessSingleByteEncoding.
// `declared` tells whether rule 1 or 2 decided.
BodyEncoding detectBodyEncoding(std::string_view bytes, bool* declared = nullptr);

// Rules 1 and 2 of detectBodyEncoding alone, without the costly guess: false when neither
// decides.
bool declaredBodyEncoding(std::string_view bytes, BodyEncoding& encoding);

// The charset named in a <meta> tag among the first 1024 bytes, lower-cased and trimmed; the
// first tag that names a known charset wins. Empty when none does.
std::string declaredCharset(std::string_view bytes);

// Body bytes to display text. The byte-order mark is not part of the text. Invalid UTF-8 in a
// body declared as UTF-8 becomes U+FFFD (one per maximal invalid subsequence), so do an odd last
// byte and unpaired surrogates of UTF-16. U+0000 becomes U+2400.
std::u16string decodeBody(std::string_view bytes);

// A request-log line to display text: UTF-8 when valid, else Windows-1252; U+0000 becomes U+2400.
std::u16string decodeLine(std::string_view bytes);

// Turns every CR LF and lone CR of the text into LF, in place, as a text box holds it: positions
// in the result are the text box's positions.
void unifyLineEnds(std::u16string& text);

// An undeclared body that is not UTF-8: a Central European, Cyrillic or Greek set when the
// detector (uchardet) names one and enough of the body's high bytes read differently in it than
// in Windows-1252; else Windows-1252. Only a sample of the body is read (see charset_detect.cpp).
BodyEncoding guessSingleByteEncoding(std::string_view bytes);

// The individual decoders, each replacing U+0000 by U+2400.
std::u16string decodeUtf8Lenient(std::string_view bytes);
std::u16string decodeWindows1252(std::string_view bytes);
std::u16string decodeUtf16(std::string_view bytes, bool bigEndian);
// One of the single-byte sets, Windows-1252 included; bytes the set leaves unassigned become
// U+FFFD. Any other encoding decodes as Windows-1252.
std::u16string decodeSingleByte(std::string_view bytes, BodyEncoding encoding);
// The same into dst, which has room for bytes.size() units.
void writeSingleByte(std::string_view bytes, BodyEncoding encoding, char16_t* dst);

}  // namespace korva
