#include "view/html_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "view/html_pages.h"
#include "view/html_tokens.h"
#include "view/text_decode.h"

namespace korva {
namespace {

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST(FormatHtml, BreaksLinesNextToBlocksOnly) {
  struct Case {
    const char* html;
    const char* formatted;
  };
  const Case cases[] = {
      {"<!DOCTYPE html><html><head><title>T</title><meta charset=utf-8><script>a</script>"
       "</head><body><div><p>a <b>b</b></p><ul><li>x<li><a href=y>y</a></ul></div></body></html>",
       "<!DOCTYPE html>\n<html>\n  <head>\n    <title>T</title>\n    <meta charset=utf-8>\n"
       "    <script>a</script>\n  </head>\n  <body>\n    <div>\n      <p>a <b>b</b></p>\n"
       "      <ul>\n        <li>x<li><a href=y>y</a>\n      </ul>\n    </div>\n"
       "  </body>\n</html>"},
      // Inline neighbours stay together, a script in the body is inline too; <hr> closes the <p>.
      {"<p><span>a</span><b>b</b><script></script><i>c</i><br><em>d</em><hr></p>",
       "<p><span>a</span><b>b</b><script></script><i>c</i><br>\n  <em>d</em>\n<hr>\n</p>"},
      // Existing white space, pre, comments and raw text are left alone.
      {"<div>\n<p>x</p> <p>y</p></div><pre><div><p>z</p></div></pre><!--<div></div>--><div>"
       "<textarea><div></div></textarea></div>",
       "<div>\n<p>x</p> <p>y</p>\n</div>\n<pre><div><p>z</p></div></pre>\n<!--<div></div>-->\n"
       "<div><textarea><div></div></textarea></div>"},
      // Broken markup: a stray "<", an end tag without opener, a tag open at the end.
      {"<div>< p></div></ul><div><div", "<div>< p></div>\n</ul>\n<div><div"},
  };
  for (const auto& c : cases) {
    const FormattedHtml f = formatHtml(widen(c.html));
    EXPECT_EQ(f.text, widen(c.formatted)) << c.html;
  }
}

// Checks what formatting may do to `text`: only insert line breaks and spaces, only between a
// ">" and a "<" of tags, never inside pre or listing; the map agrees with the text.
void checkInsertOnly(const std::u16string& text, const std::string& what) {
  const FormattedHtml f = formatHtml(text);
  const auto& insertions = f.map.insertions();
  std::u16string rest;
  std::size_t from = 0, done = 0;
  for (std::size_t k = 0; k < insertions.size(); ++k) {
    const HtmlInsertion& ins = insertions[k];
    ASSERT_TRUE(k == 0 || insertions[k - 1].original < ins.original) << what;
    ASSERT_GT(ins.count, 0u);
    const std::size_t at = f.map.toFormatted(ins.original) - ins.count;
    rest.append(f.text, from, at - from);
    ASSERT_EQ(f.text.substr(at, ins.count), u"\n" + std::u16string(ins.count - 1, u' ')) << what;
    from = at + ins.count;
    done += ins.count;
  }
  rest.append(f.text, from, std::u16string::npos);
  ASSERT_EQ(rest, text) << what << ": removing the insertions does not give the original";
  ASSERT_EQ(f.text.size(), text.size() + done);

  // Kinds and open pre elements per original character, from one pass of the tokenizer.
  std::vector<HtmlTokenKind> kinds(text.size());
  std::vector<int> preOpen(text.size() + 1, 0);
  int open = 0;
  std::size_t lastBracket = std::u16string::npos;
  tokenizeHtml(text, HtmlState{}, [&](const HtmlToken& t) {
    for (std::size_t c = t.start; c < t.start + t.length; ++c) kinds[c] = t.kind;
    if (t.kind == HtmlTokenKind::TagName && lastBracket + 1 == t.start) {
      std::u16string name = text.substr(t.start, t.length);
      for (auto& c : name) c = c >= u'A' && c <= u'Z' ? c + 32 : c;
      if (name == u"pre" || name == u"listing") {
        if (text[lastBracket] == u'<') ++open;
        if (text[lastBracket] == u'/' && open > 0) --open;
      }
    }
    if (t.kind == HtmlTokenKind::TagBracket) lastBracket = t.start + t.length - 1;
    for (std::size_t c = t.start; c < t.start + t.length; ++c) preOpen[c + 1] = open;
  });
  for (const HtmlInsertion& ins : insertions) {
    const std::size_t o = ins.original;
    ASSERT_TRUE(o > 0 && o < text.size()) << what << " at " << o;
    // Right after the ">" of a tag or comment and right at the "<" of the next one: never in
    // an attribute value, comment, raw text or RCDATA, where a "<" has another kind.
    EXPECT_EQ(text[o - 1], u'>') << what << " at " << o;
    EXPECT_TRUE(kinds[o - 1] == HtmlTokenKind::TagBracket || kinds[o - 1] == HtmlTokenKind::Comment)
        << what << " at " << o;
    EXPECT_EQ(text[o], u'<') << what << " at " << o;
    EXPECT_EQ(kinds[o], HtmlTokenKind::TagBracket) << what << " at " << o;
    EXPECT_EQ(preOpen[o], 0) << what << " inside pre at " << o;
  }
  // The map both ways.
  const std::size_t step = 1 + text.size() / 5000;
  for (std::size_t o = 0; o < text.size(); o += step) {
    const std::size_t fpos = f.map.toFormatted(o);
    ASSERT_EQ(f.text[fpos], text[o]) << what;
    ASSERT_EQ(f.map.toOriginal(fpos), o) << what;
  }
  for (const HtmlInsertion& ins : insertions) {
    const std::size_t at = f.map.toFormatted(ins.original) - ins.count;
    EXPECT_EQ(f.map.toOriginal(at), ins.original);
    EXPECT_EQ(f.map.toOriginal(at + ins.count - 1), ins.original);
  }
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FormatHtml, OnlyInsertsBetweenTags) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const std::u16string page = testing::makeHtmlPage(seed, 60000, seed % 2 == 1);
    checkInsertOnly(page, "generated page " + std::to_string(seed));
    EXPECT_FALSE(formatHtml(page).map.insertions().empty());
  }
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(KORVA_FUZZ_CORPUS)) {
    if (!entry.is_regular_file()) continue;
    checkInsertOnly(decodeUtf8Lenient(readBytes(entry.path())), entry.path().string());
    ++files;
  }
  EXPECT_GT(files, 0u);
}

TEST(FormatHtml, OnlyInsertsBetweenTagsOfInstalledPages) {
  std::size_t pages = 0;
  std::error_code ec;
  const std::filesystem::path docs = "/usr/share/doc";
  for (auto it = std::filesystem::recursive_directory_iterator(
           docs, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator() && pages < 400;
       it.increment(ec)) {
    const auto& path = it->path();
    if (path.extension() != ".html" || !it->is_regular_file(ec)) continue;
    checkInsertOnly(decodeBody(readBytes(path)), path.string());
    ++pages;
  }
  if (pages == 0) GTEST_SKIP() << "no HTML pages under " << docs;
}

}  // namespace
}  // namespace korva
