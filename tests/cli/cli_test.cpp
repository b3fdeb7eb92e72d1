#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "run_process.h"
#include "test_util.h"
#include "view/filter_reference.h"
#include "view/html_format.h"
#include "view/text_decode.h"

namespace korva {
namespace {

using testing::makeBlock;
using testing::makeKey;
using testing::makeRequestLine;
using testing::runProcess;
using testing::TempDir;

testing::ProcessResult cli(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"-C", dir.path()});
  return runProcess(testing::builtProgram("src/cli/korvashimtale-cli"), args);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    request = makeRequestLine(makeKey(1), "GET http://a.example/ HTTP/1.1") +
              makeRequestLine(makeKey(2), "POST http://b.example/form HTTP/1.1") +
              makeRequestLine(makeKey(3), "GET http://c.example/none HTTP/1.1");
    response = makeBlock(makeKey(1), "<p>one</p>\r\n") +
               makeBlock(makeKey(2), "<b>x</b><script>bad()</script>\r\n<!-- note -->two\r\n");
    dir.write("HtmlRequest.log", request);
    dir.write("HtmlResponse.log", response);
  }
  TempDir dir;
  std::string request, response;
};

TEST_F(CliTest, IndexBuildsThenResumesThenIsCurrent) {
  auto first = cli(dir, {"index"});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "Index neu aufgebaut, 2 Einträge\n");
  EXPECT_EQ(dir.read("HtmlResponse.idx"),
            makeKey(1) + " - 1\r\n" + makeKey(2) + " - " +
                std::to_string(makeBlock(makeKey(1), "<p>one</p>\r\n").size() + 1) + "\r\n");
  dir.append("HtmlResponse.log", makeBlock(makeKey(3)));
  EXPECT_EQ(cli(dir, {"index"}).out, "Index fortgesetzt, 3 Einträge\n");
  EXPECT_EQ(cli(dir, {"index"}).out, "Index aktuell, 3 Einträge\n");
}

TEST_F(CliTest, LookupReadsOnlyAndPrintsZeroForUnknownKeys) {
  cli(dir, {"index"});
  std::string before = dir.read("HtmlResponse.idx");
  auto hit = cli(dir, {"lookup", makeKey(1)});
  EXPECT_EQ(hit.exitCode, 0);
  EXPECT_EQ(hit.out, "1\n");
  EXPECT_EQ(cli(dir, {"lookup", "nothing"}).out, "0\n");
  dir.write("HtmlResponse.idx", before + "garbage line\r\n");
  cli(dir, {"lookup", makeKey(2)});
  EXPECT_EQ(dir.read("HtmlResponse.idx"), before + "garbage line\r\n");
}

TEST_F(CliTest, ListPrintsEveryLineWithLf) {
  auto r = cli(dir, {"list"});
  EXPECT_EQ(r.exitCode, 0);
  std::string expected = request;
  for (std::size_t p; (p = expected.find("\r\n")) != std::string::npos;)
    expected.replace(p, 2, "\n");
  EXPECT_EQ(r.out, expected);
}

TEST_F(CliTest, ShowPrintsTheBodyAndAppliesTheFilters) {
  cli(dir, {"index"});
  EXPECT_EQ(cli(dir, {"show", "0"}).out, "<p>one</p>\r\n");
  EXPECT_EQ(cli(dir, {"show", "1", "--no-scripts"}).out, "<b>x</b>\r\n<!-- note -->two\r\n");
  EXPECT_EQ(cli(dir, {"show", "1", "--no-scripts", "--no-comments"}).out, "<b>x</b>\r\ntwo\r\n");
  auto none = cli(dir, {"show", "2"});  // a request without a block yet
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, "");
  auto past = cli(dir, {"show", "3"});
  EXPECT_EQ(past.exitCode, 1);
  EXPECT_NE(past.err.find("Zeile 3 gibt es nicht"), std::string::npos);
}

// The line breaks go into the body's own bytes: a Windows-1252 page stays Windows-1252.
TEST_F(CliTest, ShowFormattedBreaksLinesBetweenBlocksAfterTheFilters) {
  dir.append("HtmlRequest.log", makeRequestLine(makeKey(4), "GET http://d.example/ HTTP/1.1"));
  dir.append("HtmlResponse.log",
             makeBlock(makeKey(4),
                       "<html><body><!--c--><div><p>a <b>\xE4</b></p><pre><i>x</i>"
                       "</pre><script>f()</script></div></body></html>\r\n"));
  EXPECT_EQ(
      cli(dir, {"show", "3", "--formatted"}).out,
      "<html>\n  <body><!--c-->\n    <div>\n      <p>a <b>\xE4</b></p>\n"
      "      <pre><i>x</i></pre>\n      <script>f()</script>\n    </div>\n  </body>\n</html>\r\n");
  EXPECT_EQ(cli(dir, {"show", "3", "--no-comments", "--formatted", "--no-scripts"}).out,
            "<html>\n  <body>\n    <div>\n      <p>a <b>\xE4</b></p>\n      <pre><i>x</i>"
            "</pre>\n    </div>\n  </body>\n</html>\r\n");
}

TEST_F(CliTest, ShowWithoutAnIndexScansTheLog) {
  EXPECT_EQ(cli(dir, {"show", "1", "--no-comments"}).out,
            "<b>x</b><script>bad()</script>\r\ntwo\r\n");
  EXPECT_FALSE(dir.exists("HtmlResponse.idx"));
}

TEST_F(CliTest, DiffExitsAsDiffDoesAndNamesBothRequests) {
  EXPECT_EQ(cli(dir, {"diff", "0", "0"}).exitCode, 0);
  EXPECT_EQ(cli(dir, {"diff", "0", "0"}).out, "");
  const auto d = cli(dir, {"diff", "0", "1", "--no-scripts", "-U", "1"});
  EXPECT_EQ(d.exitCode, 1) << d.err;
  EXPECT_EQ(d.out,
            "--- Zeile 0\tGET http://a.example/ HTTP/1.1\n"
            "+++ Zeile 1\tPOST http://b.example/form HTTP/1.1\n"
            "@@ -1 +1,2 @@\n-<p>one</p>\r\n+<b>x</b>\r\n+<!-- note -->two\r\n");
  // The request without a block compares as an empty text.
  const std::string fromEmpty = cli(dir, {"diff", "2", "0", "-U0"}).out;
  EXPECT_EQ(fromEmpty.substr(fromEmpty.find("@@")), "@@ -0,0 +1 @@\n+<p>one</p>\r\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"diff", "0", "3"},
                                               {"diff", "0"},
                                               {"diff", "0", "1", "-U", "x"},
                                               {"diff", "0", "1", "--context"}}) {
    const auto bad = cli(dir, args);
    EXPECT_EQ(bad.exitCode, 2) << args.back();
    EXPECT_NE(bad.err, "");
  }
}

TEST(CliErrorsTest, UsageAndMissingFiles) {
  TempDir dir;
  auto usage = cli(dir, {"frobnicate"});
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_NE(usage.err.find("Aufruf:"), std::string::npos);
  EXPECT_EQ(cli(dir, {"show", "-1"}).exitCode, 2);
  auto help = cli(dir, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--version"), std::string::npos);
  auto version = cli(dir, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("korvashimtale-cli ", 0), 0u) << version.out;
  EXPECT_EQ(cli(dir, {"lookup"}).exitCode, 2);
  auto missing = cli(dir, {"list"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Datei nicht gefunden"), std::string::npos);
  auto index = cli(dir, {"index"});
  EXPECT_EQ(index.exitCode, 1);
  EXPECT_NE(index.err.find("HtmlRequest.log"), std::string::npos);
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
  auto noResponse = cli(dir, {"index"});  // reported by the build itself
  EXPECT_EQ(noResponse.exitCode, 1);
  EXPECT_NE(noResponse.err.find("HtmlResponse.log"), std::string::npos);
}

}  // namespace
}  // namespace korva

namespace korva {
namespace {

// The body of `key`'s block read the plainest way: split on CR LF, lines after the opening line
// up to the divider, without the closing line.
std::string bodyOf(const std::string& log, const std::string& key) {
  std::size_t at = log.find(key + "\r\n");
  if (at == std::string::npos) return {};
  std::size_t start = at + key.size() + 2;
  std::size_t divider = log.find("\r\n" + std::string(47, '-') + "\r\n", start - 2);
  std::string body = log.substr(start, divider + 2 - start);  // through the closing line's CR LF
  return body.size() >= 26 ? body.substr(0, body.size() - 26) : std::string();
}

TEST(CliGeneratedLogTest, DiffAppliedByPatchGivesTheSecondResponse) {
  if (::access("/usr/bin/patch", X_OK) != 0) GTEST_SKIP() << "patch(1) is not installed";
  TempDir dir;
  ASSERT_EQ(runProcess(testing::builtProgram("tools/korvashimtale-gen"),
                       {"--out", dir.path(), "--requests", "12", "--size", "200K", "--seed", "8"})
                .exitCode,
            0);
  for (const auto& [row1, row2, options] : {std::tuple{"0", "1", ""},
                                            {"3", "2", "--no-comments"},
                                            {"5", "11", "--formatted"},
                                            {"7", "6", "--formatted"},
                                            {"9", "8", "--no-scripts"}}) {
    std::vector<std::string> show1{"show", row1}, show2{"show", row2}, diff{"diff", row1, row2};
    if (*options) {
      for (auto* args : {&show1, &show2, &diff}) args->push_back(options);
      diff.push_back("-U0");
    }
    dir.write("text", cli(dir, show1).out);
    const auto d = cli(dir, diff);
    ASSERT_EQ(d.exitCode, 1) << d.err;
    dir.write("patch", d.out);
    const auto applied = runProcess("/usr/bin/patch", {"-s", "-F", "0", "--no-backup-if-mismatch",
                                                       dir.file("text"), dir.file("patch")});
    ASSERT_EQ(applied.exitCode, 0) << applied.out << applied.err;
    EXPECT_EQ(dir.read("text"), cli(dir, show2).out) << row1 << " " << row2;
  }
}

// --formatted puts the formatted view's line breaks into the body's own bytes: decoded, they are
// the formatted view's text.
TEST(CliGeneratedLogTest, FormattedBytesDecodeToTheFormattedView) {
  TempDir dir;
  ASSERT_EQ(runProcess(testing::builtProgram("tools/korvashimtale-gen"),
                       {"--out", dir.path(), "--requests", "12", "--size", "200K", "--seed", "9"})
                .exitCode,
            0);
  // One body in UTF-16 as well; the generator writes UTF-8 and Windows-1252.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<div><p>a</p><ul><li>b</li></ul></div>")) utf16 += {c, '\0'};
  dir.append("HtmlRequest.log", testing::makeRequestLine(makeKey(77)));
  dir.append("HtmlResponse.log", makeBlock(makeKey(77), utf16 + "\r\n"));
  std::size_t changed = 0;
  for (int row = 0; row <= 12; ++row) {
    const std::string plain = cli(dir, {"show", std::to_string(row)}).out;
    const std::string formatted = cli(dir, {"show", std::to_string(row), "--formatted"}).out;
    EXPECT_EQ(decodeBody(formatted), formatHtml(decodeBody(plain)).text) << "row " << row;
    changed += formatted != plain;
  }
  EXPECT_GT(changed, 6u);
}

TEST(CliGeneratedLogTest, ShowPrintsExactlyTheBodyOfARow) {
  TempDir dir;
  auto gen = runProcess(testing::builtProgram("tools/korvashimtale-gen"),
                        {"--out", dir.path(), "--requests", "60", "--size", "600K", "--seed", "5"});
  ASSERT_EQ(gen.exitCode, 0) << gen.err;
  ASSERT_EQ(cli(dir, {"index"}).exitCode, 0);
  const std::string log = dir.read("HtmlResponse.log");
  const std::string requests = dir.read("HtmlRequest.log");
  // Every row is checked in-process by the capture tests; here the ends and the middle.
  int row = 0;
  for (std::size_t p = 0; p < requests.size(); ++row) {
    std::size_t end = requests.find("\r\n", p);
    const std::string key = requests.substr(p, 24);
    p = end + 2;
    if (row != 0 && row != 30 && row != 59) continue;
    const std::string body = bodyOf(log, key);
    auto plain = cli(dir, {"show", std::to_string(row)});
    ASSERT_EQ(plain.exitCode, 0);
    ASSERT_EQ(plain.out, body) << "row " << row;
    auto filtered = cli(dir, {"show", std::to_string(row), "--no-scripts", "--no-comments"});
    ASSERT_EQ(filtered.out, reference::stripComments(reference::stripJavaScript(body)))
        << "row " << row;
  }
  EXPECT_EQ(row, 60);

  // search: every row whose body holds the term, with the count, against a plain scan.
  for (const std::string term : {"TABLE", "zzqx"}) {
    std::string expected;
    row = 0;
    for (std::size_t p = 0; p < requests.size(); ++row) {
      const std::size_t end = requests.find("\r\n", p);
      const std::string entry = requests.substr(p, end - p);
      p = end + 2;
      std::string body = bodyOf(log, entry.substr(0, 24));
      for (char& c : body) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::size_t n = 0;
      for (std::size_t at = body.find("table"); term == "TABLE" && at != std::string::npos;
           at = body.find("table", at + 5))
        ++n;
      if (n > 0)
        expected += std::to_string(row) + "\t" + std::to_string(n) + "\t" + entry.substr(27) + "\n";
    }
    auto found = cli(dir, {"search", term});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.out, expected) << term;
  }
  EXPECT_FALSE(cli(dir, {"search", "TABLE"}).out.empty());
}

TEST_F(CliTest, ListFiltersAndNumbersRowsAndSearchTakesRegex) {
  cli(dir, {"index"});
  EXPECT_EQ(cli(dir, {"list", "--filter", "get -none"}).out,
            makeKey(1) + " - GET http://a.example/ HTTP/1.1\n");
  EXPECT_EQ(cli(dir, {"list", "-n", "--filter", "/B\\.EXAMPLE/"}).out,
            "1\t" + makeKey(2) + " - POST http://b.example/form HTTP/1.1\n");
  EXPECT_EQ(cli(dir, {"list", "--filter", "/[/"}).exitCode, 2);
  EXPECT_EQ(cli(dir, {"search", "/b.d/"}).out, "1\t1\tPOST http://b.example/form HTTP/1.1\n");
  EXPECT_EQ(cli(dir, {"search", "o", "--regex"}).out,
            "0\t1\tGET http://a.example/ HTTP/1.1\n1\t2\tPOST http://b.example/form HTTP/1.1\n");
  EXPECT_EQ(cli(dir, {"search", "nowhere"}).exitCode, 0);
  EXPECT_EQ(cli(dir, {"search", "x", "--frob"}).exitCode, 2);
}

}  // namespace
}  // namespace korva
