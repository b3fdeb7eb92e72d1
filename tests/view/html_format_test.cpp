#include "view/html_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "view/html_checks.h"
#include "view/html_pages.h"
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

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FormatHtml, OnlyInsertsBetweenTags) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const std::u16string page = testing::makeHtmlPage(seed, 60000, seed % 2 == 1);
    EXPECT_EQ(testing::formatViolation(page), "") << "generated page " << seed;
    EXPECT_FALSE(formatHtml(page).map.insertions().empty());
  }
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(KORVA_FUZZ_CORPUS)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(testing::formatViolation(decodeUtf8Lenient(readBytes(entry.path()))), "")
        << entry.path();
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
    EXPECT_EQ(testing::formatViolation(decodeBody(readBytes(path))), "") << path;
    ++pages;
  }
  if (pages == 0) GTEST_SKIP() << "no HTML pages under " << docs;
}

}  // namespace
}  // namespace korva
