#include "view/html_filters.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "view/allocation_hook.h"
#include "view/filter_reference.h"

namespace korva {
namespace {

TEST(StripJavaScript, ReturnsItsInputWhenMemoryRunsOut) {
  if (!testing::allocationHookAvailable()) GTEST_SKIP() << "not under AddressSanitizer";
  const std::string html = std::string(1 << 20, 'x') + "<script>a</script>";
  testing::failNextAllocationFrom(html.size() / 2);
  const std::string out = StripJavaScript(html);
  EXPECT_FALSE(testing::allocationFailurePending()) << "no allocation failed";
  EXPECT_EQ(out, html);
  testing::failNextAllocationFrom(0);
  EXPECT_EQ(StripJavaScript(html), std::string(1 << 20, 'x'));
}

struct FilterCase {
  const char* input;
  const char* expected;
};

TEST(StripJavaScript, RemovesElementsTheWayTheLoopDoes) {
  const FilterCase cases[] = {
      {"", ""},
      {"plain <b>text</b>", "plain <b>text</b>"},
      {"a<script>x()</script>b", "ab"},
      {"a<SCRIPT>x</Script>b<ScRiPt type=x>y</sCrIpT>c", "abc"},
      // Any tag name that starts with script opens a piece.
      {"<scripts>x</script>y", "y"},
      {"<scriptx a='1'>no</script>z", "z"},
      // No nesting: the first closing ends the piece.
      {"<script>A<script>B</script>C</script>", "C</script>"},
      // An opening without closing leaves the rest; pieces before it are gone.
      {"1<script>a</script>2<script>b", "12<script>b"},
      {"<script>", "<script>"},
      {"</script><script>", "</script><script>"},
      // Pieces that join across a removal form a new element.
      {"<scr<script>x</script>ipt>y</script>z", "z"},
      {"x<scri<script></script>pt>A</script>B", "xB"},
      // Letter case is ASCII only: a Latin-1 letter is no match.
      {"<scr\xC3\x8Dpt>x</script>", "<scr\xC3\x8Dpt>x</script>"},
      {"<script>a</scrip t>", "<script>a</scrip t>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StripJavaScript(c.input), c.expected) << c.input;
    EXPECT_EQ(reference::stripJavaScript(c.input), c.expected) << c.input;
  }
}

TEST(StripJavaScript, KeepsEmbeddedZeroBytes) {
  const std::string input("\0a<script>\0</script>b\0", 22);
  EXPECT_EQ(StripJavaScript(input), std::string("\0ab\0", 4));
}

TEST(StripComments, RemovesCommentsTheWayTheLoopDoes) {
  const FilterCase cases[] = {
      {"", ""},
      {"no comment here", "no comment here"},
      {"a<!-- x -->b", "ab"},
      // The closing search starts at the opening, so its dashes count.
      {"a<!-->b", "ab"},
      {"a<!--->b", "ab"},
      {"a<!---->b", "ab"},
      {"<!-x-->", "<!-x-->"},
      // No nesting.
      {"<!--A<!--B-->C-->", "C-->"},
      {"1<!--a-->2<!--b", "12<!--b"},
      {"<!--", "<!--"},
      // A new opening joined across a removal, also one that closes at once.
      {"<!-<!-- x -->- y -->z", "z"},
      {"<!-<!---->->z", "z"},
      {"<<!---->!---->", ""},
      // Exact matching: no other dash-like byte counts.
      {"<!\xE2\x80\x94 x -->", "<!\xE2\x80\x94 x -->"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StripComments(c.input), c.expected) << c.input;
    EXPECT_EQ(reference::stripComments(c.input), c.expected) << c.input;
  }
}

TEST(HtmlFilters, ScriptInsideCommentWithBothFilters) {
  const std::string html = "a<!-- old <script>alert('-->')</script> gone -->b";
  // The comment filter alone stops at the "-->" inside the script.
  EXPECT_EQ(StripComments(html), "a')</script> gone -->b");
  EXPECT_EQ(StripComments(StripJavaScript(html)), "ab");
}

// Random texts built from pieces of the patterns, so that openings, closings and their
// fragments meet, overlap and join across removals far more often than in real HTML.
std::string randomText(std::mt19937& rng, const std::vector<std::string>& pieces,
                       std::size_t maxPieces) {
  std::uniform_int_distribution<std::size_t> count(0, maxPieces);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string s;
  for (std::size_t n = count(rng); n > 0; --n) s += pieces[pick(rng)];
  return s;
}

TEST(StripJavaScript, MatchesTheLoopOnRandomFragments) {
  const std::vector<std::string> pieces = {
      "<",         "/",         ">",         "s",       "S",       "c",       "r",
      "I",         "p",         "t",         "x",       "<script", "<SCRIPT", "<ScRiPt",
      "</script>", "</SCRIPT>", "</sCrIpt>", "</",      "<scr",    "ipt",     "ipt>",
      "</scr",     "script",    "SCRIPT>",   "<s",      "</s",     "<scrip",  "<SCRI",
      "<sc",       "cript",     "pt",        "</scrip", "</Scri",  "ript>",   "t>"};
  std::mt19937 rng(20240611);
  for (int n = 0; n < 150000; ++n) {
    const std::string input = randomText(rng, pieces, 14);
    ASSERT_EQ(StripJavaScript(input), reference::stripJavaScript(input)) << input;
  }
}

TEST(StripComments, MatchesTheLoopOnRandomFragments) {
  const std::vector<std::string> pieces = {"<",   "!",  "-",  ">",  "x",     "<!--",  "-->",
                                           "<!-", "->", "--", "<!", "<!-->", "<!--->"};
  std::mt19937 rng(77);
  for (int n = 0; n < 150000; ++n) {
    const std::string input = randomText(rng, pieces, 16);
    ASSERT_EQ(StripComments(input), reference::stripComments(input)) << input;
  }
}

// An opening or closing split around a removed piece at every possible point: the joined halves
// must be found again, whichever filter and however the split falls.
TEST(HtmlFilters, PatternsSplitAcrossARemovalAtEveryPoint) {
  struct Filter {
    std::string open, close, piece;
    std::string (*fast)(const std::string&);
    std::string (*slow)(const std::string&);
  };
  const Filter filters[] = {
      {"<ScRipt", "</SCRIPT>", "<script>r</script>", StripJavaScript, reference::stripJavaScript},
      {"<!--", "-->", "<!--r-->", StripComments, reference::stripComments}};
  for (const Filter& f : filters) {
    for (std::size_t k = 0; k <= f.open.size(); ++k) {
      for (std::size_t j = 0; j <= f.close.size(); ++j) {
        const std::string input = "a" + f.open.substr(0, k) + f.piece + f.open.substr(k) + ">b" +
                                  f.close.substr(0, j) + f.piece + f.close.substr(j) + "c";
        ASSERT_EQ(f.fast(input), f.slow(input)) << input;
        ASSERT_EQ(f.fast(input + f.close), f.slow(input + f.close)) << input;
      }
    }
  }
}

// Every text of up to 9 bytes over "<!->" and up to 7 over "<!-x>": all the short
// interactions of openings and closings, not just the ones a random draw happens to hit.
void expectAllCommentTextsMatch(std::string_view alphabet, std::size_t maxLength) {
  std::string s;
  std::vector<std::size_t> digits;
  for (std::size_t len = 0; len <= maxLength; ++len) {
    digits.assign(len, 0);
    s.assign(len, alphabet[0]);
    for (;;) {
      ASSERT_EQ(StripComments(s), reference::stripComments(s)) << s;
      std::size_t k = 0;
      while (k < len && ++digits[k] == alphabet.size()) digits[k++] = 0;
      if (k == len) break;
      for (std::size_t j = 0; j <= k; ++j) s[j] = alphabet[digits[j]];
    }
  }
}

TEST(StripComments, MatchesTheLoopOnAllShortTexts) {
  expectAllCommentTextsMatch("<!->", 9);
  expectAllCommentTextsMatch("<!-x>", 7);
}

TEST(StripJavaScript, MatchesTheLoopOnRandomHtmlWithManyElements) {
  const std::vector<std::string> pieces = {"<p>text</p>",
                                           "<script>var a = 1;</script>",
                                           "<SCRIPT src='x'>",
                                           "</Script>",
                                           "<scr",
                                           "ipt>",
                                           "</scr",
                                           "ipt>\r\n",
                                           "<!-- c -->",
                                           "<div>",
                                           "<scriptx>",
                                           "</script >"};
  std::mt19937 rng(5);
  for (int n = 0; n < 3000; ++n) {
    const std::string input = randomText(rng, pieces, 200);
    ASSERT_EQ(StripJavaScript(input), reference::stripJavaScript(input));
    ASSERT_EQ(StripComments(input), reference::stripComments(input));
  }
}

// The quadratic loop would take minutes here; the linear one must not.
TEST(HtmlFilters, ManyPiecesInLinearTime) {
  std::string html;
  for (int n = 0; n < 20000; ++n) html += "<p>x</p><script>f();</script><!-- note -->";
  EXPECT_EQ(StripJavaScript(html).size(), 20000u * 21);
  EXPECT_EQ(StripComments(html).size(), 20000u * 29);
  // A nesting of joined openings that unfolds one removal at a time from the inside.
  std::string nested;
  for (int n = 0; n < 20000; ++n) nested += "<scr";
  nested += "<script></script>";
  for (int n = 0; n < 20000; ++n) nested += "ipt></script>";
  EXPECT_EQ(StripJavaScript(nested), "");
}

}  // namespace
}  // namespace korva
