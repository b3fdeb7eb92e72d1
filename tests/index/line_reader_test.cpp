#include "index/line_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "index/file_error.h"
#include "test_util.h"

namespace korva {
namespace {

using testing::TempDir;

struct Line {
  std::string text;
  std::int64_t position;
  bool operator==(const Line& o) const { return text == o.text && position == o.position; }
};
void PrintTo(const Line& l, std::ostream* os) { *os << l.position << ":\"" << l.text << "\""; }

// The line rules written the plainest way: CR LF or a lone CR ends a line.
std::vector<Line> referenceSplit(const std::string& bytes) {
  std::vector<Line> lines;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t start = i;
    while (i < bytes.size() && bytes[i] != '\r') ++i;
    lines.push_back({bytes.substr(start, i - start), static_cast<std::int64_t>(start) + 1});
    if (i < bytes.size()) {
      ++i;
      if (i < bytes.size() && bytes[i] == '\n') ++i;
    }
  }
  return lines;
}

std::vector<Line> readAll(const std::string& path, std::size_t blockSize, bool readAhead = false) {
  LineReader reader(path, blockSize);
  reader.setReadAhead(readAhead);
  std::vector<Line> lines;
  std::string line;
  for (;;) {
    std::int64_t position = reader.position();
    if (!reader.readLine(line)) break;
    lines.push_back({line, position});
  }
  return lines;
}

TEST(LineReaderTest, LineEndsFollowTheLogRules) {
  TempDir dir;
  dir.write("f", "one\r\ntwo\rthree\nstill three\r\n\r\nlast");
  std::vector<Line> expected = {
      {"one", 1}, {"two", 6}, {"three\nstill three", 10}, {"", 29}, {"last", 31}};
  EXPECT_EQ(readAll(dir.file("f"), 1 << 20), expected);
}

TEST(LineReaderTest, AgreesWithPlainSplitForEveryBlockSize) {
  TempDir dir;
  std::mt19937 rng(7);
  const char alphabet[] = {'a', 'b', '\r', '\n'};
  for (int round = 0; round < 300; ++round) {
    std::string bytes(rng() % 60, 'a');
    for (char& c : bytes) c = alphabet[rng() % 4];
    dir.write("f", bytes);
    std::size_t blockSize = 1 + rng() % 9;
    const bool readAhead = round % 2 == 1;
    ASSERT_EQ(readAll(dir.file("f"), blockSize, readAhead), referenceSplit(bytes))
        << "bytes of round " << round << ", block size " << blockSize << ", read-ahead "
        << readAhead;
  }
}

// The divider skip looks only at aligned runs of hyphens: dividers at every offset against the
// block edges, runs one hyphen short or long, lone LFs and CRs in front, and line ends cut by the
// end of a block or of the file.
TEST(LineReaderTest, DividerSkipAgreesWithPlainSplit) {
  TempDir dir;
  std::mt19937 rng(11);
  const std::string divider(47, '-');
  const char* pieces[] = {"\r\n", "\r", "\n", "ab", "-", "----------------"};
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    while (bytes.size() < 40 + rng() % 3000) {
      const unsigned pick = rng() % 10;
      if (pick < 6)
        bytes += pieces[pick];
      else
        bytes += std::string(45 + rng() % 5, '-');  // 45 to 49 hyphens
    }
    dir.write("f", bytes);
    std::vector<std::int64_t> expected;  // the position after each divider with its line end
    for (const Line& l : referenceSplit(bytes)) {
      const std::size_t end = static_cast<std::size_t>(l.position - 1) + l.text.size();
      if (l.text != divider || end == bytes.size()) continue;
      const bool lf = end + 1 < bytes.size() && bytes[end + 1] == '\n';
      expected.push_back(static_cast<std::int64_t>(end) + (lf ? 3 : 2));
    }
    const std::size_t blockSize = round % 3 == 0 ? 1 << 20 : 1 + rng() % 300;
    LineReader reader(dir.file("f"), blockSize);
    reader.setReadAhead(round % 2 == 1);
    std::vector<std::int64_t> got;
    while (reader.skipPastLine(divider)) got.push_back(reader.position());
    ASSERT_EQ(got, expected) << "round " << round << ", block size " << blockSize;
  }
}

TEST(LineReaderTest, HeadKeepsPrefixButReportsFullLength) {
  TempDir dir;
  std::string longLine(100000, 'x');
  dir.write("f", "abcdef\r\n" + longLine + "\r\nz");
  LineReader reader(dir.file("f"), 4096);
  std::string head;
  bool terminated = false;
  EXPECT_EQ(reader.readLineHead(head, 3, terminated), 6);
  EXPECT_EQ(head, "abc");
  EXPECT_TRUE(terminated);
  EXPECT_EQ(reader.readLineHead(head, 10, terminated), 100000);
  EXPECT_EQ(head, "xxxxxxxxxx");
  EXPECT_EQ(reader.readLineHead(head, 10, terminated), 1);
  EXPECT_FALSE(terminated);
  EXPECT_EQ(reader.readLineHead(head, 10, terminated), -1);
}

TEST(LineReaderTest, SeekAndGrowthAfterTheEnd) {
  for (bool readAhead : {false, true}) {
    TempDir dir;
    dir.write("f", "aa\r\nbb\r\n");
    LineReader reader(dir.file("f"), 3);
    reader.setReadAhead(readAhead);
    std::string line;
    reader.seek(5);
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(line, "bb");
    EXPECT_FALSE(reader.readLine(line));
    EXPECT_TRUE(reader.atEnd());
    dir.append("f", "cc\r\n");  // the recorder keeps writing
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(line, "cc");
    reader.seek(1);
    ASSERT_TRUE(reader.readLine(line));
    EXPECT_EQ(line, "aa");
  }
}

TEST(LineReaderTest, TruncationWhileReadingEndsCleanly) {
  for (bool readAhead : {false, true}) {
    TempDir dir;
    dir.write("f", std::string(10000, 'a') + "\r\n" + std::string(10000, 'b') + "\r\n");
    LineReader reader(dir.file("f"), 1024);
    reader.setReadAhead(readAhead);
    std::string line;
    ASSERT_TRUE(reader.readLine(line));
    ASSERT_EQ(::truncate(dir.file("f").c_str(), 100), 0);
    // What was already buffered or read ahead may still come; then the reader sees the new end
    // and stops, and says the file changed under it.
    int more = 0;
    while (reader.readLine(line)) ASSERT_LT(++more, 2);
    EXPECT_FALSE(reader.readLine(line));
    EXPECT_TRUE(reader.changedUnderneath());
  }
}

TEST(LineReaderTest, MissingFileAndFolderGiveGermanErrors) {
  TempDir dir;
  try {
    LineReader reader(dir.file("missing"));
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Datei nicht gefunden: " + dir.file("missing"));
  }
  EXPECT_THROW(LineReader reader(dir.path()), FileError);
  EXPECT_THROW(fileLength(dir.path()), FileError);
}

TEST(LineReaderTest, ReadBytesAtIsOneBasedAndShortNearTheEnd) {
  TempDir dir;
  dir.write("f", "0123456789");
  EXPECT_EQ(readBytesAt(dir.file("f"), 1, 3), "012");
  EXPECT_EQ(readBytesAt(dir.file("f"), 9, 24), "89");
  EXPECT_EQ(readBytesAt(dir.file("f"), 20, 24), "");
  EXPECT_EQ(fileLength(dir.file("f")), 10);
}

}  // namespace
}  // namespace korva
