#include "view/text_decode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "index/codec.h"

namespace korva {
namespace {

const std::u16string kFffd(1, kReplacementChar);

TEST(DecodeBody, ByteOrderMarkDecidesAndIsDropped) {
  EXPECT_EQ(decodeBody("\xEF\xBB\xBFh\xC3\xA9"), u"h\u00E9");
  EXPECT_EQ(decodeBody(std::string("\xFF\xFEh\0\xAC\x20", 6)), u"h\u20AC");
  EXPECT_EQ(decodeBody(std::string("\xFE\xFF\0h\x20\xAC", 6)), u"h\u20AC");
  // The mark beats a <meta> that says otherwise; the body is then lenient UTF-8.
  EXPECT_EQ(decodeBody("\xEF\xBB\xBF<meta charset=windows-1252>\xE9"),
            u"<meta charset=windows-1252>" + kFffd);
  bool declared = false;
  EXPECT_EQ(detectBodyEncoding("\xFF\xFE", &declared), BodyEncoding::Utf16Le);
  EXPECT_TRUE(declared);
}

TEST(DecodeBody, Utf16OddByteSurrogatesAndNul) {
  // A proper pair stays, a lone surrogate and a dangling last byte become U+FFFD.
  EXPECT_EQ(decodeBody(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), u"\U0001F600");
  EXPECT_EQ(decodeBody(std::string("\xFF\xFE\x3D\xD8h\0", 6)), kFffd + u"h");
  EXPECT_EQ(decodeBody(std::string("\xFE\xFF\xDC\x00\0h", 6)), kFffd + u"h");
  EXPECT_EQ(decodeBody(std::string("\xFF\xFEh\0i", 5)), u"h" + kFffd);
  EXPECT_EQ(decodeBody(std::string("\xFF\xFE\0\0h\0", 6)), u"\u2400h");
}

TEST(DecodeBody, MetaCharsetDecides) {
  // A declared UTF-8 body keeps its text and marks what is broken.
  EXPECT_EQ(decodeBody("<meta charset=\"utf-8\">\xE9t\xC3\xA9"),
            u"<meta charset=\"utf-8\">" + kFffd + u"t\u00E9");
  // A declared single-byte body is read byte by byte, even where it would be valid UTF-8.
  EXPECT_EQ(decodeBody("<meta charset='Windows-1252'>\xC3\xA9"),
            u"<meta charset='Windows-1252'>\u00C3\u00A9");
  // Latin-1 labels mean Windows-1252, as in browsers.
  const std::string equiv =
      "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-1\">";
  EXPECT_EQ(decodeBody(equiv + "\x80\xE9"), decodeBody(equiv) + u"\u20AC\u00E9");
  EXPECT_EQ(declaredCharset(equiv), "iso-8859-1");
  EXPECT_EQ(declaredCharset("<head><meta charset=UTF-8/>"), "utf-8");
  EXPECT_EQ(declaredCharset("<meta http-equiv=content-type content='text/html;charset = UTF8 '>"),
            "utf8");
}

TEST(DecodeBody, MetaThatDoesNotDeclareFallsThrough) {
  // Unknown charset: skipped, a later known one wins; with none, validity decides.
  EXPECT_EQ(declaredCharset("<meta charset=koi8-r><meta charset=latin1>"), "latin1");
  EXPECT_EQ(decodeBody("<meta charset=koi8-r>\xC3\xA9"), u"<meta charset=koi8-r>\u00E9");
  EXPECT_EQ(decodeBody("<meta charset=koi8-r>\xE9"), u"<meta charset=koi8-r>\u00E9");
  // Not a declaration: content without http-equiv, another tag name, inside a comment.
  EXPECT_EQ(declaredCharset("<meta content='text/html; charset=latin1'>"), "");
  EXPECT_EQ(declaredCharset("<metadata charset=latin1>"), "");
  EXPECT_EQ(declaredCharset("<!-- <meta charset=latin1> --><p>"), "");
  // Only a tag that starts within the first 1024 bytes counts.
  const std::string late = std::string(1024, ' ') + "<meta charset=windows-1252>";
  EXPECT_EQ(declaredCharset(late), "");
  EXPECT_EQ(declaredCharset(late.substr(1)), "windows-1252");
  EXPECT_EQ(decodeBody(late + "\xC3\xA9").back(), u'\u00E9');
  bool declared = true;
  EXPECT_EQ(detectBodyEncoding(late + "\xE9", &declared), BodyEncoding::Windows1252);
  EXPECT_FALSE(declared);
}

TEST(DecodeBody, UndeclaredIsUtf8WhenValidElseWindows1252) {
  EXPECT_EQ(decodeBody("Gr\xC3\xBC\xC3\x9F"
                       "e \xE2\x82\xAC"),
            u"Grüße €");
  EXPECT_EQ(decodeBody("Gr\xFC\xDF"
                       "e \x80"),
            u"Grüße €");
  // The unassigned bytes of Windows-1252 keep their value.
  EXPECT_EQ(decodeBody("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(decodeLine("\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(decodeLine("\xC3"), u"\u00C3");
  EXPECT_EQ(decodeBody(""), u"");
}

TEST(DecodeBody, ZeroBytesBecomeAVisiblePlaceholder) {
  // NULs at every offset of runs long enough for the wide ASCII path.
  for (std::size_t at = 0; at < 40; ++at) {
    std::string bytes(40, 'a');
    bytes[at] = '\0';
    std::u16string expected(40, u'a');
    expected[at] = kNulPlaceholder;
    EXPECT_EQ(decodeBody(bytes), expected) << at;
    EXPECT_EQ(decodeLine(bytes), expected) << at;
    bytes.push_back('\xE9');  // invalid UTF-8: the single-byte path
    expected.push_back(u'\u00E9');
    EXPECT_EQ(decodeBody(bytes), expected) << at;
  }
  EXPECT_EQ(decodeBody(std::string("<meta charset=utf-8>\0\xE9", 22)).substr(20),
            u"\u2400" + kFffd);
}

TEST(DecodeUtf8, EachMaximalInvalidPieceIsOneReplacement) {
  struct Case {
    const char* bytes;
    std::u16string expected;
  };
  const std::u16string r = kFffd;
  const Case cases[] = {
      {"\xE2\x82"
       "A",
       r + u"A"},                           // truncated sequence
      {"\xE2\x82", r},                      // truncated at the end
      {"\xED\xA0\x80", r + r + r},          // surrogate
      {"\xC0\x80", r + r},                  // overlong
      {"\xE0\x80\x80", r + r + r},          // overlong
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF0\x9F\x98"
       "a",
       r + u"a"},
      {"\x80\xBF", r + r},
      {"\xFF"
       "a\xFE",
       r + u"a" + r},
      {"\xEF\xBF\xBF", u"\uFFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeUtf8Lenient(c.bytes), c.expected) << c.bytes;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp == 0 ? kNulPlaceholder : cp);
  } else {
    out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  }
}

// Random code points, with long ASCII runs so that the wide path starts and stops anywhere.
TEST(DecodeUtf8, RandomTextRoundTrips) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> kind(0, 5);
  for (int n = 0; n < 3000; ++n) {
    std::string bytes;
    std::u16string expected;
    for (int k = std::uniform_int_distribution<int>(0, 60)(rng); k > 0; --k) {
      char32_t cp;
      switch (kind(rng)) {
        case 0:
          cp = std::uniform_int_distribution<char32_t>(0x80, 0x7FF)(rng);
          break;
        case 1:
          cp = std::uniform_int_distribution<char32_t>(0x800, 0xD7FF)(rng);
          break;
        case 2:
          cp = std::uniform_int_distribution<char32_t>(0xE000, 0xFFFF)(rng);
          break;
        case 3:
          cp = std::uniform_int_distribution<char32_t>(0x10000, 0x10FFFF)(rng);
          break;
        default:
          cp = std::uniform_int_distribution<char32_t>(0, 0x7F)(rng);
          break;
      }
      int repeat = cp < 0x80 ? std::uniform_int_distribution<int>(1, 20)(rng) : 1;
      for (int r = 0; r < repeat; ++r) {
        appendUtf8(bytes, cp);
        appendUtf16(expected, cp);
      }
    }
    ASSERT_EQ(decodeLine(bytes), expected);
    // A leading U+FEFF is a byte-order mark to decodeBody.
    const bool marked = !expected.empty() && expected[0] == u'\uFEFF';
    ASSERT_EQ(decodeBody(bytes), marked ? expected.substr(1) : expected);
  }
}

// Random bytes, mostly from the ranges where UTF-8 is decided: the line decoder's own validity
// test must agree with the one the index uses.
TEST(DecodeLine, Utf8ExactlyWhenTheBytesAreValid) {
  const unsigned char bytes[] = {'a',  0,    0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  std::mt19937 rng(9);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof bytes - 1);
  int valid = 0;
  for (int n = 0; n < 200000; ++n) {
    std::string s(std::uniform_int_distribution<std::size_t>(1, 6)(rng), ' ');
    for (char& c : s) c = static_cast<char>(bytes[pick(rng)]);
    const bool isUtf8 = isValidUtf8(s);
    valid += isUtf8;
    ASSERT_EQ(decodeLine(s), isUtf8 ? decodeUtf8Lenient(s) : decodeWindows1252(s));
    if (isUtf8) {
      ASSERT_EQ(decodeUtf8Lenient(s).find(kReplacementChar), std::u16string::npos);
    }
  }
  EXPECT_GT(valid, 1000);  // the draw must reach both sides
}

// Line ends unified in place, checked against a character-by-character reference on random
// texts of CR, LF and letters, and on the edges: empty, only CRs, CR LF split by nothing else.
TEST(UnifyLineEnds, CrLfAndLoneCrBecomeLf) {
  auto reference = [](const std::u16string& t) {
    std::u16string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] != u'\r') {
        out.push_back(t[i]);
        continue;
      }
      out.push_back(u'\n');
      if (i + 1 < t.size() && t[i + 1] == u'\n') ++i;
    }
    return out;
  };
  std::vector<std::u16string> texts = {u"", u"\r", u"\r\r\n\r", u"a\r\nb\rc\n", u"\n\r\n\n"};
  std::mt19937 rng(4);
  for (int n = 0; n < 2000; ++n) {
    std::u16string t(std::uniform_int_distribution<std::size_t>(0, 40)(rng), u'x');
    for (char16_t& c : t) c = u"\r\nab"[std::uniform_int_distribution<int>(0, 3)(rng)];
    texts.push_back(t);
  }
  for (std::u16string t : texts) {
    const std::u16string expected = reference(t);
    unifyLineEnds(t);
    ASSERT_EQ(t, expected);
  }
}

// Undeclared single-byte bodies as browsers guess them; the rules before the guess still win.
TEST(DecodeBody, GuessesUndeclaredSingleByteSets) {
  struct Case {
    const char* what;
    std::string text;  // inside <p>
    BodyEncoding encoding;
    std::u16string shown;
    bool declared = false;
  };
  const Case cases[] = {
      {"cp1251 Russian",
       "\xD1\xFA\xE5\xF8\xFC \xE6\xE5 \xE5\xF9\xB8 \xFD\xF2\xE8\xF5 \xEC\xFF\xE3\xEA\xE8\xF5 "
       "\xF4\xF0\xE0\xED\xF6\xF3\xE7\xF1\xEA\xE8\xF5 \xE1\xF3\xEB\xEE\xEA, \xE4\xE0 "
       "\xE2\xFB\xEF\xE5\xE9 \xF7\xE0\xFE. \xCC\xEE\xF1\xEA\xE2\xE0 - \xF1\xF2\xEE\xEB\xE8\xF6\xE0 "
       "\xD0\xEE\xF1\xF1\xE8\xE8.",
       BodyEncoding::Windows1251,
       u"Съешь же ещё этих мягких французских булок, да выпей чаю. Москва - столица России."},
      {"KOI8-R Russian",
       "\xFB\xC9\xD2\xCF\xCB\xC1\xD1 \xDC\xCC\xC5\xCB\xD4\xD2\xC9\xC6\xC9\xCB\xC1\xC3\xC9\xD1 "
       "\xC0\xD6\xCE\xD9\xC8 \xC7\xD5\xC2\xC5\xD2\xCE\xC9\xCA \xC4\xC1\xD3\xD4 "
       "\xCD\xCF\xDD\xCE\xD9\xCA "
       "\xD4\xCF\xCC\xDE\xCF\xCB \xD0\xCF\xC4\xDF\xA3\xCD\xD5 \xD3\xC5\xCC\xD8\xD3\xCB\xCF\xC7\xCF "
       "\xC8\xCF\xDA\xD1\xCA\xD3\xD4\xD7\xC1.",
       BodyEncoding::Koi8R,
       u"Широкая электрификация южных губерний даст мощный толчок подъёму сельского хозяйства."},
      {"cp1253 Greek",  // the ellipsis at 0x85 tells Windows-1253 from ISO-8859-7
       "\xC7 \xA2\xED\xED\xE1 \xE5\xDF\xF0\xE5: \xAB\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1\x85\xBB "
       "\xCE\xE5\xF3\xEA\xE5\xF0\xDC\xE6\xF9 \xF4\xE7\xED \xF8\xF5\xF7\xEF\xF6\xE8\xFC\xF1\xE1 "
       "\xE2\xE4\xE5\xEB\xF5\xE3\xEC\xDF\xE1.",
       BodyEncoding::Windows1253, u"Η Άννα είπε: «Καλημέρα…» Ξεσκεπάζω την ψυχοφθόρα βδελυγμία."},
      {"cp1250 Czech",
       "P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 \xFAp\xECl \xEF\xE1"
       "belsk\xE9 \xF3"
       "dy. Dobr\xFD den, jak se m\xE1te? D\xECkuji, dob\xF8"
       "e.",
       BodyEncoding::Windows1250,
       u"Příliš žluťoučký kůň úpěl ďábelské ódy. Dobrý den, jak se máte? Děkuji, dobře."},
      {"cp1250 Polish",
       "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1. Pchn\xB9\xE6 w t\xEA \xB3\xF3"
       "d\x9F je\xBF"
       "a lub o\x9Cm skrzy\xF1 fig.",
       BodyEncoding::Windows1250, u"Zażółć gęślą jaźń. Pchnąć w tę łódź jeża lub ośm skrzyń fig."},
      {"cp1252 German",
       "Falsches \xDC"
       "ben von Xylophonmusik qu\xE4lt jeden gr\xF6\xDF"
       "eren Zwerg. Gr\xFC\xDF"
       "e aus M\xFCnchen.",
       BodyEncoding::Windows1252,
       u"Falsches Üben von Xylophonmusik quält jeden größeren Zwerg. Grüße aus München."},
      {"cp1252 French",
       "Voix ambigu\xEB d\x92un c\x9Cur qui au z\xE9phyr pr\xE9"
       "f\xE8re les jattes de kiwis. \xC9t\xE9 \xE0 c\xF4t\xE9.",
       BodyEncoding::Windows1252,
       u"Voix ambiguë d’un cœur qui au zéphyr préfère les jattes de kiwis. Été à côté."},
      // Few high bytes that the detector reads as ISO-8859-2 but that show the same there.
      {"cp1252 short", "Caf\xE9", BodyEncoding::Windows1252, u"Café"},
      {"cp1252 signs", "Koupil jsem 3 kusy \xA9 2020, cena 5 \x80 \x96 hotovo.",
       BodyEncoding::Windows1252, u"Koupil jsem 3 kusy © 2020, cena 5 € – hotovo."},
      {"pure ASCII", "Plain text only.", BodyEncoding::Utf8, u"Plain text only."},
      {"valid UTF-8", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", BodyEncoding::Utf8,
       u"Москва"},
      {"declared over the guess",
       "<meta charset=windows-1252>\xCC\xEE\xF1\xEA\xE2\xE0 - \xF1\xF2\xEE\xEB\xE8\xF6\xE0 "
       "\xD0\xEE\xF1\xF1\xE8\xE8, \xD1\xFA\xE5\xF8\xFC \xE6\xE5 \xE5\xF9\xB8 \xFD\xF2\xE8\xF5.",
       BodyEncoding::Windows1252,
       u"<meta charset=windows-1252>Ìîñêâà - ñòîëèöà Ðîññèè, Ñúåøü æå åù¸ ýòèõ.", true},
  };
  for (const Case& c : cases) {
    const std::string body = "<html><head><title>T</title></head><body><p>" + c.text + "</p>";
    bool declared = false;
    EXPECT_EQ(detectBodyEncoding(body, &declared), c.encoding) << c.what;
    EXPECT_EQ(declared, c.declared) << c.what;
    EXPECT_EQ(decodeBody(body), u"<html><head><title>T</title></head><body><p>" + c.shown + u"</p>")
        << c.what;
  }
  // What a set leaves unassigned is no character; NUL stays visible.
  EXPECT_EQ(decodeSingleByte(std::string("\xD2\0\xC1", 3), BodyEncoding::Windows1253),
            u"\uFFFD\u2400Α");
  EXPECT_EQ(decodeSingleByte("\xE1", BodyEncoding::Iso8859_5), u"с");
}

}  // namespace
}  // namespace korva
