// Soak: a writer process appends to both logs at a high rate while the engine runs
// InitializeIndex again and again, is saved and reloaded now and then, and looks up and retrieves
// random listed requests, also from inside its progress events. Every block that was complete
// when it was read must come back exactly as written; at the end the index must equal a fresh
// build of the final files.
//
// KORVA_SOAK_SECONDS sets the writer's run time (60 s by default).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hardening/hardening_util.h"
#include "index/clsIndex.h"
#include "index/line_reader.h"
#include "run_process.h"
#include "soak/soak_content.h"
#include "test_util.h"
#include "view/retrieval.h"

namespace korva {
namespace {

using testing::TempDir;

constexpr std::uint64_t kSeed = 20261209;

double soakSeconds() {
  const char* text = std::getenv("KORVA_SOAK_SECONDS");
  const double s = text ? std::atof(text) : 60;
  return s > 0 ? s : 60;
}

// The requests the reader has seen, read on from where it stopped; only whole lines count.
class RequestList {
 public:
  explicit RequestList(std::string path) : path_(std::move(path)) {}
  void refresh() {
    const std::int64_t length = fileLength(path_);
    if (length <= offset_) return;
    pending_ += readBytesAt(path_, offset_ + 1, static_cast<std::size_t>(length - offset_));
    offset_ = length;
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find("\r\n", start)) != std::string::npos;
         start = end + 2)
      lines_.push_back(pending_.substr(start, end - start));
    pending_.erase(0, start);
  }
  std::size_t size() const { return lines_.size(); }
  const std::string& line(std::size_t i) const { return lines_[i]; }

 private:
  std::string path_;
  std::int64_t offset_ = 0;
  std::string pending_;
  std::vector<std::string> lines_;
};

struct Counts {
  long initializes = 0, builds = 0, cancels = 0, reloads = 0, progressEvents = 0;
  long lookups = 0, retrievals = 0, exact = 0, inProgress = 0, mismatches = 0;
  std::string firstMismatch;
};

// A block read while the writer was still at it: what is there is the start of what will be
// there, the last line possibly cut (and then ended with CR LF by the retrieval).
bool consistentPart(const std::string& got, const std::string& tail) {
  if (tail.compare(0, got.size(), got) == 0) return true;
  return got.size() >= 2 && got.compare(got.size() - 2, 2, "\r\n") == 0 &&
         tail.compare(0, got.size() - 2, got, 0, got.size() - 2) == 0;
}

class Reader {
 public:
  Reader(const std::string& folder, Counts& counts)
      : folder_(folder), requests_(folder + "/HtmlRequest.log"), counts_(counts) {}

  // Looks up and retrieves request i of the list and holds the result against what was written.
  void check(const clsIndex& index, std::size_t i) {
    const std::string& line = requests_.line(i);
    const std::string key = line.substr(0, soak::kKeyLength);
    const std::int64_t n = std::stoll(key.substr(14));
    if (line + "\r\n" != soak::requestLine(n)) return mismatch("request line " + key);
    // Request i + 1 is written only after block i is complete.
    const bool complete = writerDone_ || i + 1 < requests_.size();
    const std::int64_t position = index.QueryIndex(key);
    ++counts_.lookups;
    if (complete && position > 0 &&
        readBytesAt(folder_ + "/HtmlResponse.log", position, soak::kKeyLength + 2) != key + "\r\n")
      return mismatch("position of " + key + " holds another block");
    const RetrievedResponse r = retrieveResponse(folder_ + "/HtmlResponse.log", key, position);
    ++counts_.retrievals;
    if (complete) {
      if (!r.found || r.body != soak::body(kSeed, n)) return mismatch("body of " + key);
      ++counts_.exact;
    } else {
      ++counts_.inProgress;
      if (r.found && !consistentPart(r.body, soak::blockTail(kSeed, n)))
        return mismatch("unfinished block of " + key);
    }
  }

  void checkRandom(const clsIndex& index, std::mt19937_64& rng, int count) {
    requests_.refresh();
    if (requests_.size() == 0) return;
    for (int k = 0; k < count; ++k) {
      // Mostly anywhere in the list, sometimes among the newest.
      const std::size_t size = requests_.size();
      const std::size_t i =
          rng() % 4 == 0 ? size - 1 - rng() % std::min<std::size_t>(size, 5) : rng() % size;
      check(index, i);
    }
  }

  RequestList& requests() { return requests_; }
  void writerDone() { writerDone_ = true; }

 private:
  void mismatch(const std::string& what) {
    if (counts_.mismatches++ == 0) counts_.firstMismatch = what;
  }

  std::string folder_;
  RequestList requests_;
  Counts& counts_;
  bool writerDone_ = false;
};

pid_t spawnWriter(const std::string& folder, double seconds, const std::string& outFile) {
  const std::string program = testing::builtProgram("tests/soak/korva_soak_writer");
  const std::string secondsText = std::to_string(seconds);
  const std::string seedText = std::to_string(kSeed);
  std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(folder.c_str()),
                          const_cast<char*>(secondsText.c_str()),
                          const_cast<char*>(seedText.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::vector<std::pair<std::string, std::int64_t>> entriesOf(const clsIndex& index) {
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (std::size_t i = 0; i < index.size(); ++i)
    out.emplace_back(std::string(index.entries()[i].keyView()), index.entries()[i].position());
  return out;
}

TEST(Soak, ConcurrentWriterAgainstBuildsLookupsAndRetrievals) {
  const double seconds = soakSeconds();
  // A hang anywhere ends the process instead of the run.
  ::alarm(static_cast<unsigned>(seconds * 3 + 300));
  TempDir dir;
  dir.write("HtmlRequest.log", "");
  dir.write("HtmlResponse.log", "");
  const pid_t writer = spawnWriter(dir.path(), seconds, dir.file("writer.out"));
  ASSERT_GT(writer, 0);

  Counts counts;
  Reader reader(dir.path(), counts);
  std::mt19937_64 rng(kSeed);
  auto index = std::make_unique<clsIndex>(dir.path());
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  for (bool running = true; running;) {
    running = ::waitpid(writer, &status, WNOHANG) == 0;
    // As in the window: lookups while the build reports progress, and now and then a cancel.
    index->Progress = [&](std::uint8_t&, bool& cancel) {
      ++counts.progressEvents;
      if (rng() % 8 == 0) reader.checkRandom(*index, rng, 1);
      if (rng() % 100 == 0) {
        cancel = true;
        ++counts.cancels;
      }
    };
    ++counts.initializes;
    if (!index->InitializeIndex()) ++counts.builds;
    if (index->InBuildIndex() && counts.mismatches++ == 0) counts.firstMismatch = "still building";
    reader.checkRandom(*index, rng, 6);
    // A restart of the program: save, then load the file again.
    if (rng() % 40 == 0) {
      index->SaveIndex();
      index = std::make_unique<clsIndex>(dir.path());
      ++counts.reloads;
    }
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer ended with " << status;
  const long written = std::stol(dir.read("writer.out"));

  // The final files: the index catches up and must equal a fresh build.
  index->Progress = nullptr;
  index->InitializeIndex();
  EXPECT_TRUE(index->InitializeIndex());
  std::vector<std::pair<std::string, std::int64_t>> fresh;
  {
    TempDir other;
    for (const char* name : {"HtmlRequest.log", "HtmlResponse.log"})
      ASSERT_EQ(::symlink(dir.file(name).c_str(), other.file(name).c_str()), 0);
    clsIndex freshIndex(other.path());
    freshIndex.setSaveOnRelease(false);
    freshIndex.InitializeIndex();
    fresh = entriesOf(freshIndex);
  }
  EXPECT_EQ(static_cast<long>(index->size()), written);
  EXPECT_TRUE(entriesOf(*index) == fresh) << "the index differs from a fresh build";
  // Every block is complete now: a sample, the newest blocks among them, must be exact.
  reader.requests().refresh();
  reader.writerDone();
  ASSERT_EQ(static_cast<long>(reader.requests().size()), written);
  const long exactBefore = counts.exact;
  // Each retrieval reads a whole 4 MB block; under the sanitizers that costs far more.
  const int sample = testing::kUnderSanitizer ? 300 : 2000;
  for (int k = 0; k < sample && written > 0; ++k)
    reader.check(*index, k < 50 ? written - 1 - k % written : rng() % written);
  EXPECT_GT(counts.exact, exactBefore);

  std::printf(
      "[ measured ] soak %.1f s: %ld blocks written; %ld InitializeIndex (%ld builds, %ld "
      "cancelled), %ld progress events, %ld reloads; %ld lookups, %ld retrievals (%ld complete and "
      "exact, %ld of unfinished blocks); %ld mismatches\n",
      elapsed, written, counts.initializes, counts.builds, counts.cancels, counts.progressEvents,
      counts.reloads, counts.lookups, counts.retrievals, counts.exact, counts.inProgress,
      counts.mismatches);
  EXPECT_EQ(counts.mismatches, 0) << counts.firstMismatch;
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace korva
