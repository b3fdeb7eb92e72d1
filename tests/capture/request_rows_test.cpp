#include "capture/request_rows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/row_filter.h"
#include "index/file_error.h"
#include "index/line_reader.h"
#include "test_util.h"

namespace korva {
namespace {

using testing::TempDir;
using Kind = RowsChange::Kind;

std::vector<std::string> rowsOf(const RequestRows& rows) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < rows.size(); ++i) out.emplace_back(rows.entry(i));
  return out;
}

// What the index build and the old row loading see in the same bytes.
std::vector<std::string> lineReaderRows(const std::string& path, std::size_t blockSize) {
  LineReader reader(path, blockSize);
  std::vector<std::string> out;
  for (std::string line; reader.readLine(line);) out.push_back(line);
  return out;
}

std::string randomBytes(std::mt19937& random, std::size_t maxLength) {
  static const char kAlphabet[] = {'a', 'b', '\r', '\n', '\r'};
  std::string s(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), 'a');
  for (char& c : s) c = kAlphabet[random() % sizeof kAlphabet];
  return s;
}

TEST(RequestRowsTest, LoadSplitsExactlyAsLineReaderAtEveryBlockEdge) {
  TempDir dir;
  std::vector<std::string> cases = {
      "",      "\r",       "\n",       "\r\n",      "a",        "a\r",
      "a\r\n", "a\n",      "\r\r",     "\n\r",      "\r\n\r\n", "\r\n\n",
      "a\rb",  "a\r\nb\r", "a\n\rb\n", "ab\r\r\nc", "\n\n\r\n", "a\r\n\r\nb\n\r\n"};
  std::mt19937 random(17);
  for (int i = 0; i < 1500; ++i) cases.push_back(randomBytes(random, 40));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    // A file of its own for each: ext4 flushes a file truncated and written again when closed.
    const std::string& bytes = cases[i];
    const std::string path = dir.file(std::to_string(i));
    dir.write(std::to_string(i), bytes);
    const std::vector<std::string> expected = lineReaderRows(path, 3);
    for (std::size_t blockSize : {1, 2, 3, 5, 64}) {
      RequestRows rows;
      rows.load(path, blockSize);
      ASSERT_EQ(rowsOf(rows), expected)
          << ::testing::PrintToString(bytes) << " block " << blockSize;
      ASSERT_EQ(rows.length(), bytes.size());
    }
  }
}

// The invariant that lets a window insert rows instead of reading the log again: after any
// sequence of appends, rewrites and truncations, refresh() leaves exactly the rows of a fresh
// load, and what it reports matches what it changed.
TEST(RequestRowsTest, RefreshAfterAnyHistoryEqualsAFreshLoad) {
  TempDir dir;
  const std::string path = dir.file("HtmlRequest.log");
  std::mt19937 random(4);
  for (int history = 0; history < 150; ++history) {
    std::string content = randomBytes(random, 20);
    dir.write("HtmlRequest.log", content);
    RequestRows rows;
    rows.load(path, 1 + random() % 4);
    for (int step = 0; step < 30; ++step) {
      const std::vector<std::string> before = rowsOf(rows);
      const unsigned what = random() % 10;
      bool rewritten = false;
      if (what < 7) {  // the recorder appends, a CR LF or a line often split over two writes
        const std::string piece = randomBytes(random, what < 4 ? 2 : 12);
        dir.append("HtmlRequest.log", piece);
        content += piece;
      } else if (what == 7 && !content.empty()) {  // cut in place, perhaps written on
        content.resize(random() % content.size());
        content += randomBytes(random, 3);
        dir.write("HtmlRequest.log", content);
        rewritten = true;
      } else if (what == 8 && !content.empty()) {  // one byte rewritten in place
        content[random() % content.size()] ^= 0x20;
        dir.write("HtmlRequest.log", content);
        rewritten = true;
      } else {  // a new file in its place
        content = randomBytes(random, 20);
        dir.write("HtmlRequest.log.new", content);
        std::rename((path + ".new").c_str(), path.c_str());
        rewritten = true;
      }
      const RowsChange change = rows.refresh(path, 1 + random() % 5);
      RequestRows fresh;
      fresh.load(path);
      const std::vector<std::string> after = rowsOf(rows);
      ASSERT_EQ(after, rowsOf(fresh)) << ::testing::PrintToString(content);
      ASSERT_EQ(change.previousSize, before.size());
      // A file only appended to is never read whole again; one that was rewritten may still come
      // out as appended when the bytes read before happen to be unchanged.
      ASSERT_TRUE(rewritten || change.kind != Kind::Replaced);
      if (change.kind == Kind::Replaced) {
        ASSERT_EQ(change.from, 0u);
        continue;
      }
      ASSERT_LE(change.from, before.size());
      ASSERT_GE(change.from + 1, before.size());
      ASSERT_TRUE(std::equal(before.begin(), before.begin() + change.from, after.begin()));
      if (change.kind == Kind::Unchanged) {
        ASSERT_EQ(after, before);
        ASSERT_EQ(change.from, after.size());
      } else {
        ASSERT_TRUE(after.size() > before.size() || after.back() != before.back());
      }
    }
  }
}

TEST(RequestRowsTest, RefreshReportsWhatHappenedAndNoticesChangesAtEitherEnd) {
  TempDir dir;
  const std::string path = dir.file("HtmlRequest.log");
  // Over 8 MiB, where the rows' buffer takes huge pages, and a row longer than the slack a load
  // leaves: the buffer grows under a refresh.
  const std::string big(9 << 20, 'x');
  const std::string grown = "a\r\n" + big + "\r\nbcd\rz" + std::string(100000, 'y');
  dir.write("HtmlRequest.log", "a\r\n" + big + "\r");
  RequestRows rows;
  rows.load(path);
  struct Step {
    const char* name;
    std::string content;  // the whole file after the step
    Kind kind;
    std::size_t from, size;
  };
  const std::vector<Step> steps = {
      {"nothing", "a\r\n" + big + "\r", Kind::Unchanged, 2, 2},
      {"the LF of the last CR", "a\r\n" + big + "\r\n", Kind::Unchanged, 2, 2},
      {"half a row", "a\r\n" + big + "\r\nbc", Kind::Appended, 2, 3},
      {"the rest of it", "a\r\n" + big + "\r\nbcd\rz", Kind::Appended, 2, 4},
      {"a long rest of the last row", grown, Kind::Appended, 3, 4},
      {"a byte in the last 4 KiB", grown.substr(0, grown.size() - 1) + "Y", Kind::Replaced, 0, 4},
      {"the first byte", "A" + grown.substr(1), Kind::Replaced, 0, 4},
      {"cut", "A\r\n", Kind::Replaced, 0, 1},
  };
  for (const Step& step : steps) {
    dir.write("HtmlRequest.log", step.content);
    const RowsChange change = rows.refresh(path);
    EXPECT_EQ(change.kind, step.kind) << step.name;
    EXPECT_EQ(change.from, step.from) << step.name;
    EXPECT_EQ(rows.size(), step.size) << step.name;
  }
  EXPECT_EQ(rows.entry(0), "A");
  std::remove(path.c_str());
  EXPECT_THROW(rows.refresh(path), FileError);
  EXPECT_EQ(rows.size(), 0u);
}

}  // namespace
}  // namespace korva

namespace korva {
namespace {

// A filter goes on over what a refresh appended, and looks again at a row that grew.
// The rows' bytes are read from the file when asked for: from the file that was split, while
// threads read side by side, and never past what a writer cut away since.
TEST(RequestRowsTest, RowsAreReadFromTheFileThatWasSplit) {
  TempDir dir;
  const std::string path = dir.file("HtmlRequest.log");
  std::string log;
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    expected.push_back("row " + std::to_string(i) + std::string(i % 97, 'x'));
    log += expected.back() + "\r\n";
  }
  dir.write("HtmlRequest.log", log);
  RequestRows rows;
  rows.load(path, 512);  // stretches of 512 bytes: many cache slots, taken in turn
  auto readAll = [&] { return rowsOf(rows) == expected; };
  std::vector<std::thread> readers;
  std::vector<char> same(4);
  for (std::size_t t = 0; t < same.size(); ++t)
    readers.emplace_back([&, t] { same[t] = readAll(); });
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(same, std::vector<char>(4, 1));
  // Two rows far apart stay readable side by side.
  const std::string_view first = rows.entry(0), last = rows.entry(2999);
  EXPECT_EQ(first, expected[0]);
  EXPECT_EQ(last, expected[2999]);

  dir.write("next.log", "other\r\n");  // a new log renamed over the old one
  ASSERT_EQ(std::rename(dir.file("next.log").c_str(), path.c_str()), 0);
  EXPECT_TRUE(readAll());
  EXPECT_EQ(rows.refresh(path).kind, Kind::Replaced);
  EXPECT_EQ(rowsOf(rows), std::vector<std::string>{"other"});

  dir.write("HtmlRequest.log", log);
  rows.load(path, 512);
  ASSERT_EQ(::truncate(path.c_str(), 100), 0);  // cut in place, not refreshed yet
  EXPECT_EQ(rows.entry(2000), "");
  EXPECT_EQ(rows.entry(1), expected[1]);
}

TEST(RequestRowsTest, FilterRunContinuesOverRefreshedRows) {
  TempDir dir;
  const std::string path = dir.file("HtmlRequest.log");
  dir.write("HtmlRequest.log", "GET /brot\r\nGET /wurst\r\nGET /br");
  RequestRows rows;
  rows.load(path);
  FilterRun run(rows, RowFilter("brot"));
  EXPECT_TRUE(run.step(100));
  EXPECT_EQ(run.kept(), std::vector<std::uint32_t>{0});
  dir.append("HtmlRequest.log", "ot\r\nGET /käse\r\nGET /brot");
  const RowsChange change = rows.refresh(path);
  ASSERT_EQ(change.from, 2u);
  run.rewind(change.from);
  EXPECT_FALSE(run.finished());
  run.step(100);
  EXPECT_EQ(run.kept(), (std::vector<std::uint32_t>{0, 2, 4}));
  dir.write("HtmlRequest.log", "GET /wurst\r");
  ASSERT_EQ(rows.refresh(path).kind, Kind::Replaced);
  run.rewind(0);
  run.step(100);
  EXPECT_TRUE(run.kept().empty());
}

}  // namespace
}  // namespace korva
