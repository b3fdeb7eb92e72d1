// Whatever the three files hold, and whatever stands where they should be: each case ends in a
// German message or a defined result, memory stays bounded, and the same engine works again once
// the folder is sound.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fuzz/log_model.h"
#include "hardening/hardening_util.h"
#include "index/codec.h"
#include "index/file_error.h"
#include "index/line_reader.h"
#include "view/html_filters.h"
#include "view/retrieval.h"
#include "view/text_decode.h"

namespace korva {
namespace {

using testing::entriesOf;
using testing::FastWriter;
using testing::freshBuildOf;
using testing::generationBody;
using testing::generationKey;
using testing::kDividerLine;
using testing::kUnderSanitizer;
using testing::makeBlock;
using testing::makeRequestLine;
using testing::runInChild;
using testing::TempDir;
using testing::writeGeneration;

constexpr const char* kFileNames[] = {"HtmlRequest.log", "HtmlResponse.log", "HtmlResponse.idx"};

class RecordingReporter : public ErrorReporter {
 public:
  void reportError(const std::string& text) override { reports.push_back(text); }
  std::vector<std::string> reports;
};

// What InitializeIndex tells the user: the error the refresh shows, and the build's boxes.
struct Told {
  std::string thrown;
  std::vector<std::string> reports;
};

Told initialize(clsIndex& index, RecordingReporter& reporter) {
  Told told;
  const std::size_t before = reporter.reports.size();
  try {
    index.InitializeIndex();
  } catch (const FileError& e) {
    told.thrown = e.what();
  }
  told.reports.assign(reporter.reports.begin() + static_cast<std::ptrdiff_t>(before),
                      reporter.reports.end());
  return told;
}

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

// After the hostile case the folder is made sound; the same engine must then index it right.
void expectUsableAgain(clsIndex& index, const TempDir& dir) {
  for (const char* name : kFileNames) testing::removeTree(dir.file(name));
  writeGeneration(dir.path(), 7, 300);
  index.Progress = nullptr;
  try {
    index.InitializeIndex();
  } catch (const FileError& e) {
    FAIL() << "still failing: " << e.what();
  }
  EXPECT_FALSE(index.InBuildIndex());
  EXPECT_EQ(entriesOf(index), freshBuildOf(dir.path()));
  const std::string key = generationKey(7, 123);
  const RetrievedResponse r =
      retrieveResponse(dir.file("HtmlResponse.log"), key, index.QueryIndex(key));
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.body, generationBody(7, 123));
}

TEST(HostileInput, BinaryGarbageAsEachOfTheThreeFiles) {
  for (const char* name : kFileNames) {
    SCOPED_TRACE(name);
    TempDir dir;
    writeGeneration(dir.path(), 1, 2000);
    const std::string garbage = randomBytes(3 << 20, 7);
    dir.write(name, garbage);
    RecordingReporter reporter;
    clsIndex index(dir.path(), &reporter);
    if (std::string(name) == "HtmlResponse.idx") {
      EXPECT_EQ(entriesOf(index).size(), model::load(garbage).entries.size());
    }
    const Told told = initialize(index, reporter);
    EXPECT_EQ(told.thrown, "");
    for (const std::string& r : told.reports) {  // only duplicate keys of the garbage log
      EXPECT_EQ(r.rfind(kDuplicateKeyDescription, 0), 0u) << r;
      EXPECT_TRUE(isValidUtf8(r));
    }
    if (std::string(name) == "HtmlResponse.log") {
      std::vector<std::pair<std::string, std::int64_t>> expected;
      for (const model::Entry& e : model::build(garbage).table.entries)
        expected.emplace_back(e.key, e.position);
      EXPECT_EQ(entriesOf(index), expected);
      // A listed request is not in the garbage: not found, from any position.
      const RetrievedResponse r = retrieveResponse(dir.file(name), generationKey(1, 5), 1234);
      EXPECT_FALSE(r.found);
    } else {
      EXPECT_EQ(entriesOf(index), freshBuildOf(dir.path()));
      EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Rebuilt);
    }
    expectUsableAgain(index, dir);
  }
}

TEST(HostileInput, ZeroBytesInKeysBodiesAndTheIndex) {
  TempDir dir;
  std::string key(24, '\0');
  key[5] = 'k';
  const std::string body = std::string("a\0b", 3) + "\r\n" + std::string(1000, '\0') + "\r\n";
  dir.write("HtmlResponse.log", makeBlock("first-block-key-00000001") + makeBlock(key, body));
  dir.write("HtmlRequest.log", makeRequestLine("first-block-key-00000001") + makeRequestLine(key));
  {
    clsIndex index(dir.path());
    EXPECT_FALSE(index.InitializeIndex());
    ASSERT_EQ(index.size(), 2u);
    EXPECT_GT(index.QueryIndex(key), 1);
    EXPECT_TRUE(index.InitializeIndex());  // the key with zero bytes validates as the newest
    const RetrievedResponse r =
        retrieveResponse(dir.file("HtmlResponse.log"), key, index.QueryIndex(key));
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(StripComments(StripJavaScript(r.body)), body);
    const std::u16string shown = decodeBody(r.body);
    EXPECT_EQ(shown.substr(0, 3), u"a\u2400b");
    EXPECT_EQ(shown.find(u'\0'), std::u16string::npos);
  }
  // The saved index keeps the zero bytes of the key.
  clsIndex reloaded(dir.path());
  EXPECT_GT(reloaded.QueryIndex(key), 1);
  EXPECT_TRUE(reloaded.InitializeIndex());
}

// A 200 MB file of zero bytes without any line end, made sparse so it costs no disk time.
void writeSparseLine(const std::string& path, std::int64_t bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, bytes), 0);
  ::close(fd);
}

constexpr std::int64_t kHugeLine = 200ll << 20;

TEST(HostileInput, A200MegabyteLineWithoutLineEndInEachFile) {
  for (const char* name : kFileNames) {
    SCOPED_TRACE(name);
    TempDir dir;
    writeGeneration(dir.path(), 1, 50);
    writeSparseLine(dir.file(name), kHugeLine);
    const testing::ChildOutcome outcome = runInChild(
        [&]() -> std::string {
          RecordingReporter reporter;
          clsIndex index(dir.path(), &reporter);
          index.setSaveOnRelease(false);
          if (index.size() != 0) return "entries from a file without line end";
          const Told told = initialize(index, reporter);
          if (!told.thrown.empty() || !told.reports.empty()) return "error: " + told.thrown;
          // An opening line that never ends is not indexed; the key of a request log without
          // CR LF is empty. Either way the other files are indexed as usual.
          if (std::string(name) == "HtmlResponse.log") {
            if (index.size() != 0) return "an opening line without end was indexed";
            if (retrieveResponse(dir.file(name), generationKey(1, 3), 0).found)
              return "found a block in a file of zero bytes";
          } else if (entriesOf(index) != freshBuildOf(dir.path())) {
            return "index differs from a fresh build";
          }
          return "";
        },
        120);
    EXPECT_TRUE(outcome.finished) << outcome.message;
    EXPECT_EQ(outcome.message, "");
    // No copy of the line is made: a build or a load keeps only the head of each line, and a
    // load sizes its table by the lines that hold entries, of which there are none.
    if (!kUnderSanitizer) {
      EXPECT_LT(outcome.rssGrowthKb, 48 * 1024);
    }
    std::printf("[ measured ] 200 MB line as %s: %.2f s, peak RSS growth %ld KB\n", name,
                outcome.seconds, outcome.rssGrowthKb);
  }
}

TEST(HostileInput, A200MegabyteBodyLineIsShownWithBoundedMemory) {
  TempDir dir;
  const std::string key = generationKey(1, 1);
  {
    FastWriter out(dir.file("HtmlResponse.log"));
    out.write(makeBlock(generationKey(1, 0)) + key + "\r\n");
  }
  const std::int64_t bodyStart = static_cast<std::int64_t>(makeBlock(generationKey(1, 0)).size()) +
                                 static_cast<std::int64_t>(key.size()) + 2;
  ASSERT_EQ(::truncate(dir.file("HtmlResponse.log").c_str(), bodyStart + kHugeLine), 0);
  dir.append("HtmlResponse.log", "\r\nHTTP/1.1 200 OK         \r\n" + kDividerLine + "\r\n");
  dir.write("HtmlRequest.log", makeRequestLine(generationKey(1, 0)) + makeRequestLine(key));
  const testing::ChildOutcome outcome = runInChild(
      [&]() -> std::string {
        clsIndex index(dir.path());
        index.setSaveOnRelease(false);
        index.InitializeIndex();
        if (index.size() != 2) return "expected two entries";
        if (!index.InitializeIndex()) return "newest block did not validate";
        const RetrievedResponse r =
            retrieveResponse(dir.file("HtmlResponse.log"), key, index.QueryIndex(key));
        if (!r.found || static_cast<std::int64_t>(r.body.size()) != kHugeLine + 2)
          return "body of " + std::to_string(r.body.size()) + " bytes";
        if (r.body.find_first_not_of('\0') != static_cast<std::size_t>(kHugeLine))
          return "body content differs";
        return "";
      },
      120);
  EXPECT_TRUE(outcome.finished) << outcome.message;
  EXPECT_EQ(outcome.message, "");
  // The body itself is 200 MB, and it is the only copy of the line: no line buffer beside it.
  if (!kUnderSanitizer) {
    EXPECT_LT(outcome.rssGrowthKb, (kHugeLine >> 10) * 5 / 4 + 32 * 1024);
  }
  std::printf("[ measured ] 200 MB body line shown: %.2f s, peak RSS growth %ld KB\n",
              outcome.seconds, outcome.rssGrowthKb);
}

TEST(HostileInput, ResponseLogOfOnlyDividers) {
  TempDir dir;
  constexpr int kLines = 200000;
  {
    FastWriter out(dir.file("HtmlResponse.log"));
    for (int i = 0; i < kLines; ++i) out.write(kDividerLine + "\r\n");
  }
  dir.write("HtmlRequest.log", makeRequestLine(generationKey(1, 1)));
  RecordingReporter reporter;
  clsIndex index(dir.path(), &reporter);
  const Told told = initialize(index, reporter);
  EXPECT_EQ(told.thrown, "");
  // Every other line opens a block, all under the same 24 hyphens: the first is indexed, each
  // later one is refused by both tables.
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index.QueryIndex(std::string(24, '-')), 1);
  EXPECT_EQ(told.reports.size(), 2u * (kLines / 2 - 1));
  EXPECT_EQ(told.reports.front(),
            std::string(kDuplicateKeyDescription) + "\r\n\r\n" + std::string(24, '-'));
  EXPECT_FALSE(retrieveResponse(dir.file("HtmlResponse.log"), generationKey(1, 1), 0).found);
  expectUsableAgain(index, dir);
}

TEST(HostileInput, AMillionEmptyLinesInEachFile) {
  for (const char* name : kFileNames) {
    SCOPED_TRACE(name);
    TempDir dir;
    writeGeneration(dir.path(), 1, 100);
    {
      FastWriter out(dir.file(name));
      for (int i = 0; i < 1000000; ++i) out.write("\r\n");
    }
    RecordingReporter reporter;
    clsIndex index(dir.path(), &reporter);
    EXPECT_EQ(index.size(), 0u);
    const Told told = initialize(index, reporter);
    EXPECT_EQ(told.thrown, "");
    EXPECT_TRUE(told.reports.empty());
    if (std::string(name) == "HtmlResponse.log") {
      // The first line opens a block with an empty key; no divider ever follows.
      ASSERT_EQ(index.size(), 1u);
      EXPECT_EQ(index.entries()[0].keyLength(), 0u);
      EXPECT_EQ(index.entries()[0].position(), 1);
    } else {
      EXPECT_EQ(entriesOf(index), freshBuildOf(dir.path()));
    }
    expectUsableAgain(index, dir);
  }
}

TEST(HostileInput, KeysWithEveryByteFrom0x80To0xFF) {
  TempDir dir;
  std::vector<std::string> keys;
  for (int first = 0x80; first < 0x100; first += 24) {
    std::string key;
    for (int b = first; b < first + 24; ++b) key.push_back(static_cast<char>(b < 0x100 ? b : 'x'));
    keys.push_back(key);
  }
  std::string log, requests;
  std::vector<std::int64_t> positions;
  for (const std::string& key : keys) {
    positions.push_back(static_cast<std::int64_t>(log.size()) + 1);
    log += makeBlock(key, key + "\r\n");
    requests += makeRequestLine(key);
  }
  // The capital Latin letters in lower case: the index takes it for the block of 0xC0..0xD7.
  std::string lower(keys[2]);
  for (char& c : lower) c = static_cast<char>(foldCase1252(static_cast<unsigned char>(c)));
  ASSERT_NE(lower, keys[2]);
  log += makeBlock(lower);
  dir.write("HtmlResponse.log", log);
  dir.write("HtmlRequest.log", requests);

  RecordingReporter reporter;
  clsIndex index(dir.path(), &reporter);
  const Told told = initialize(index, reporter);
  EXPECT_EQ(told.thrown, "");
  ASSERT_EQ(index.size(), keys.size());
  ASSERT_EQ(told.reports.size(), 2u);
  EXPECT_TRUE(isValidUtf8(told.reports[0]));
  EXPECT_EQ(told.reports[0],
            std::string(kDuplicateKeyDescription) + "\r\n\r\n" + utf8From1252(lower));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(index.QueryIndex(keys[i]), positions[i]);
    const RetrievedResponse r =
        retrieveResponse(dir.file("HtmlResponse.log"), keys[i], positions[i]);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.body, keys[i] + "\r\n");
  }
  // The lookup ignores letter case, the display does not: the request in the other case gets
  // the position of the first block but shows its own.
  EXPECT_EQ(index.QueryIndex(lower), positions[2]);
  const RetrievedResponse own = retrieveResponse(dir.file("HtmlResponse.log"), lower, positions[2]);
  EXPECT_TRUE(own.found);
  EXPECT_EQ(own.body, "<p>x</p>\r\n");
  EXPECT_TRUE(index.SaveIndex());
  clsIndex reloaded(dir.path());
  EXPECT_EQ(entriesOf(reloaded), entriesOf(index));
  EXPECT_TRUE(reloaded.InitializeIndex());
}

TEST(HostileInput, IndexFileOfTenMillionGarbageLines) {
  TempDir dir;
  writeGeneration(dir.path(), 1, 200);
  constexpr int kLines = 10000000;
  std::int64_t wellFormed = 0;
  {
    std::mt19937 rng(11);
    FastWriter out(dir.file("HtmlResponse.idx"));
    std::string line;
    for (int i = 0; i < kLines; ++i) {
      line.clear();
      if (i % 100 == 0) {  // one in a hundred looks like an entry, pointing anywhere
        line = generationKey(3, i / 100) + " - " + std::to_string(1 + rng() % 100000000);
        ++wellFormed;
      } else {
        const std::size_t n = rng() % 40;
        for (std::size_t k = 0; k < n; ++k) {
          char c = static_cast<char>(rng());
          line.push_back(c == '\r' ? 'r' : c);
        }
      }
      line += "\r\n";
      out.write(line);
    }
  }
  const testing::ChildOutcome outcome = runInChild(
      [&]() -> std::string {
        RecordingReporter reporter;
        clsIndex index(dir.path(), &reporter);
        index.setSaveOnRelease(false);
        if (static_cast<std::int64_t>(index.size()) < wellFormed)
          return "only " + std::to_string(index.size()) + " entries loaded";
        const Told told = initialize(index, reporter);
        if (!told.thrown.empty() || !told.reports.empty()) return "error: " + told.thrown;
        if (index.lastOutcome() != clsIndex::Outcome::Rebuilt) return "garbage index was kept";
        if (entriesOf(index) != freshBuildOf(dir.path())) return "index differs from a fresh build";
        return "";
      },
      300);
  EXPECT_TRUE(outcome.finished) << outcome.message;
  EXPECT_EQ(outcome.message, "");
  // The entries that look well-formed are kept (100,000 here, about 10 MB of table); the rest
  // costs nothing to keep.
  if (!kUnderSanitizer) {
    EXPECT_LT(outcome.rssGrowthKb, 64 * 1024);
  }
  std::printf("[ measured ] index of 10 million garbage lines: %.2f s, peak RSS growth %ld KB\n",
              outcome.seconds, outcome.rssGrowthKb);
}

// Runs `work` as an unprivileged user when the tests run as root: permissions do not stop root.
// The folder is handed to that user first.
testing::ChildOutcome runUnprivileged(const TempDir& dir,
                                      const std::function<std::string()>& work) {
  const bool root = ::geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  if (root) {
    for (const char* name : kFileNames) ::chown(dir.file(name).c_str(), kNobody, kNobody);
    if (::chown(dir.path().c_str(), kNobody, kNobody) != 0) return {};
  }
  return runInChild(
      [&]() -> std::string {
        if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return "setuid failed";
        return work();
      },
      60);
}

TEST(HostileInput, UnreadableFilesGiveGermanMessagesAndRecover) {
  TempDir dir;
  writeGeneration(dir.path(), 1, 300);
  const testing::ChildOutcome outcome = runUnprivileged(dir, [&]() -> std::string {
    for (const char* name : kFileNames) {
      writeGeneration(dir.path(), 1, 300);
      ::unlink(dir.file("HtmlResponse.idx").c_str());
      // Without an index the response log is first read by the build, which reports the error.
      if (std::string(name) == "HtmlResponse.idx") {
        clsIndex saver(dir.path());
        saver.InitializeIndex();
      }
      if (::chmod(dir.file(name).c_str(), 0) != 0) return "chmod failed";
      if (::access(dir.file(name).c_str(), R_OK) == 0) return "permissions do not hold";
      RecordingReporter reporter;
      clsIndex index(dir.path(), &reporter);
      index.setSaveOnRelease(false);
      const Told told = initialize(index, reporter);
      const std::string want = "Zugriff verweigert: " + dir.file(name);
      const std::string n = name;
      if (n == "HtmlRequest.log" && told.thrown != want) return "request log: " + told.thrown;
      if (n == "HtmlResponse.log" && (told.reports.size() != 1 || told.reports[0] != want ||
                                      index.lastOutcome() != clsIndex::Outcome::Failed))
        return "response log: no report";
      if (n == "HtmlResponse.idx" &&
          (reporter.reports.empty() || reporter.reports[0] != want || !told.thrown.empty()))
        return "index: no report";
      if (index.InBuildIndex()) return "still building";
      // Readable again: the same engine indexes the folder right.
      ::chmod(dir.file(name).c_str(), 0644);
      index.InitializeIndex();
      if (entriesOf(index) != freshBuildOf(dir.path())) return std::string(name) + ": not usable";
    }
    return "";
  });
  EXPECT_TRUE(outcome.finished) << outcome.message;
  EXPECT_EQ(outcome.message, "");
}

TEST(HostileInput, FolderWhereAFileShouldBe) {
  for (const char* name : kFileNames) {
    SCOPED_TRACE(name);
    TempDir dir;
    writeGeneration(dir.path(), 1, 100);
    testing::removeTree(dir.file(name));
    ASSERT_EQ(::mkdir(dir.file(name).c_str(), 0755), 0);
    RecordingReporter reporter;
    clsIndex index(dir.path(), &reporter);
    const Told told = initialize(index, reporter);
    const std::string want = "Ist ein Verzeichnis, keine Datei: " + dir.file(name);
    const std::string n = name;
    if (n == "HtmlRequest.log") {
      EXPECT_EQ(told.thrown, want);
    }
    if (n == "HtmlResponse.log") {
      ASSERT_EQ(told.reports.size(), 1u);
      EXPECT_EQ(told.reports[0], want);
      EXPECT_EQ(index.lastOutcome(), clsIndex::Outcome::Failed);
    }
    if (n == "HtmlResponse.idx") {
      ASSERT_FALSE(reporter.reports.empty());
      EXPECT_EQ(reporter.reports[0], want);
      // Saving cannot replace a folder; it fails and leaves no temporary file.
      EXPECT_FALSE(index.SaveIndex());
      int leftovers = 0;
      DIR* d = ::opendir(dir.path().c_str());
      while (dirent* e = ::readdir(d))
        if (std::string(e->d_name).find(".tmp") != std::string::npos) ++leftovers;
      ::closedir(d);
      EXPECT_EQ(leftovers, 0);
    }
    EXPECT_FALSE(index.InBuildIndex());
    expectUsableAgain(index, dir);
  }
}

TEST(HostileInput, DanglingAndLoopingLinks) {
  for (const char* name : kFileNames) {
    for (bool loop : {false, true}) {
      SCOPED_TRACE(std::string(name) + (loop ? " loop" : " dangling"));
      TempDir dir;
      writeGeneration(dir.path(), 1, 100);
      testing::removeTree(dir.file(name));
      const std::string target = loop ? dir.file(name) : dir.file("gone");
      ASSERT_EQ(::symlink(target.c_str(), dir.file(name).c_str()), 0);
      RecordingReporter reporter;
      clsIndex index(dir.path(), &reporter);
      const Told told = initialize(index, reporter);
      const std::string want =
          std::string(loop ? "Zu viele symbolische Verknüpfungen: " : "Datei nicht gefunden: ") +
          dir.file(name);
      const std::string n = name;
      if (n == "HtmlRequest.log") {
        EXPECT_EQ(told.thrown, want);
      }
      if (n == "HtmlResponse.log") {
        EXPECT_EQ(told.reports, std::vector<std::string>{want});
      }
      // A dangling link is a missing index, which is no error; a loop is reported.
      if (n == "HtmlResponse.idx" && loop) {
        EXPECT_EQ(reporter.reports.front(), want);
      }
      if (n == "HtmlResponse.idx" && !loop) {
        EXPECT_TRUE(reporter.reports.empty());
      }
      expectUsableAgain(index, dir);
    }
  }
}

TEST(HostileInput, PipesAndEndlessDevicesDoNotHang) {
  for (const char* name : kFileNames) {
    for (bool fifo : {true, false}) {
      SCOPED_TRACE(std::string(name) + (fifo ? " as a named pipe" : " linked to /dev/zero"));
      TempDir dir;
      writeGeneration(dir.path(), 1, 100);
      testing::removeTree(dir.file(name));
      if (fifo)
        ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0644), 0);
      else
        ASSERT_EQ(::symlink("/dev/zero", dir.file(name).c_str()), 0);
      const testing::ChildOutcome outcome = runInChild(
          [&]() -> std::string {
            RecordingReporter reporter;
            clsIndex index(dir.path(), &reporter);
            index.setSaveOnRelease(false);
            const Told told = initialize(index, reporter);
            const std::string want = "Keine gewöhnliche Datei: " + dir.file(name);
            const std::string n = name;
            if (n == "HtmlRequest.log" && told.thrown != want) return "request log: " + told.thrown;
            if (n == "HtmlResponse.log" && told.reports != std::vector<std::string>{want})
              return "response log not reported";
            if (n == "HtmlResponse.idx" &&
                (reporter.reports.empty() || reporter.reports[0] != want))
              return "index not reported";
            // The list of requests reads the request log with the same reader.
            if (n == "HtmlRequest.log") {
              try {
                LineReader reader(dir.file(name));
                return "the request list would read a pipe or device";
              } catch (const FileError& e) {
                if (e.what() != want) return std::string("list: ") + e.what();
              }
            }
            return "";
          },
          20);
      EXPECT_TRUE(outcome.finished) << outcome.message;
      EXPECT_EQ(outcome.message, "");
    }
  }
}

}  // namespace
}  // namespace korva
