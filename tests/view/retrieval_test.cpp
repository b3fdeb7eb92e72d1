#include "view/retrieval.h"

#include <gtest/gtest.h>

#include <string>

#include "index/file_error.h"
#include "test_util.h"
#include "view/allocation_hook.h"

namespace korva {
namespace {

using testing::kDividerLine;
using testing::makeBlock;
using testing::makeKey;
using testing::TempDir;

const std::string kClosing = "HTTP/1.1 200 OK         ";  // 24 characters

class RetrievalTest : public ::testing::Test {
 protected:
  // Writes the log and returns the 1-based position of the first occurrence of `marker` in it.
  std::int64_t writeLog(const std::string& bytes, const std::string& marker = "") {
    dir_.write("HtmlResponse.log", bytes);
    log_ = bytes;
    return marker.empty() ? 0 : static_cast<std::int64_t>(bytes.find(marker)) + 1;
  }
  RetrievedResponse retrieve(const std::string& key, std::int64_t position) {
    return retrieveResponse(dir_.file("HtmlResponse.log"), key, position);
  }

  TempDir dir_;
  std::string log_;
};

TEST(RequestEntry, KeyAndTextAreCutAtFixedOffsets) {
  const std::string key = makeKey(1);
  EXPECT_EQ(requestKey(key), key);
  EXPECT_EQ(requestText(key), "");
  EXPECT_EQ(requestKey(key + " - "), key);
  EXPECT_EQ(requestText(key + " - "), "");
  EXPECT_EQ(requestText(key + " - G"), "G");
  EXPECT_EQ(requestText(key + " - GET /index.html"), "GET /index.html");
  EXPECT_EQ(requestKey("short"), "short");
  EXPECT_EQ(requestText("short"), "");
  EXPECT_EQ(requestKey(""), "");
}

TEST_F(RetrievalTest, BodyLinesWithoutClosingLine) {
  const std::string key = makeKey(2);
  std::int64_t pos = writeLog(makeBlock(makeKey(1), "x\r\n") + makeBlock(key, "A\r\nB\r\n") +
                                  makeBlock(makeKey(3), "y\r\n"),
                              key);
  for (std::int64_t p : {pos, std::int64_t{0}}) {
    RetrievedResponse r = retrieve(key, p);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.body, "A\r\nB\r\n") << "position " << p;
  }
  RetrievedResponse empty = retrieve(makeKey(4), 0);
  EXPECT_FALSE(empty.found);
  EXPECT_EQ(empty.body, "");
}

TEST_F(RetrievalTest, DividerCountsOnlyAfterTheOpeningLineAndOnlyWhenExact) {
  const std::string key = makeKey(7);
  // A stray divider and the key's own text inside an earlier block come before the opening line.
  std::string log = makeBlock(makeKey(1), kDividerLine + "\r\n") + kDividerLine + "\r\n" +
                    makeBlock(key, "a\r\n" + kDividerLine + " \r\n" + std::string(46, '-') +
                                       "\r\n" + std::string(48, '-') + "\r\n" + key + "\r\nz\r\n");
  std::int64_t pos = writeLog(log, key);
  const std::string expected = "a\r\n" + kDividerLine + " \r\n" + std::string(46, '-') + "\r\n" +
                               std::string(48, '-') + "\r\n" + key + "\r\nz\r\n";
  EXPECT_EQ(retrieve(key, 0).body, expected);
  EXPECT_EQ(retrieve(key, pos).body, expected);
}

TEST_F(RetrievalTest, EndOfFileWithoutDividerGivesEverythingAfterTheOpeningLine) {
  const std::string key = makeKey(5);
  std::int64_t pos =
      writeLog(makeBlock(makeKey(4)) + key + "\r\nA\r\n" + kClosing + "\r\nlast", key);
  RetrievedResponse r = retrieve(key, pos);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.body, "A\r\n" + kClosing + "\r\nlast\r\n");

  writeLog(makeBlock(makeKey(4)) + key);  // only the opening line, no terminator
  r = retrieve(key, 0);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.body, "");
}

TEST_F(RetrievalTest, StalePositions) {
  const std::string key = makeKey(9);
  const std::string log =
      makeBlock(makeKey(1), "one\r\n") + makeBlock(makeKey(2), "two\r\n") + makeBlock(key, "B\r\n");
  std::int64_t pos = writeLog(log, key);
  // Before the opening line: the lines in between are passed over.
  EXPECT_EQ(retrieve(key, 1).body, "B\r\n");
  EXPECT_EQ(retrieve(key, pos - 30).body, "B\r\n");
  // Behind it, inside a line: nothing is found.
  RetrievedResponse behind = retrieve(key, pos + 3);
  EXPECT_FALSE(behind.found);
  EXPECT_EQ(behind.body, "");
  // Behind it, but a later block has the same key: that block is shown.
  pos = writeLog(log + makeBlock(key, "again\r\n"), key);
  EXPECT_EQ(retrieve(key, pos + 1).body, "again\r\n");
}

TEST_F(RetrievalTest, PositionsOutsideTheFileScanFromTheStart) {
  const std::string key = makeKey(3);
  writeLog(makeBlock(key, "first\r\n") + makeBlock(makeKey(4), "x\r\n"));
  const auto length = static_cast<std::int64_t>(log_.size());
  for (std::int64_t p : {std::int64_t{0}, std::int64_t{-5}, length, length + 1, length * 100}) {
    RetrievedResponse r = retrieve(key, p);
    EXPECT_TRUE(r.found) << p;
    EXPECT_EQ(r.body, "first\r\n") << p;
  }
  // The last byte is still inside the file: reading starts there and finds nothing.
  EXPECT_FALSE(retrieve(key, length - 1).found);
}

TEST_F(RetrievalTest, LoneCarriageReturnEndsALineLoneLineFeedDoesNot) {
  const std::string key = makeKey(6);
  writeLog(key + "\rA\rB\nC\r\n" + kClosing + "\r" + kDividerLine + "\r");
  EXPECT_EQ(retrieve(key, 0).body, "A\r\nB\nC\r\n");
}

TEST_F(RetrievalTest, ShortAccumulationAtTheDividerGivesEmptyText) {
  const std::string key = makeKey(8);
  writeLog(key + "\r\n" + kDividerLine + "\r\n");
  RetrievedResponse r = retrieve(key, 1);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.body, "");

  writeLog(key + "\r\n" + std::string(23, 'c') + "\r\n" + kDividerLine + "\r\n");  // 25 bytes
  EXPECT_EQ(retrieve(key, 1).body, "");
  writeLog(key + "\r\n" + std::string(24, 'c') + "\r\n" + kDividerLine + "\r\n");  // 26 bytes
  EXPECT_EQ(retrieve(key, 1).body, "");
  writeLog(key + "\r\nX\r\n" + std::string(24, 'c') + "\r\n" + kDividerLine + "\r\n");
  EXPECT_EQ(retrieve(key, 1).body, "X\r\n");
  // The dropped part is cut by length alone, whatever the closing line holds.
  writeLog(key + "\r\n" + std::string(30, 'b') + "\r\n" + kDividerLine + "\r\n");
  EXPECT_EQ(retrieve(key, 1).body, "bbbbbb");
}

TEST_F(RetrievalTest, OpeningLineMustEqualTheKeyExactly) {
  const std::string key = makeKey(2);
  writeLog(key + " \r\nA\r\n" + kClosing + "\r\n" + kDividerLine + "\r\n" +
           "20261209-req-00000000002\r\nB\r\n" + kClosing + "\r\n" + kDividerLine + "\r\n");
  EXPECT_FALSE(retrieve(key, 0).found);
  // An empty key finds the first empty line.
  writeLog("x\r\n\r\nbody\r\n" + kClosing + "\r\n" + kDividerLine + "\r\n");
  RetrievedResponse r = retrieve("", 0);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.body, "body\r\n");
}

TEST_F(RetrievalTest, LongBodyAcrossReadBlocks) {
  const std::string key = makeKey(11);
  std::string body;
  for (int n = 0; body.size() < (9u << 20); ++n) {
    body += std::string(static_cast<std::size_t>(n % 5000), static_cast<char>('a' + n % 26));
    body += (n % 7 == 0) ? "\r" : "\r\n";  // a lone CR ends a line as well
  }
  body += "\r\n";
  std::string expected;  // lone CRs come back as CR LF
  for (std::size_t i = 0; i < body.size(); ++i) {
    expected += body[i];
    if (body[i] == '\r' && body[i + 1] != '\n') expected += '\n';
  }
  std::string longLine(5u << 20, 'q');  // a long line before the block is skipped
  std::int64_t pos =
      writeLog(makeBlock(makeKey(10), longLine + "\r\n") + makeBlock(key, body), key);
  EXPECT_EQ(retrieve(key, pos).body, expected);
  EXPECT_EQ(retrieve(key, 0).body, expected);
}

// The body buffer is sized to the rest of the file; a block early in a large log must neither
// keep that room nor fail when it is refused.
TEST_F(RetrievalTest, BlockEarlyInALargeLog) {
  const std::string key = makeKey(12);
  std::string body;
  for (int n = 0; n < 20000; ++n) body += "line " + std::to_string(n) + "\r\n";
  const std::string later = makeBlock(makeKey(13), std::string(8u << 20, 'f') + "\r\n");
  std::int64_t pos = writeLog(makeBlock(key, body) + later, key);
  RetrievedResponse r = retrieve(key, pos);
  EXPECT_EQ(r.body, body);
  EXPECT_LT(r.body.capacity(), 2 * body.size() + (1u << 20));

  if (!testing::allocationHookAvailable()) GTEST_SKIP() << "not under AddressSanitizer";
  testing::failNextAllocationFrom(later.size());
  r = retrieve(key, pos);
  EXPECT_FALSE(testing::allocationFailurePending()) << "no allocation failed";
  EXPECT_EQ(r.body, body);
}

TEST_F(RetrievalTest, MissingLogThrowsFileError) {
  EXPECT_THROW(retrieveResponse(dir_.file("missing.log"), makeKey(1), 0), FileError);
  EXPECT_THROW(retrieveResponse(dir_.path(), makeKey(1), 0), FileError);
}

}  // namespace
}  // namespace korva
