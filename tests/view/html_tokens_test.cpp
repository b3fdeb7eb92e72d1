#include "view/html_tokens.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "view/html_checks.h"
#include "view/html_pages.h"

namespace korva {
namespace {

char letter(HtmlTokenKind kind) { return "TBNSAVCDRXscrm"[static_cast<int>(kind)]; }

// Tokens as "kind letter + text", joined by "|": T text, B bracket, N name, S tag space,
// A attribute name, V value, C comment, D doctype, R reference, X raw text, s script string,
// c script comment, r css string, m css comment.
std::string describe(const std::u16string& text) {
  std::string out;
  tokenizeHtml(text, HtmlState{}, [&](const HtmlToken& t) {
    if (!out.empty()) out += '|';
    out += letter(t.kind);
    for (std::size_t k = t.start; k < t.start + t.length; ++k) out += static_cast<char>(text[k]);
  });
  return out;
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST(HtmlTokens, SnippetsGiveTheirTokens) {
  struct Case {
    const char* html;
    const char* tokens;
  };
  const Case cases[] = {
      {"a<b>c</b>", "Ta|B<|Nb|B>|Tc|B</|Nb|B>"},
      {"<a href=\"x y\" id=z data-q='1'/>",
       "B<|Na|S |Ahref|B=|V\"x y\"|S |Aid|B=|Vz|S |Adata-q|B=|V'1'|B/>"},
      {"<a =b c d=\"e\"f>", "B<|Na|S |A=b|S |Ac|S |Ad|B=|V\"e\"|Af|B>"},
      {"<!DOCTYPE html><!-- c --><!x><?php ?></1>",
       "B<!|DDOCTYPE html|B>|B<!|C-- c -->|B<!|Cx>|B<|C?php ?>|B</|C1>"},
      {"<!DOCX>", "B<!|DDOC|CX>"},
      // Comments end as browsers end them, also abruptly.
      {"<!-->a<!--->b<!-- x--!>c<!-- > - -->d",
       "B<!|C-->|Ta|B<!|C--->|Tb|B<!|C-- x--!>|Tc|B<!|C-- > - -->|Td"},
      {"x&amp;y&#123;&#x1F;& z&copy", "Tx|R&amp;|Ty|R&#123;|R&#x1F;|R&|T z|R&copy"},
      // A "<" without a tag after it stays a bracket; the text goes on.
      {"a < b <3 </>x", "Ta |B<|T b |B<|T3 |B</|B>|Tx"},
      {"<script>var s='</div>'; // c\nx=\"a\\\"b\" /* d */ if(a<b)y=`t`</script>",
       "B<|Nscript|B>|Xvar s=|s'<|B/|sdiv>'|X; /|c/ c|X\nx=|s\"a\\\"b\"|X /|c* d */"
       "|X if(a<b)y=|s`t`|X<|B/|Nscript|B>"},
      // The end tag ignores case and needs a delimiter; a string open at the end of its line
      // ends there, and the end tag ends the script even inside a string.
      {"<SCRIPT>a</scriptx>b</Script >", "B<|NSCRIPT|B>|Xa<|B/|Nscript|Xx>b<|B/|NScript|S |B>"},
      {"<script>'a\n'</script>", "B<|Nscript|B>|s'a|X\n|s'<|B/|Nscript|B>"},
      {"<style>a{content:\"}</style\"}/*x*/</style>",
       "B<|Nstyle|B>|Xa{content:|r\"}<|B/|Nstyle|r\"|X}/|m*x*/|X<|B/|Nstyle|B>"},
      {"<title>a<b>&amp;</title><textarea></textarea>",
       "B<|Ntitle|B>|Ta<b>|R&amp;|T<|B/|Ntitle|B>|B<|Ntextarea|B>|T<|B/|Ntextarea|B>"},
      {"<scripts>x</scripts><xmp><b></xmp>",
       "B<|Nscripts|B>|Tx|B</|Nscripts|B>|B<|Nxmp|B>|X<b><|B/|Nxmp|B>"},
      {"<plaintext></plaintext>a", "B<|Nplaintext|B>|X</plaintext>a"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe(widen(c.html)), c.tokens) << c.html;
}

TEST(HtmlTokens, ChunksGiveTheKindsOfOnePass) {
  std::vector<std::u16string> texts;
  for (const char* s :
       {"<a href='x'>t&amp;</a><!-- c --><script>if(a</b)//<\n'x\\'y'/*</scrip*/</script >",
        "<style>@x \"</styl\\\"e\"</style><title>&#x41;</title><!DOCTYPE><?x><xmp></xmp>"})
    texts.push_back(widen(s));
  for (std::uint64_t seed = 1; seed <= 4; ++seed)
    texts.push_back(testing::makeHtmlPage(seed, 20000, seed % 2 == 0));
  std::mt19937_64 rng(7);
  EXPECT_EQ(decode(-1), HtmlState{});
  for (const auto& text : texts) {
    // Every single character a chunk of its own, then random cuts.
    for (int round = 0; round < 21; ++round) {
      std::vector<std::size_t> cuts;
      for (std::size_t k = 1; k < text.size(); k += round == 0 ? 1 : 1 + rng() % (round * 3))
        cuts.push_back(k);
      ASSERT_EQ(testing::chunkViolation(text, cuts), "") << "round " << round;
    }
    // Line by line without the breaks, as a highlighter is handed the text.
    const testing::HtmlPass whole = testing::tokenizeInChunks(text, {});
    HtmlState state;
    for (std::size_t from = 0; from <= text.size();) {
      const std::size_t end = std::min(text.find(u'\n', from), text.size());
      state = tokenizeHtml(std::u16string_view(text).substr(from, end - from), state,
                           [&](const HtmlToken& t) {
                             for (std::size_t c = t.start; c < t.start + t.length; ++c)
                               ASSERT_EQ(t.kind, whole.kinds[from + c]) << from + c;
                           });
      state = afterLineBreak(state);
      from = end + 1;
    }
  }
}

}  // namespace
}  // namespace korva
