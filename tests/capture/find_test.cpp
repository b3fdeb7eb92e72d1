// The list filter and the search over all responses, against plain reference scans.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "capture/byte_search.h"
#include "capture/capture.h"
#include "capture/read_ahead.h"
#include "capture/regex_bytes.h"
#include "capture/response_search.h"
#include "capture/row_filter.h"
#include "test_util.h"
#include "view/text_decode.h"

namespace korva {
namespace {

using testing::makeBlock;
using testing::makeKey;
using testing::makeRequestLine;
using testing::TempDir;

std::vector<std::uint32_t> kept(const RequestRows& rows, const std::string& expression) {
  FilterRun run(rows, RowFilter(expression));
  while (!run.step(2)) {
  }
  return run.takeKept();
}

TEST(RowFilterTest, WordsExclusionsRegexAndCase) {
  TempDir dir;
  dir.write("HtmlRequest.log",
            makeRequestLine(makeKey(1), "GET http://a.example/Index.html") +
                makeRequestLine(makeKey(2), "POST http://b.example/form") +
                makeRequestLine(makeKey(3), "GET http://c.example/\xC3\x84rger") +
                makeRequestLine(makeKey(4), "GET http://d.test/\xC4rger"));
  RequestRows rows;
  rows.load(dir.path() + "/HtmlRequest.log");
  using V = std::vector<std::uint32_t>;
  const std::pair<const char*, V> cases[] = {
      {"", V{0, 1, 2, 3}},
      {"get", V{0, 2, 3}},
      {"GET example", V{0, 2}},
      {"example get", V{0, 2}},  // any order
      {"-get", V{1}},
      {"get -INDEX -d.test", V{2}},
      {"\xC3\xA4rger", V{2, 3}},  // ä finds Ä in UTF-8 and in Windows-1252 rows
      {"/post\\s+http/", V{1}},   // the whole line counts: the key stands before the method
      {"/ex.mple/ -/form$/", V{0, 2}},
      {"/a b|Index/", V{0}},             // a blank inside the slashes
      {"/index\\.HTML|FORM/", V{0, 1}},  // looked for first, in either case
      {"/b\\.ex?ample/", V{1}},
      {"-", V{0, 1, 2, 3}},  // a lone hyphen is a word, and every separator holds it
      {"nothing", V{}},
  };
  for (const auto& [expression, expected] : cases) {
    const RowFilter filter(expression);
    EXPECT_EQ(filter.error(), "") << expression;
    EXPECT_EQ(kept(rows, expression), expected) << expression;
  }
  for (const char* bad : {"/[/", "/abc", "get //"}) {
    const RowFilter filter(bad);
    EXPECT_NE(filter.error(), "") << bad;
    EXPECT_TRUE(filter.keepsEverything()) << bad;
  }
}

TEST(ByteSearchTest, FindsTermsAndDividersAtEveryOffset) {
  const std::string divider(47, '-');
  for (std::size_t pad = 0; pad < 40; ++pad) {
    const std::string text = std::string(pad, 'x') + "\r\nab" + std::string(46, '-') + "\r\n" +
                             std::string(48, '-') + "\r\nq\n" + divider + "\r\n" + divider + "\r";
    const std::size_t good = text.size() - 48;
    EXPECT_EQ(findDividerLine(text, 0, false), good) << pad;
    EXPECT_EQ(AsciiNoCaseFinder("Q\n-").find(text), good - 51) << pad;
    EXPECT_EQ(AsciiNoCaseFinder("X\r\nAB").find(text), pad == 0 ? kNoMatch : pad - 1) << pad;
  }
  // Every length and start, against a plain search: the wide scans hand over to shorter ones
  // near the end of the text.
  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 90, ' '), term(1 + random() % 6, ' ');
    for (char& c : text) c = "aAbB-\r"[random() % 6];
    for (char& c : term) c = "abB-"[random() % 4];
    std::string lowerText = text, lowerTerm = term;
    for (char& c : lowerText) c = static_cast<char>(std::tolower(c));
    for (char& c : lowerTerm) c = static_cast<char>(std::tolower(c));
    const std::size_t from = random() % (text.size() + 2);
    const std::size_t expected = from > text.size() ? kNoMatch : lowerText.find(lowerTerm, from);
    ASSERT_EQ(AsciiNoCaseFinder(term).find(text, from), expected) << text << " / " << term;
  }
  EXPECT_EQ(findDividerLine(std::string(47, '-') + "\r", 0, true), 0u);
  EXPECT_EQ(findDividerLine(std::string(47, '-') + "\r", 0, false), kNoMatch);
  EXPECT_EQ(findDividerLine(std::string(47, '-'), 0, true), kNoMatch);  // not ended yet
}

// Occurrences of an ASCII term in the decoded text, the plainest way.
std::uint64_t plainCount(const std::u16string& text, const std::string& term) {
  std::string lower;
  for (char16_t c : text) lower.push_back(c < 0x80 ? static_cast<char>(std::tolower(c)) : '?');
  std::uint64_t n = 0;
  for (std::size_t p = lower.find(term); p != std::string::npos;
       p = lower.find(term, p + term.size()))
    ++n;
  return n;
}

// The worker fills the buffer while the reader walks on, compacts and now and then jumps back:
// every view must hold the file's bytes, and only the last one may end the file.
TEST(ReadAheadFileTest, ViewsHoldTheFileWhileTheWorkerReadsOn) {
  TempDir dir;
  std::mt19937 random(3);
  std::string bytes(300'000, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  dir.write("data", bytes);
  for (const std::size_t chunk : {std::size_t{512}, std::size_t{4096}, std::size_t{1} << 20}) {
    ReadAheadFile file(dir.path() + "/data", chunk);
    std::int64_t start = 0;
    while (start < static_cast<std::int64_t>(bytes.size())) {
      const std::string_view view = file.at(start);
      const auto rest = bytes.size() - static_cast<std::size_t>(start);
      ASSERT_GE(view.size(), std::min(rest, chunk / 2)) << chunk << " at " << start;
      ASSERT_EQ(view, std::string_view(bytes).substr(static_cast<std::size_t>(start), view.size()))
          << chunk << " at " << start;
      ASSERT_EQ(file.endsFile(start, view.size()), view.size() == rest) << chunk << " at " << start;
      if (random() % 50 == 0)
        start -= std::min<std::int64_t>(start, random() % (4 * chunk));
      else
        start += 1 + static_cast<std::int64_t>(random() % std::min(view.size(), 2 * chunk / 3));
    }
    EXPECT_GE(file.bytesRead(), bytes.size());
  }
}

TEST(ResponseSearchTest, CountsOnlyBodiesAtBlockEdgesAndAcrossReadBlocks) {
  TempDir dir;
  std::mt19937 random(7);
  // Several read blocks long and dense with the term, so that every edge between two read
  // blocks cuts through an occurrence, whatever the alignment.
  std::string big;
  while (big.size() < (3u << 20)) {
    big += random() % 3 == 0 ? "NeEdLe" : "needle";
    big += random() % 2 ? "a" : "bc";
    if (random() % 200 == 0) big += "\r\n";
  }
  big += "\r\n";
  const std::string closing = "needle" + std::string(18, '.');  // the closing line holds it too
  auto block = [&](int n, const std::string& body) {
    return makeKey(n) + "\r\n" + body + closing + "\r\n" + std::string(47, '-') + "\r\n";
  };
  std::string requests, log;
  const std::vector<std::string> bodies = {
      "needle\r\n",
      "",
      "a needle, a NEEDLE and needleneedle\r\n",
      big,
      "only in the closing line\r\n",
      "\xFF\xFEn\0e\0e\0d\0l\0e\0\r\0\n\0",  // UTF-16: found decoded
      "lone CR\rneedle\r",
  };
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    requests += makeRequestLine(makeKey(static_cast<int>(i) + 1), "GET /" + std::to_string(i));
    log += block(static_cast<int>(i) + 1, bodies[i]);
  }
  requests += makeRequestLine(makeKey(3), "GET /again");  // a second row of the same key
  log += makeKey(99) + "\r\nneedle, no divider yet";      // a block still being written
  requests += makeRequestLine(makeKey(99), "GET /open");
  dir.write("HtmlRequest.log", requests);
  dir.write("HtmlResponse.log", log);
  Capture capture(dir.path());
  capture.reloadRows();
  capture.openIndex().InitializeIndex();
  for (const std::string term : {"needle", "NEEDLE", "e", "nee", "---", "/need+le/"}) {
    const ResponseSearchResult result = searchResponses(capture, matcherForTerm(term));
    std::map<std::size_t, std::uint64_t> found;
    for (const ResponseHit& hit : result.hits) found[hit.row] = hit.matches;
    const std::string plain = term == "/need+le/" ? "needle" : term;
    std::string lower;
    for (char c : plain) lower.push_back(static_cast<char>(std::tolower(c)));
    for (std::size_t row = 0; row < capture.rows().size(); ++row) {
      const bool indexed = capture.index()->QueryIndex(capture.rows().key(row)) != 0;
      const std::uint64_t expected = indexed ? plainCount(capture.show(row).text, lower) : 0;
      EXPECT_EQ(found.count(row) ? found[row] : 0, expected) << term << " row " << row;
    }
  }
  const ResponseSearchResult snippets = searchResponses(capture, matcherForTerm("a needle"));
  ASSERT_EQ(snippets.hits.size(), 2u);  // the row and the second row of its key
  EXPECT_EQ(snippets.hits[0].snippet, u"a needle, a NEEDLE and needleneedle");
}

}  // namespace
}  // namespace korva

namespace korva {
namespace {

// The byte path for regular expressions against the decoded path it stands in for: every
// encoding the display decodes, the characters the prefilter must not judge, matches at a body's
// first and last byte, in the lines around it and across the read-ahead's blocks.
// The regex search skips the detector for a body no expression can match as bytes: that holds
// only if every single-byte set shows each high byte as one character outside ASCII that no
// ASCII letter folds to (RE2 folds k to U+212A and s to U+017F).
TEST(ResponseSearchTest, SingleByteSetsShowHighBytesAsOneNonAsciiCharacter) {
  for (BodyEncoding set :
       {BodyEncoding::Windows1252, BodyEncoding::Windows1250, BodyEncoding::Iso8859_2,
        BodyEncoding::Windows1251, BodyEncoding::Koi8R, BodyEncoding::Iso8859_5,
        BodyEncoding::Windows1253, BodyEncoding::Iso8859_7}) {
    for (int b = 0x80; b < 0x100; ++b) {
      const char byte = static_cast<char>(b);
      const std::string_view bytes(&byte, 1);
      const std::u16string shown = set == BodyEncoding::Windows1252 ? decodeWindows1252(bytes)
                                                                    : decodeSingleByte(bytes, set);
      ASSERT_EQ(shown.size(), 1u) << static_cast<int>(set) << " byte " << b;
      // Every set keeps ASCII as it is, so bytes are matched where no match holds a high byte.
      const char low = static_cast<char>(b - 0x80);  // NUL is shown as U+2400
      const std::u16string same(1, low == 0 ? u'\u2400' : static_cast<char16_t>(low));
      EXPECT_EQ(decodeSingleByte(std::string_view(&low, 1), set), same);
      EXPECT_EQ(decodeWindows1252(std::string_view(&low, 1)), same);
      EXPECT_GE(shown[0], 0x80) << static_cast<int>(set) << " byte " << b;
      EXPECT_TRUE(shown[0] != 0x212A && shown[0] != 0x17F &&
                  (shown[0] < 0xD800 || shown[0] > 0xDFFF))
          << static_cast<int>(set) << " byte " << b;
    }
  }
}

// Counted on any body's bytes only when no match can hold a character outside ASCII.
TEST(ResponseSearchTest, ExpressionsMatchingOnlyAsciiAreKnown) {
  const std::pair<const char*, bool> ascii[] = {
      {"warenkorb|kasse", true},
      {"\\bk\\w+\\s\\d", true},
      {"a\\.b", true},
      {"[[:alpha:]]+", true},
      {"k.s", false},
      {"a\\\\.", false},
      {"[^a-z]", false},
      {"[[:^alpha:]]", false},
      {"\\S+", false},
      {"\\W", false},
      {"\\D", false},
      {"\\C", false},
      {"\\pL", false},
      {"k\\x{e4}se", false},
      {"k\xC3\xA4se", false},
  };
  for (const auto& [pattern, only] : ascii) EXPECT_EQ(matchesOnlyAscii(pattern), only) << pattern;
  // A search skips to the first of these: each match must begin with one.
  const std::pair<const char*, std::vector<std::string>> leading[] = {
      {"Warenkorb|kasse|bestellung", {"warenkorb", "kasse", "bestellung"}},
      {"artikel\\s0+7", {"artikel"}},
      {"abc?d|x+y", {"ab", "x"}},
      {"a\\.b{2}|c\\-", {"a.", "c-"}},
      {"ab(c|d)e|f", {"ab", "f"}},
      {"[0-9]{4}", {}},
      {"kasse|", {}},
      {"(?-i)Kasse", {}},
      {"^kasse", {}},
      {"a?b", {}},
      {"\\bkasse", {}},
      {"k\xC3\xA4se", {}},
      {"(a|b", {}},
  };
  for (const auto& [pattern, literals] : leading)
    EXPECT_EQ(leadingLiterals(pattern), literals) << pattern;
}

TEST(ResponseSearchTest, RegexCountsEqualTheDecodedPath) {
  TempDir dir;
  const std::string meta1252 = "<meta charset=\"windows-1252\">\r\n";
  const std::string metaUtf8 = "<meta charset=\"utf-8\">\r\n";
  std::string filler;  // pushes later blocks across the edges of the read-ahead's chunks
  while (filler.size() < (700u << 10)) filler += "Artikel 0007 im Warenkorb, 2024-05-06.\r\n";
  std::string huge;  // more than the read-ahead holds at once: decoded
  while (huge.size() < (2u << 20)) huge += "kasse 1999-12-31 ";
  huge += "\r\n";
  const std::vector<std::string> bodies = {
      "Kasse\r\n",  // matches at the first and the last body byte
      "",
      "Artikel 007, artikel\t0007, ARTIKEL 7\r\nWarenkorb und Bestellung\r\n",
      metaUtf8 +
          "Stra\xC3\x9F"
          "e K\xC3\xA4se 2023-01-02 \xC3\xBC"
          "ber\r\n",
      meta1252 +
          "K\xE4se \x80 Bestellung 2023-01-02 \xFC"
          "ber\r\n",
      "undeclared K\xE4se kasse\r\n",  // not UTF-8: Windows-1252
      "\xD1\xFA\xE5\xF8\xFC \xE6\xE5 \xE5\xF9\xB8 \xFD\xF2\xE8\xF5 "
      "\xF4\xF0\xE0\xED\xF6\xF3\xE7\xF1\xEA\xE8\xF5 "
      "\xE1\xF3\xEB\xEE\xEA, \xCC\xEE\xF1\xEA\xE2\xE0 kasse\r\n",  // undeclared: Windows-1251
      "\xEF\xBB\xBF"
      "BOM kasse \xC3\xA4\r\n",            // UTF-8 with its byte-order mark
      "\xFF\xFEk\0a\0s\0s\0e\0\r\0\n\0",   // UTF-16 little endian
      "\xFE\xFF\0k\0a\0s\0s\0e\0\r\0\n",   // UTF-16 big endian
      metaUtf8 + "broken \xC3 kasse\r\n",  // invalid UTF-8 declared as UTF-8
      "nul \0 kasse\r\n",                  // NUL is shown as U+2400
      "vertical\x0Btab kasse\r\n",         // \s for one engine, not for the other
      "\xE2\x84\xAA"
      "asse and \xC5\xBF"
      "chuh\r\n",  // Kelvin sign and long s: cases of k, s
      "\xCC\xEE\xF1\xEA\xE2\xE0 \xE8 \xC0\xF0\xF2\xE8\xEA\xF3\xEB\xFB\r\n",  // Windows-1251 alone
      "lone CR\rkasse\r",
      // Vectorscan (Debian 12's, on AVX-512) missed the matches in these two.
      "Login 61,67 \xE2\x82\xAC free weitere bei bei Bild morgen Suche hier M\xC3\xA4rkte\r\n",
      "kte61,67 kte freeM\xC3\xA4rkte\xC3\x9C"
      "bersichtLogin kteWarenkorb Artikel 007Bild weitere \xE2\x82\xAC"
      "2024-01-02kte \r\n",
      filler,
      huge,
      "Bestellung am Ende\r\n",
  };
  const std::string closing = "kasse 2024-01-02 artikel";  // the closing line must not count
  std::string requests, log;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const std::string key = makeKey(static_cast<int>(i) + 1);
    requests += makeRequestLine(key, "GET /" + std::to_string(i));
    log += key + "\r\n" + bodies[i] + closing + "\r\n" + std::string(47, '-') + "\r\n";
  }
  log += makeKey(99) + "\r\nkasse, no divider yet";  // a block still being written
  requests += makeRequestLine(makeKey(99), "GET /open");
  dir.write("HtmlRequest.log", requests);
  dir.write("HtmlResponse.log", log);
  Capture capture(dir.path());
  capture.reloadRows();
  capture.openIndex().InitializeIndex();
  for (const char* pattern : {"/artikel\\s0+7/",
                              "/warenkorb|kasse|bestellung/",
                              "/[0-9]{4}-[0-9]{2}-[0-9]{2}/",
                              "/kasse/",
                              "/^kasse/",
                              "/kasse$/",
                              "/e$/",
                              "/\\bk\\w+/",
                              "/k.s/",
                              "/k\\w+e/",
                              "/k\\w{1,8}e/",
                              "/kasse|ber|[0-9]-/",
                              "/artikel\\s0+7|bestellung\\b/",
                              "/s.h/",
                              "/\\S+/",
                              "/[^a-z ]/",
                              "/\\s/",
                              "/l\\St/",
                              "/^\\w/",
                              "/^.asse/",
                              "/./",
                              "/-+/",
                              "/\\d/",
                              "/(?-i)Kasse/",
                              "/a*/",
                              "/k\\x{e4}se/",
                              "/k\xC3\xA4se/",
                              "/[[:cntrl:]]/",
                              "/stra\xC3\x9F"
                              "e/",
                              "/\\pL+/",
                              "/\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0/",
                              "/\\C/"}) {
    const TextMatcher matcher = matcherForTerm(pattern);
    ASSERT_EQ(matcher.error(), "") << pattern;
    const ResponseSearchResult result = searchResponses(capture, matcher);
    std::map<std::size_t, const ResponseHit*> found;
    for (const ResponseHit& hit : result.hits) found[hit.row] = &hit;
    for (std::size_t row = 0; row < capture.rows().size(); ++row) {
      const std::u16string text = capture.show(row).text;
      const std::uint64_t expected = matcher.count(text);
      EXPECT_EQ(found.count(row) ? found[row]->matches : 0, expected) << pattern << " row " << row;
      if (expected == 0 || !found.count(row)) continue;
      const auto first = matcher.first(text);
      EXPECT_NE(found[row]->snippet.find(text.substr(first->first, first->second)),
                std::u16string::npos)
          << pattern << " row " << row;
    }
  }
}

TEST(ReadAheadFileTest, ReadsNothingUntilAsked) {
  TempDir dir;
  dir.write("data", std::string(1 << 16, 'x'));
  ReadAheadFile file(dir.path() + "/data", 4096);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(file.bytesRead(), 0u);
  EXPECT_EQ(file.at(0).substr(0, 3), "xxx");
}

TEST(RowFilterTest, ExpressionErrorsAreGerman) {
  EXPECT_EQ(RowFilter("/(a/").error(), "Ungültiger regulärer Ausdruck: fehlende schließende ): (a");
  EXPECT_EQ(RowFilter("/a)/").error(),
            "Ungültiger regulärer Ausdruck: unerwartete schließende ): a)");
  EXPECT_EQ(matcherForTerm("/x{2,1}/").error(),
            "Ungültiger regulärer Ausdruck: ungültige Anzahl der Wiederholungen: {2,1}");
}

TEST(Utf8FromUtf16Test, JoinsSurrogatePairsAndReplacesUnpairedOnes) {
  EXPECT_EQ(utf8FromUtf16(u"a\u00E4\U0001F600"), "a\xC3\xA4\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8FromUtf16(std::u16string{0xD83D, u'a', 0xDE00}),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace korva
