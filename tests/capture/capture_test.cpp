#include "capture/capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "index/file_error.h"
#include "log_generator.h"
#include "test_util.h"
#include "view/filter_reference.h"
#include "view/text_decode.h"

namespace korva {
namespace {

using testing::makeBlock;
using testing::makeKey;
using testing::makeRequestLine;
using testing::TempDir;

TEST(RequestRowsTest, SplitsLinesAsTheLogsDoAndCutsKeyAndText) {
  TempDir dir;
  // A lone CR ends a row, a lone LF does not; the last row may lack its terminator.
  dir.write("HtmlRequest.log", makeKey(1) + " - GET /a\r\n" + makeKey(2) + " - GET /b\nc\r" +
                                   "short\r\n" + makeKey(3) + " - last");
  RequestRows rows;
  rows.load(dir.path() + "/HtmlRequest.log");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows.entry(1), makeKey(2) + " - GET /b\nc");
  EXPECT_EQ(rows.key(0), makeKey(1));
  EXPECT_EQ(rows.text(0), "GET /a");
  EXPECT_EQ(rows.key(2), "short");
  EXPECT_EQ(rows.text(2), "");
  EXPECT_EQ(rows.text(3), "last");
  EXPECT_EQ(rows.entry(4), "");  // out of range
  EXPECT_THROW(rows.load(dir.path() + "/missing.log"), FileError);
  EXPECT_EQ(rows.size(), 0u);
}

// A preload is taken only while the file is as it found it; otherwise the file is read anew.
TEST(CaptureTest, PreloadedRowsAreTakenOnlyWhileTheFileIsUnchanged) {
  TempDir dir;
  const std::string two = makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2));
  enum class Then { Nothing, Append, Remove };
  for (const Then then : {Then::Nothing, Then::Append, Then::Remove}) {
    dir.write("HtmlRequest.log", two);
    Capture capture(dir.path());
    capture.preloadRows();
    // Long enough for the preload to have read the two rows before the file changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (then == Then::Append) {
      std::ofstream(dir.path() + "/HtmlRequest.log", std::ios::app | std::ios::binary)
          << makeRequestLine(makeKey(3));
    }
    if (then == Then::Remove) {
      std::remove((dir.path() + "/HtmlRequest.log").c_str());
      EXPECT_THROW(capture.reloadRows(), FileError);
      continue;
    }
    capture.reloadRows();
    EXPECT_EQ(capture.rows().size(), then == Then::Append ? 3u : 2u);
    EXPECT_EQ(capture.rows().key(1), makeKey(2));
  }
}

TEST(CaptureTest, ShowsFoundEmptyAndMissingBlocksWithAndWithoutIndex) {
  TempDir dir;
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)) +
                                   makeRequestLine(makeKey(3)));
  dir.write("HtmlResponse.log",
            makeBlock(makeKey(1), "<p>\xE4</p>\r\n") + makeBlock(makeKey(2), ""));
  Capture capture(dir.path());
  capture.reloadRows();
  for (bool indexed : {false, true}) {
    if (indexed) capture.openIndex().InitializeIndex();
    RowResponse one = capture.show(0);
    EXPECT_TRUE(one.found);
    EXPECT_EQ(one.bytes, "<p>\xE4</p>\r\n");
    EXPECT_EQ(one.bodySize, 10u);
    EXPECT_EQ(one.text, u"<p>\u00E4</p>\r\n");  // not UTF-8: Windows-1252
    RowResponse empty = capture.show(1);
    EXPECT_TRUE(empty.found);
    EXPECT_EQ(empty.bodySize, 0u);
    RowResponse none = capture.show(2);
    EXPECT_FALSE(none.found);
    EXPECT_FALSE(capture.show(3).found);  // out of range
  }
  EXPECT_TRUE(capture.releaseIndex());
  EXPECT_TRUE(dir.exists("HtmlResponse.idx"));
  EXPECT_EQ(capture.index(), nullptr);
}

// Every row of a generated capture against the generator's own record of the blocks and the
// literal reference filters.
TEST(CaptureTest, EveryRowOfAGeneratedLogShowsItsOwnBody) {
  TempDir dir;
  GeneratorOptions options;
  options.outDir = dir.path();
  options.requests = 60;
  options.targetBytes = 600 << 10;
  options.seed = 5;
  options.noResponseForLast = true;
  const GeneratorResult generated = generateLogs(options);
  const std::string log = dir.read("HtmlResponse.log");
  Capture capture(dir.path());
  capture.reloadRows();
  capture.openIndex().InitializeIndex();
  ASSERT_EQ(capture.rows().size(), 60u);
  for (std::size_t row = 0; row < 60; ++row) {
    const BlockRecord& block = generated.requests[row];
    ASSERT_EQ(capture.rows().key(row), block.key);
    ShowOptions filtered;
    filtered.stripJavaScript = filtered.stripComments = true;
    const RowResponse plain = capture.show(row);
    const RowResponse stripped = capture.show(row, filtered);
    ASSERT_EQ(plain.found, block.position != 0) << "row " << row;
    if (!plain.found) continue;
    const std::size_t bodyAt = static_cast<std::size_t>(block.position) - 1 + 26;
    const std::string body = log.substr(bodyAt, static_cast<std::size_t>(block.bodyBytes));
    ASSERT_EQ(plain.bytes, body) << "row " << row;
    ASSERT_EQ(plain.text, decodeBody(body)) << "row " << row;
    ASSERT_EQ(stripped.bytes, reference::stripComments(reference::stripJavaScript(body)));
    ASSERT_EQ(stripped.bodySize, body.size());
  }
}

}  // namespace
}  // namespace korva

namespace korva {
namespace {

TEST(CaptureTest, ProposedFileNameIsTheLastPathSegment) {
  EXPECT_EQ(suggestedFileName("GET http://host/a/b/index.php?x=1#top HTTP/1.1"), "index.php.html");
  EXPECT_EQ(suggestedFileName("GET /shop/Warenkorb HTTP/1.1"), "Warenkorb.html");
  EXPECT_EQ(suggestedFileName("POST https://host HTTP/1.1"), "antwort.html");
  EXPECT_EQ(suggestedFileName("GET http://host/dir/ HTTP/1.1"), "antwort.html");
  EXPECT_EQ(suggestedFileName("GET /a/..%2F..:x*y HTTP/1.1"), ".._2F.._x_y.html");
  EXPECT_EQ(suggestedFileName(""), "antwort.html");
  EXPECT_EQ(suggestedFileName("GET /.."), "antwort.html");
}

}  // namespace
}  // namespace korva
