// The response log is truncated or replaced while a build or a retrieval reads it. Nothing may
// crash (the log is never mapped, so there is no SIGBUS) or hang, and the next InitializeIndex
// must rebuild from position 1 and agree with a fresh build of what the folder then holds. A
// retrieval must show the block of one version of the log, never a mixture of two.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "hardening/hardening_util.h"
#include "index/line_reader.h"
#include "view/retrieval.h"

namespace korva {
namespace {

using testing::entriesOf;
using testing::freshBuildOf;
using testing::generationBody;
using testing::generationKey;
using testing::runInChild;
using testing::TempDir;
using testing::writeGeneration;

// Enough blocks for a log of several read blocks, so the build is between two reads when the
// log changes under it.
constexpr int kOldBlocks = 9000;
constexpr int kNewBlocks = 12000;

enum class Change {
  kTruncateToZero,      // rotation in place; the recorder writes again only after the build
  kTruncateAndRegrow,   // rotation in place, and the new log outgrows the old before the build ends
  kTruncateIntoABlock,  // cut inside an early block; the recorder goes on behind the cut
  kReplaceByRename,     // a new, larger log renamed over the old one
  kReplaceByShorter,    // a new, smaller log renamed over the old one
};

const char* nameOf(Change c) {
  switch (c) {
    case Change::kTruncateToZero:
      return "TruncateToZero";
    case Change::kTruncateAndRegrow:
      return "TruncateAndRegrow";
    case Change::kTruncateIntoABlock:
      return "TruncateIntoABlock";
    case Change::kReplaceByRename:
      return "ReplaceByRename";
    case Change::kReplaceByShorter:
      return "ReplaceByShorter";
  }
  return "?";
}

// Writes a new generation to `scratch` and renames its response log over the folder's.
void replaceResponseLog(const std::string& folder, int blocks) {
  TempDir scratch;
  writeGeneration(scratch.path(), 2, blocks);
  const std::string from = scratch.file("HtmlResponse.log");
  const std::string to = folder + "/HtmlResponse.log";
  if (::rename(from.c_str(), to.c_str()) != 0) std::abort();
}

// Applies the change. A rotation in place empties both logs; a cut inside the response log
// leaves the request log alone, and the recorder appends behind the cut.
void applyChange(Change change, const std::string& folder, std::int64_t oldBytes) {
  const std::string log = folder + "/HtmlResponse.log";
  const std::string requests = folder + "/HtmlRequest.log";
  switch (change) {
    case Change::kTruncateToZero:
      if (::truncate(log.c_str(), 0) != 0 || ::truncate(requests.c_str(), 0) != 0) std::abort();
      break;
    case Change::kTruncateAndRegrow:
      if (::truncate(log.c_str(), 0) != 0 || ::truncate(requests.c_str(), 0) != 0) std::abort();
      writeGeneration(folder, 2, kNewBlocks, true);
      break;
    case Change::kTruncateIntoABlock:
      if (::truncate(log.c_str(), oldBytes / 7 + 13) != 0) std::abort();
      writeGeneration(folder, 2, kNewBlocks, true);
      break;
    case Change::kReplaceByRename:
      replaceResponseLog(folder, kNewBlocks);
      break;
    case Change::kReplaceByShorter:
      replaceResponseLog(folder, kOldBlocks / 10);
      break;
  }
}

// What the folder holds once the recorder is done with the change.
void finishFolder(Change change, const std::string& folder) {
  if (change == Change::kTruncateToZero) writeGeneration(folder, 2, 500, true);
  if (change == Change::kReplaceByRename || change == Change::kReplaceByShorter) {
    // The request log is replaced along with the response log.
    TempDir scratch;
    writeGeneration(scratch.path(), 2,
                    change == Change::kReplaceByRename ? kNewBlocks : kOldBlocks / 10);
    const std::string from = scratch.file("HtmlRequest.log");
    const std::string to = folder + "/HtmlRequest.log";
    if (::rename(from.c_str(), to.c_str()) != 0) std::abort();
  }
}

// Each listed request of the new generation must show the body written for it. The first new
// block behind a cut inside a line is glued to that line and has no opening line of its own.
std::string checkRetrievals(const clsIndex& index, const std::string& folder, Change change) {
  std::ifstream requests(folder + "/HtmlRequest.log", std::ios::binary);
  std::string line;
  int checked = 0;
  for (int n = 0; std::getline(requests, line); ++n) {
    const std::string key = line.substr(0, 24);
    if (key[1] != '0' || key[2] != '2') continue;
    const int number = std::stoi(key.substr(17, 7));
    if (number % 53 != 0 || (number == 0 && change == Change::kTruncateIntoABlock)) continue;
    const RetrievedResponse r =
        retrieveResponse(folder + "/HtmlResponse.log", key, index.QueryIndex(key));
    if (!r.found || r.body != generationBody(2, number)) return "wrong response for " + key;
    ++checked;
  }
  return checked > 0 ? "" : "no request checked";
}

struct Case {
  Change change;
  int atPercent;  // the log changes at the first progress event at or above this
};

class BuildUnderChange : public ::testing::TestWithParam<Case> {};

TEST_P(BuildUnderChange, NextInitializeRebuildsFromTheStartAndIsRight) {
  const Case c = GetParam();
  TempDir dir;
  const testing::WrittenLogs old = writeGeneration(dir.path(), 1, kOldBlocks);
  const testing::ChildOutcome outcome = runInChild(
      [&]() -> std::string {
        clsIndex index(dir.path());
        index.setSaveOnRelease(false);
        bool changed = false;
        index.Progress = [&](std::uint8_t& percent, bool&) {
          if (!changed && percent >= c.atPercent) {
            changed = true;
            applyChange(c.change, dir.path(), old.responseBytes);
          }
        };
        index.InitializeIndex();
        if (!changed) return "the log was not changed during the build";
        if (index.InBuildIndex()) return "still building";
        index.Progress = nullptr;

        finishFolder(c.change, dir.path());
        if (index.InitializeIndex()) return "the changed log counted as current";
        if (index.lastOutcome() != clsIndex::Outcome::Rebuilt)
          return "the build after the change did not start from position 1";
        if (entriesOf(index) != freshBuildOf(dir.path()))
          return "the index differs from a fresh build (" + std::to_string(index.size()) +
                 " entries, fresh " + std::to_string(freshBuildOf(dir.path()).size()) + ")";
        return checkRetrievals(index, dir.path(), c.change);
      },
      120);
  EXPECT_TRUE(outcome.finished) << outcome.message;
  EXPECT_EQ(outcome.message, "");
}

INSTANTIATE_TEST_SUITE_P(
    Moments, BuildUnderChange,
    ::testing::Values(Case{Change::kTruncateToZero, 1}, Case{Change::kTruncateToZero, 50},
                      Case{Change::kTruncateAndRegrow, 1}, Case{Change::kTruncateAndRegrow, 50},
                      Case{Change::kTruncateAndRegrow, 97}, Case{Change::kTruncateIntoABlock, 40},
                      Case{Change::kTruncateIntoABlock, 90}, Case{Change::kReplaceByRename, 1},
                      Case{Change::kReplaceByRename, 60}, Case{Change::kReplaceByShorter, 30}),
    [](const ::testing::TestParamInfo<Case>& param) {
      return std::string(nameOf(param.param.change)) + "At" + std::to_string(param.param.atPercent);
    });

TEST(LineReaderUnderAWriter, LineEndWrittenInTwoPartsIsOneLineEnd) {
  TempDir dir;
  dir.write("f", "ab\r");
  LineReader reader(dir.file("f"));
  std::string line;
  ASSERT_TRUE(reader.readLine(line));
  EXPECT_EQ(line, "ab");
  EXPECT_TRUE(reader.atEnd());
  dir.append("f", "\ncd\r\n");  // the LF of the CR LF comes with the next write
  ASSERT_FALSE(reader.atEnd());
  EXPECT_EQ(reader.position(), 5);
  ASSERT_TRUE(reader.readLine(line));
  EXPECT_EQ(line, "cd");
  EXPECT_FALSE(reader.readLine(line));
  // A CR followed by something else stays a line end of its own.
  dir.append("f", "ef\r");
  ASSERT_TRUE(reader.readLine(line));
  dir.append("f", "gh\r\n");
  ASSERT_TRUE(reader.readLine(line));
  EXPECT_EQ(line, "gh");
  EXPECT_FALSE(reader.changedUnderneath());
}

TEST(LineReaderUnderAWriter, CutAndRegrownBelowTheReadPositionIsNoticed) {
  TempDir dir;
  std::string old;
  for (int i = 0; i < 400; ++i) old += "old line " + std::to_string(i) + "\r\n";
  dir.write("f", old);
  LineReader reader(dir.file("f"), 1024);
  std::string line;
  ASSERT_TRUE(reader.readLine(line));
  // Rotated in place and already longer than before when the reader reads its next block.
  std::string fresh;
  for (int i = 0; i < 800; ++i) fresh += "new line " + std::to_string(i) + "\r\n";
  dir.write("f", fresh);
  int more = 0;
  while (reader.readLine(line)) {
    // The line across the block edge ends where the old bytes end.
    const std::size_t n = std::min<std::size_t>(line.size(), 9);
    ASSERT_EQ(line.compare(0, n, std::string("old line ").substr(0, n)), 0)
        << "a line of the new log after the old ones: " << line;
    ++more;
  }
  EXPECT_TRUE(reader.changedUnderneath());
  EXPECT_LT(more, 200);  // what was buffered, then the reader stops
  // Growth alone is no change.
  dir.write("g", "a\r\n");
  LineReader growing(dir.file("g"), 4);
  ASSERT_TRUE(growing.readLine(line));
  dir.append("g", std::string(5000, 'b') + "\r\n");
  ASSERT_TRUE(growing.readLine(line));
  EXPECT_EQ(line.size(), 5000u);
  EXPECT_FALSE(growing.changedUnderneath());
}

// Two versions of a log that both hold the block of one key, with different bodies.
std::string versionOfLog(int version, const std::string& key, std::string& body) {
  std::string log, bigBody;
  for (int i = 0; i < 60000; ++i)
    bigBody += "<p>version " + std::to_string(version) + " line " + std::to_string(i) + "</p>\r\n";
  body = bigBody;
  for (int n = 0; n < 200 * version; ++n) log += testing::makeBlock(generationKey(version, n));
  log += testing::makeBlock(key, bigBody);
  for (int n = 0; n < 100; ++n) log += testing::makeBlock(generationKey(version + 10, n));
  return log;
}

// A log cut inside the block ends without divider: the retrieval gives the lines that are
// there, the last one possibly cut and ended with CR LF.
bool cutPartOf(const std::string& got, const std::string& body) {
  if (got.size() < body.size() && body.compare(0, got.size(), got) == 0) return true;
  return got.size() >= 2 && got.size() - 2 < body.size() &&
         got.compare(got.size() - 2, 2, "\r\n") == 0 &&
         body.compare(0, got.size() - 2, got, 0, got.size() - 2) == 0;
}

TEST(RetrievalUnderAWriter, ShowsOneVersionOfTheBlockNeverAMixture) {
  TempDir dir;
  const std::string key = generationKey(9, 1);
  std::string body1, body2;
  const std::string log1 = versionOfLog(1, key, body1);
  const std::string log2 = versionOfLog(2, key, body2);
  dir.write("HtmlResponse.log", log1);
  const std::string path = dir.file("HtmlResponse.log");
  // Another process rotates the log: renames a new one over it, or empties it and writes the
  // other version again as a recorder does, a piece at a time, or cuts it and writes on.
  auto appendInPieces = [&](const std::string& log, std::size_t from, std::mt19937& rng) {
    for (std::size_t at = from; at < log.size(); at += 65536) {
      dir.append("HtmlResponse.log", log.substr(at, 65536));
      if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 200));
    }
  };
  auto startWriter = [&] {
    std::fflush(nullptr);
    const pid_t writer = ::fork();
    if (writer != 0) return writer;
    std::mt19937 rng(3);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    const std::string* current = &log1;
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
      const std::string& other = current == &log1 ? log2 : log1;
      switch (rng() % 3) {
        case 0:
          dir.write("next.log", other);
          if (::rename(dir.file("next.log").c_str(), path.c_str()) != 0) ::_exit(1);
          current = &other;
          break;
        case 1:
          if (::truncate(path.c_str(), 0) != 0) ::_exit(1);
          appendInPieces(other, 0, rng);
          current = &other;
          break;
        case 2: {
          const std::size_t cut = rng() % current->size();
          if (::truncate(path.c_str(), static_cast<off_t>(cut)) != 0) ::_exit(1);
          appendInPieces(*current, cut, rng);
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    }
    dir.write("next.log", log1);
    ::_exit(::rename(dir.file("next.log").c_str(), path.c_str()) == 0 ? 0 : 1);
  };
  const testing::ChildOutcome outcome = runInChild(
      [&]() -> std::string {
        const pid_t writer = startWriter();
        long retrievals = 0, first = 0, second = 0, cut = 0, notFound = 0;
        double longest = 0;
        int status = 0;
        while (::waitpid(writer, &status, WNOHANG) == 0) {
          const auto start = std::chrono::steady_clock::now();
          const RetrievedResponse r = retrieveResponse(path, key, 0);
          longest = std::max(
              longest,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
          ++retrievals;
          if (!r.found)
            ++notFound;
          else if (r.body == body1)
            ++first;
          else if (r.body == body2)
            ++second;
          else if (cutPartOf(r.body, body1) || cutPartOf(r.body, body2))
            ++cut;
          else
            return "a body of " + std::to_string(r.body.size()) + " bytes from two logs";
        }
        std::printf(
            "[ measured ] %ld retrievals under a rewriting writer: %ld of version 1, %ld "
            "of version 2, %ld cut inside the block, %ld not found, longest %.0f ms\n",
            retrievals, first, second, cut, notFound, longest * 1000);
        const RetrievedResponse settled = retrieveResponse(path, key, 0);
        if (!settled.found || settled.body != body1) return "wrong body once the log settled";
        return "";
      },
      60);
  EXPECT_TRUE(outcome.finished) << outcome.message;
  EXPECT_EQ(outcome.message, "");
}

}  // namespace
}  // namespace korva
