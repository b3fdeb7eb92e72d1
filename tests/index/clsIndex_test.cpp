#include "index/clsIndex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <vector>

#include "index/file_error.h"
#include "test_util.h"

namespace korva {
namespace {

using testing::kDividerLine;
using testing::makeBlock;
using testing::makeKey;
using testing::makeRequestLine;
using testing::TempDir;

class RecordingReporter : public ErrorReporter {
 public:
  void reportError(const std::string& text) override { reports.push_back(text); }
  std::vector<std::string> reports;
};

// A log folder with n requests and their blocks; remembers each block's position.
class LogFolder {
 public:
  void add(int from, int to, const std::string& body = "<p>x</p>\r\n") {
    for (int i = from; i < to; ++i) {
      positions.push_back(static_cast<std::int64_t>(response.size()) + 1);
      response += makeBlock(makeKey(i), body);
      request += makeRequestLine(makeKey(i));
    }
    flush();
  }
  void flush() {
    dir.write("HtmlRequest.log", request);
    dir.write("HtmlResponse.log", response);
  }
  std::string indexFile() const {
    std::string out;
    for (std::size_t i = 0; i < positions.size(); ++i)
      out += makeKey(static_cast<int>(i)) + " - " + std::to_string(positions[i]) + "\r\n";
    return out;
  }
  TempDir dir;
  std::string request, response;
  std::vector<std::int64_t> positions;
};

TEST(ClsIndexTest, FreshBuildIndexesEveryBlockAndSavesInOrder) {
  LogFolder logs;
  logs.add(0, 50);
  {
    clsIndex index(logs.dir.path());
    EXPECT_EQ(index.size(), 0u);
    EXPECT_FALSE(index.InitializeIndex());
    EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Rebuilt);
    EXPECT_FALSE(index.InBuildIndex());
    EXPECT_EQ(index.QueryIndex(makeKey(0)), 1);
    EXPECT_EQ(index.QueryIndex(makeKey(49)), logs.positions[49]);
    EXPECT_EQ(index.QueryIndex("not a key"), 0);
    EXPECT_TRUE(index.InitializeIndex());  // now current: the newest block is indexed
    EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Current);
  }
  EXPECT_EQ(logs.dir.read("HtmlResponse.idx"), logs.indexFile());
  clsIndex reloaded(logs.dir.path());
  EXPECT_EQ(reloaded.size(), 50u);
  EXPECT_TRUE(reloaded.InitializeIndex());
}

TEST(ClsIndexTest, LookupsIgnoreLetterCaseIncludingLatinLetters) {
  TempDir dir;
  std::string key = "Abc\xC4\xD6\xDC-request-000000001";  // ÄÖÜ in Windows-1252
  key.resize(24, 'x');
  dir.write("HtmlResponse.log", makeBlock(key));
  dir.write("HtmlRequest.log", makeRequestLine(key));
  clsIndex index(dir.path());
  index.InitializeIndex();
  std::string lower = "abc\xE4\xF6\xFC-REQUEST-000000001";
  lower.resize(24, 'X');
  EXPECT_EQ(index.QueryIndex(lower), 1);
}

TEST(ClsIndexTest, ResumeAddsOnlyNewBlocksAndMatchesAFreshBuild) {
  LogFolder logs;
  logs.add(0, 10);
  clsIndex index(logs.dir.path());
  index.InitializeIndex();
  logs.add(10, 25);
  EXPECT_FALSE(index.InitializeIndex());
  EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Resumed);
  logs.add(25, 26);
  index.InitializeIndex();

  TempDir copy;
  copy.write("HtmlRequest.log", logs.request);
  copy.write("HtmlResponse.log", logs.response);
  clsIndex fresh(copy.path());
  fresh.InitializeIndex();
  ASSERT_EQ(index.size(), fresh.size());
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    EXPECT_EQ(index.entries()[i].keyView(), fresh.entries()[i].keyView());
    EXPECT_EQ(index.entries()[i].position(), fresh.entries()[i].position());
  }
  // The entries of all three builds, written in the order they were added.
  ASSERT_TRUE(index.SaveIndex());
  EXPECT_EQ(logs.dir.read("HtmlResponse.idx"), logs.indexFile());
}

// A current index whose file holds exactly what a save writes is not written again (the file
// stays the same one); a file that a save would change is replaced by the written form.
TEST(ClsIndexTest, SavingACurrentIndexRewritesOnlyAFileThatDiffersFromItsWrittenForm) {
  LogFolder logs;
  logs.add(0, 4);
  const std::string written = logs.indexFile();
  std::string padded = written;
  padded.insert(written.find(" - ") + 3, "0");  // a leading zero: the same position
  const std::string lastLineCrOnly = written.substr(0, written.size() - 1);
  for (const std::string& file : {written, padded, lastLineCrOnly}) {
    logs.dir.write("HtmlResponse.idx", file);
    struct stat before;
    ASSERT_EQ(::stat(logs.dir.file("HtmlResponse.idx").c_str(), &before), 0);
    clsIndex index(logs.dir.path());
    EXPECT_TRUE(index.InitializeIndex());
    ASSERT_TRUE(index.SaveIndex());
    struct stat after;
    ASSERT_EQ(::stat(logs.dir.file("HtmlResponse.idx").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, file == written) << file;
    EXPECT_EQ(logs.dir.read("HtmlResponse.idx"), written);
  }
}

TEST(ClsIndexTest, ReplacedLogIsRebuiltFromTheStart) {
  LogFolder logs;
  logs.add(0, 10);
  {
    clsIndex index(logs.dir.path());
    index.InitializeIndex();
  }
  // A new recording session: different keys, and the old last position holds something else.
  LogFolder other;
  other.add(100, 103);
  logs.dir.write("HtmlResponse.log", other.response);
  logs.dir.write("HtmlRequest.log", other.request);
  clsIndex index(logs.dir.path());
  EXPECT_FALSE(index.InitializeIndex());
  EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Rebuilt);
  EXPECT_EQ(index.size(), 3u);
  EXPECT_EQ(index.QueryIndex(makeKey(0)), 0);
  EXPECT_EQ(index.QueryIndex(makeKey(100)), 1);
  // The loaded entries and their lines are gone with the rebuild; only the new ones are saved.
  std::string lines;
  for (int i = 0; i < 3; ++i)
    lines += makeKey(100 + i) + " - " + std::to_string(other.positions[i]) + "\r\n";
  ASSERT_TRUE(index.SaveIndex());
  EXPECT_EQ(logs.dir.read("HtmlResponse.idx"), lines);
}

TEST(ClsIndexTest, UnfinishedBlockIsIndexedThenSkippedOnResume) {
  TempDir dir;
  std::string a = makeBlock(makeKey(1));
  std::string partial = makeKey(2) + "\r\n<html>\r\n";
  dir.write("HtmlResponse.log", a + partial);
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
  clsIndex index(dir.path());
  index.InitializeIndex();
  EXPECT_EQ(index.QueryIndex(makeKey(2)), static_cast<std::int64_t>(a.size()) + 1);
  // The recorder finishes the block and writes another; the body line "KEY3" inside block 2
  // must not be taken for an opening line.
  dir.append("HtmlResponse.log", makeKey(3) + "\r\nHTTP/1.1 200 OK         \r\n" + kDividerLine +
                                     "\r\n" + makeBlock(makeKey(4)));
  dir.append("HtmlRequest.log", makeRequestLine(makeKey(4)));
  index.InitializeIndex();
  EXPECT_EQ(index.size(), 3u);
  EXPECT_EQ(index.QueryIndex(makeKey(3)), 0);
  EXPECT_GT(index.QueryIndex(makeKey(4)), 0);
}

TEST(ClsIndexTest, OpeningLineStillBeingWrittenWaitsForItsEnd) {
  TempDir dir;
  std::string a = makeBlock(makeKey(1));
  dir.write("HtmlResponse.log", a + makeKey(2).substr(0, 10));
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(2)));
  clsIndex index(dir.path());
  index.InitializeIndex();
  EXPECT_EQ(index.size(), 1u);
  dir.append("HtmlResponse.log", makeKey(2).substr(10) + "\r\n");
  index.InitializeIndex();
  EXPECT_EQ(index.QueryIndex(makeKey(2)), static_cast<std::int64_t>(a.size()) + 1);
}

TEST(ClsIndexTest, DuplicateAndCaseVariantKeysAreReportedTwiceAndFirstWins) {
  TempDir dir;
  std::string key = makeKey(7);
  std::string upper = key;
  upper[9] = 'r';  // "REQ" -> "rEQ": differs only in letter case
  std::string first = makeBlock(key);
  dir.write("HtmlResponse.log", first + makeBlock(key) + makeBlock(upper) + makeBlock(makeKey(8)));
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(8)));
  RecordingReporter reporter;
  clsIndex index(dir.path(), &reporter);
  index.InitializeIndex();
  EXPECT_EQ(index.size(), 2u);
  EXPECT_EQ(index.QueryIndex(upper), 1);
  ASSERT_EQ(reporter.reports.size(), 4u);
  EXPECT_EQ(reporter.reports[0], std::string(kDuplicateKeyDescription) + "\r\n\r\n" + key);
  EXPECT_EQ(reporter.reports[1], reporter.reports[0]);
  EXPECT_EQ(reporter.reports[2], std::string(kDuplicateKeyDescription) + "\r\n\r\n" + upper);
}

TEST(ClsIndexTest, CancelAtFirstProgressKeepsWhatWasIndexedAndSavesIt) {
  LogFolder logs;
  logs.add(0, 500);
  {
    clsIndex index(logs.dir.path());
    int events = 0;
    index.Progress = [&](std::uint8_t&, bool& cancel) {
      ++events;
      EXPECT_TRUE(index.InBuildIndex());
      cancel = true;
    };
    EXPECT_FALSE(index.InitializeIndex());
    EXPECT_EQ(events, 1);
    EXPECT_FALSE(index.InBuildIndex());
    EXPECT_GT(index.size(), 0u);
    EXPECT_LT(index.size(), 500u);
  }
  clsIndex reloaded(logs.dir.path());
  EXPECT_GT(reloaded.size(), 0u);
  EXPECT_LT(reloaded.size(), 500u);
  reloaded.InitializeIndex();  // resumes from the saved part
  EXPECT_EQ(reloaded.lastOutcome(), clsIndex::Outcome::Resumed);
  EXPECT_EQ(reloaded.size(), 500u);
}

TEST(ClsIndexTest, ProgressOnlyOnChangeAndCarriedOverBetweenBuilds) {
  LogFolder logs;
  logs.add(0, 1000);
  clsIndex index(logs.dir.path());
  std::vector<int> seen;
  index.Progress = [&](std::uint8_t& pct, bool&) { seen.push_back(pct); };
  index.InitializeIndex();
  ASSERT_FALSE(seen.empty());
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_LE(seen.size(), 101u);
  // The appended block is at 100% again: the same percentage raises no event.
  seen.clear();
  logs.add(1000, 1001);
  index.InitializeIndex();
  EXPECT_TRUE(seen.empty());
  EXPECT_GT(index.QueryIndex(makeKey(1000)), 0);
  // Another log of the same length is rebuilt from its start, with every percentage again.
  LogFolder other;
  other.add(5000, 6001);
  ASSERT_EQ(other.response.size(), logs.response.size());
  logs.dir.write("HtmlResponse.log", other.response);
  logs.dir.write("HtmlRequest.log", other.request);
  index.InitializeIndex();
  EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Rebuilt);
  ASSERT_FALSE(seen.empty());
  EXPECT_LE(seen.front(), 1);
  EXPECT_EQ(seen.back(), 100);
}

// A progress handler may look up every block read so far, also in a log big enough to be indexed
// on two threads; a cancel there keeps exactly those blocks, and a repeated key is reported.
TEST(ClsIndexTest, ProgressSeesEveryBlockReadSoFar) {
  struct Case {
    int blocks;
    std::size_t body;
    int cancelAt;  // progress event, -1 none
  };
  for (const Case c : {Case{1'000, 10, -1}, Case{40'000, 250, -1}, Case{40'000, 250, 60}}) {
    SCOPED_TRACE(c.blocks + c.cancelAt);
    LogFolder logs;
    logs.add(0, c.blocks, std::string(c.body, 'x') + "\r\n");
    logs.response += makeBlock(makeKey(c.blocks / 2));  // a repeat at the end
    logs.flush();
    const double length = static_cast<double>(logs.response.size());
    RecordingReporter reporter;
    clsIndex index(logs.dir.path(), &reporter);
    int events = 0;
    std::size_t atCancel = 0;
    index.Progress = [&](std::uint8_t& percent, bool& cancel) {
      const std::size_t n = index.size();
      ASSERT_GT(n, 0u);
      // The last block indexed is the one this event is for.
      EXPECT_EQ(std::nearbyint(static_cast<double>(logs.positions[n - 1]) / length * 100), percent);
      for (std::size_t i = 0; i < n; i += 97)
        ASSERT_EQ(index.QueryIndex(makeKey(static_cast<int>(i))), logs.positions[i]) << i;
      ASSERT_EQ(index.QueryIndex(makeKey(static_cast<int>(n - 1))), logs.positions[n - 1]);
      if (events++ == c.cancelAt) {
        cancel = true;
        atCancel = n;
      }
    };
    index.InitializeIndex();
    if (c.cancelAt >= 0) {
      EXPECT_EQ(index.size(), atCancel);
      EXPECT_EQ(index.QueryIndex(makeKey(static_cast<int>(atCancel))), 0);
      EXPECT_TRUE(reporter.reports.empty());
    } else {
      EXPECT_EQ(index.size(), static_cast<std::size_t>(c.blocks));
      EXPECT_EQ(reporter.reports.size(), 2u);
    }
  }
}

// A build big enough for the feeder writes its entries as it goes; whatever follows it (more
// blocks, a cancel, a replaced log, a release without saving), the file saved holds exactly the
// entries, and no temporary file stays behind.
TEST(ClsIndexTest, StreamedBuildSavesExactlyTheEntries) {
  enum class Then { Save, GrowThenSave, CancelThenSave, ReplaceThenSave, DropUnsaved };
  const std::string temp = std::string(kIndexFileName) + "." + std::to_string(::getpid()) + ".tmp";
  for (const Then then : {Then::Save, Then::GrowThenSave, Then::CancelThenSave,
                          Then::ReplaceThenSave, Then::DropUnsaved}) {
    SCOPED_TRACE(static_cast<int>(then));
    LogFolder logs;
    const std::string body = std::string(250, 'y') + "\r\n";
    logs.add(0, 40'000, body);
    std::size_t kept = 40'000;
    {
      clsIndex index(logs.dir.path());
      index.Progress = [&](std::uint8_t& percent, bool& cancel) {
        cancel = then == Then::CancelThenSave && percent >= 50;
      };
      index.InitializeIndex();
      EXPECT_TRUE(logs.dir.exists(temp));  // the stream
      if (then == Then::CancelThenSave) kept = index.size();
      if (then == Then::GrowThenSave) {
        logs.add(40'000, 40'010, body);
        index.InitializeIndex();
        kept = 40'010;
      }
      if (then == Then::ReplaceThenSave) {  // a new log under the same names: rebuilt
        logs.request.clear();
        logs.response.clear();
        logs.positions.clear();
        logs.add(0, 30, "<p>other</p>\r\n");
        index.InitializeIndex();
        EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Rebuilt);
        kept = 30;
      }
      if (then == Then::DropUnsaved) index.setSaveOnRelease(false);
    }
    EXPECT_FALSE(logs.dir.exists(temp));
    if (then == Then::DropUnsaved) {
      EXPECT_FALSE(logs.dir.exists(kIndexFileName));
      continue;
    }
    const std::string all = logs.indexFile();
    std::size_t end = 0;
    for (std::size_t i = 0; i < kept; ++i) end = all.find("\r\n", end) + 2;
    const std::string saved = logs.dir.read(kIndexFileName);
    EXPECT_TRUE(saved == all.substr(0, end)) << saved.size() << " bytes, expected " << end;
  }
}

TEST(ClsIndexTest, EmptyResponseLogRaisesNothing) {
  TempDir dir;
  dir.write("HtmlResponse.log", "");
  dir.write("HtmlRequest.log", "");
  clsIndex index(dir.path());
  int events = 0;
  index.Progress = [&](std::uint8_t&, bool&) { ++events; };
  EXPECT_FALSE(index.InitializeIndex());
  EXPECT_EQ(events, 0);
  EXPECT_EQ(index.size(), 0u);
}

TEST(ClsIndexTest, LastRequestKeyRules) {
  LogFolder logs;
  logs.add(0, 3);
  clsIndex index(logs.dir.path());
  index.InitializeIndex();
  // Without the final CR LF the last line still counts.
  logs.dir.write("HtmlRequest.log", logs.request.substr(0, logs.request.size() - 2));
  EXPECT_TRUE(index.InitializeIndex());
  // An empty last line gives a key that matches nothing: every refresh builds (and finds nothing).
  logs.dir.write("HtmlRequest.log", logs.request + "\r\n");
  EXPECT_FALSE(index.InitializeIndex());
  EXPECT_EQ(index.size(), 3u);
  // A single line: no CR LF before it, so the key is empty.
  logs.dir.write("HtmlRequest.log", makeRequestLine(makeKey(2)));
  EXPECT_FALSE(index.InitializeIndex());
  logs.dir.write("HtmlRequest.log", "ab\r");
  EXPECT_FALSE(index.InitializeIndex());
  EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Resumed);
}

TEST(ClsIndexTest, LastRequestKeyFoundBehindAVeryLongLine) {
  LogFolder logs;
  logs.add(0, 2);
  logs.dir.write("HtmlRequest.log", std::string(300000, 'q') + "\r\n" +
                                        makeRequestLine(makeKey(1)) + std::string(200000, 'z'));
  clsIndex index(logs.dir.path());
  index.InitializeIndex();
  logs.dir.write("HtmlRequest.log",
                 std::string(300000, 'q') + "\r\n" + makeKey(1) + " - " + std::string(200000, 'z'));
  EXPECT_TRUE(index.InitializeIndex());
}

TEST(ClsIndexTest, MissingFilesAreReportedWhereTheyBelong) {
  TempDir dir;
  RecordingReporter reporter;
  clsIndex index(dir.path(), &reporter);
  EXPECT_THROW(index.InitializeIndex(), FileError);  // request log missing: the caller reports
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
  EXPECT_FALSE(index.InitializeIndex());  // response log missing inside the build: reported
  EXPECT_FALSE(index.InBuildIndex());
  EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Failed);
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_NE(reporter.reports[0].find("Datei nicht gefunden"), std::string::npos);
}

TEST(ClsIndexTest, MissingResponseLogWhileCheckingTheNewestThrowsAndKeepsTheIndex) {
  LogFolder logs;
  logs.add(0, 3);
  clsIndex index(logs.dir.path());
  index.InitializeIndex();
  ::unlink(logs.dir.file("HtmlResponse.log").c_str());
  EXPECT_THROW(index.InitializeIndex(), FileError);
  EXPECT_EQ(index.size(), 3u);
}

TEST(ClsIndexTest, EmptyIndexLeavesAnExistingFileUntouched) {
  TempDir dir;
  dir.write("HtmlResponse.idx", "garbage that is not an index");
  { clsIndex index(dir.path()); }
  EXPECT_EQ(dir.read("HtmlResponse.idx"), "garbage that is not an index");
}

TEST(ClsIndexTest, MalformedIndexFilesLoadWithoutHarm) {
  TempDir dir;
  std::string k1 = makeKey(1), k2 = makeKey(2), k3 = makeKey(3);
  std::string binary("\x00\xff\xfe\r\x01\x02", 6);
  dir.write("HtmlResponse.idx", k1 + " - 11\r\n" + k1 + " - 99\r\n" + k2 + " - x12\r\n" +
                                    "short\r\n" + binary + "\r\n" + k3 + " -  4 2junk\r\n" + k2 +
                                    " - " + std::string(30, '9') + "\r\n" + k2 + " - 77");
  clsIndex index(dir.path());
  EXPECT_EQ(index.QueryIndex(k1), 11);  // a repeated key keeps its first entry
  EXPECT_EQ(index.QueryIndex(k3), 42);  // blanks inside the number are skipped
  EXPECT_EQ(index.QueryIndex(k2), 77);  // unreadable positions count as absent
  EXPECT_EQ(index.size(), 3u);
}

TEST(ClsIndexTest, IndexThatIsAFolderIsReportedAndStartsEmpty) {
  LogFolder logs;
  logs.add(0, 2);
  ASSERT_EQ(::mkdir(logs.dir.file("HtmlResponse.idx").c_str(), 0755), 0);
  RecordingReporter reporter;
  clsIndex index(logs.dir.path(), &reporter);
  EXPECT_EQ(reporter.reports.size(), 1u);
  index.InitializeIndex();
  EXPECT_EQ(index.size(), 2u);
  EXPECT_FALSE(index.SaveIndex());  // cannot replace a folder; nothing breaks
}

TEST(ClsIndexTest, FailedSaveLeavesTheOldFileIntact) {
  LogFolder logs;
  logs.add(0, 5);
  logs.dir.write("HtmlResponse.idx", "old\r\n");
  clsIndex index(logs.dir.path());
  index.InitializeIndex();
  // The temporary file cannot be created when a folder has its name.
  std::string temp = logs.dir.file("HtmlResponse.idx." + std::to_string(::getpid()) + ".tmp");
  ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0);
  EXPECT_FALSE(index.SaveIndex());
  EXPECT_EQ(logs.dir.read("HtmlResponse.idx"), "old\r\n");
  ::rmdir(temp.c_str());
}

TEST(ClsIndexTest, SaveReplacesAtomicallyAndClearsStaleTempFiles) {
  LogFolder logs;
  logs.add(0, 5);
  logs.dir.write("HtmlResponse.idx.999999999.tmp", "left by a killed save");
  logs.dir.write("HtmlResponse.idx.notes.tmp", "not ours");
  {
    clsIndex index(logs.dir.path());
    index.InitializeIndex();
  }
  EXPECT_EQ(logs.dir.read("HtmlResponse.idx"), logs.indexFile());
  EXPECT_FALSE(logs.dir.exists("HtmlResponse.idx.999999999.tmp"));
  EXPECT_TRUE(logs.dir.exists("HtmlResponse.idx.notes.tmp"));
  EXPECT_FALSE(logs.dir.exists("HtmlResponse.idx." + std::to_string(::getpid()) + ".tmp"));
}

TEST(ClsIndexTest, PositionsBeyondFourGigabytes) {
  TempDir dir;
  // A sparse log: a hole of 5 GiB of zero bytes, then two blocks. The index already knows the
  // first of them, so the build resumes there instead of reading the hole.
  const std::int64_t hole = 5LL << 30;
  std::string tail = makeBlock(makeKey(2)) + makeBlock(makeKey(3));
  dir.write("HtmlResponse.log", "");
  int fd = ::open(dir.file("HtmlResponse.log").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), hole), static_cast<ssize_t>(tail.size()));
  ::close(fd);
  const std::int64_t second = hole + 1;
  const std::int64_t third = second + static_cast<std::int64_t>(makeBlock(makeKey(2)).size());
  dir.write("HtmlResponse.idx", makeKey(2) + " - " + std::to_string(second) + "\r\n");
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(2)) + makeRequestLine(makeKey(3)));
  {
    clsIndex index(dir.path());
    EXPECT_EQ(index.QueryIndex(makeKey(2)), second);
    EXPECT_FALSE(index.InitializeIndex());
    EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Resumed);
    EXPECT_EQ(index.QueryIndex(makeKey(3)), third);
    EXPECT_TRUE(index.InitializeIndex());
  }
  EXPECT_EQ(dir.read("HtmlResponse.idx"), makeKey(2) + " - " + std::to_string(second) + "\r\n" +
                                              makeKey(3) + " - " + std::to_string(third) + "\r\n");
}

}  // namespace
}  // namespace korva
