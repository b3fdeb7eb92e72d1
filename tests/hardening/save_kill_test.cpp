// A process killed with SIGKILL at a random moment of saving a large index: afterwards
// "HtmlResponse.idx" is always the complete old file or the complete new one, and a temporary
// file left by a killed save is removed by the next save.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "hardening/hardening_util.h"

namespace korva {
namespace {

using testing::FastWriter;
using testing::generationKey;
using testing::TempDir;

constexpr int kBlocks = 300000;
constexpr int kNewBlocks = 2000;  // the old index lacks these; the new one has them

// KORVA_SIGKILL_ROUNDS sets the number of kills; under the sanitizers a round takes longer.
int roundsToRun() {
  const char* text = std::getenv("KORVA_SIGKILL_ROUNDS");
  return text ? std::max(1, std::atoi(text)) : testing::kUnderSanitizer ? 30 : 100;
}

std::vector<std::string> tempFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

// Loads the old index, extends it by the new blocks and saves. Tells the parent through the
// pipe when the save begins and when it has ended.
[[noreturn]] void saveInChild(const std::string& folder, int signalFd) {
  clsIndex index(folder);
  index.InitializeIndex();
  if (index.size() != static_cast<std::size_t>(kBlocks)) ::_exit(3);
  if (::write(signalFd, "s", 1) != 1) ::_exit(4);
  const bool saved = index.SaveIndex();
  if (::write(signalFd, "e", 1) != 1) ::_exit(4);
  ::_exit(saved ? 0 : 5);
}

struct Round {
  bool killed;
  double saveSeconds;  // from the start of the save to its end, when not killed
};

Round runRound(const std::string& folder, double killAfterSeconds) {
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  std::fflush(nullptr);  // a child must not print what the parent left in its buffers
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    saveInChild(folder, fds[1]);
  }
  ::close(fds[1]);
  char c = 0;
  Round round{false, 0};
  if (::read(fds[0], &c, 1) == 1 && c == 's') {
    const auto start = std::chrono::steady_clock::now();
    if (killAfterSeconds >= 0) {
      std::this_thread::sleep_for(std::chrono::duration<double>(killAfterSeconds));
      round.killed = ::kill(pid, SIGKILL) == 0;
    }
    if (::read(fds[0], &c, 1) == 1)
      round.saveSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(fds[0]);
  round.killed = round.killed && WIFSIGNALED(status);
  if (!round.killed) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  return round;
}

TEST(SaveKill, IndexFileIsAlwaysTheWholeOldOrTheWholeNew) {
  TempDir dir;
  std::string oldIndex, newIndex;
  {
    FastWriter requests(dir.file("HtmlRequest.log"));
    FastWriter responses(dir.file("HtmlResponse.log"));
    for (int n = 0; n < kBlocks; ++n) {
      const std::string key = generationKey(5, n);
      const std::string entry = key + " - " + std::to_string(responses.size() + 1) + "\r\n";
      if (n < kBlocks - kNewBlocks) oldIndex += entry;
      newIndex += entry;
      requests.write(testing::makeRequestLine(key));
      responses.write(testing::makeBlock(key, "<p>" + std::to_string(n) + "</p>\r\n"));
    }
  }
  dir.write("HtmlResponse.idx", oldIndex);

  // Undisturbed rounds give the new file and the time a save takes here; the longest of three,
  // since a save's time varies with what else the disk is doing (a parallel test run).
  Round calibration{false, 0};
  for (int i = 0; i < 3; ++i) {
    dir.write("HtmlResponse.idx", oldIndex);
    const Round round = runRound(dir.path(), -1);
    ASSERT_EQ(dir.read("HtmlResponse.idx"), newIndex);
    calibration.saveSeconds = std::max(calibration.saveSeconds, round.saveSeconds);
  }
  ASSERT_GT(calibration.saveSeconds, 0);

  const int rounds = roundsToRun();
  std::mt19937 rng(20261209);
  int oldSeen = 0, newSeen = 0, torn = 0, tempLeft = 0, maxTemp = 0;
  for (int r = 0; r < rounds; ++r) {
    dir.write("HtmlResponse.idx", oldIndex);
    // Anywhere from the first byte written to well after the rename.
    const double at = std::uniform_real_distribution<double>(0, 2.0)(rng) * calibration.saveSeconds;
    runRound(dir.path(), at);
    const std::string now = dir.read("HtmlResponse.idx");
    if (now == oldIndex)
      ++oldSeen;
    else if (now == newIndex)
      ++newSeen;
    else
      ++torn;
    const std::size_t temps = tempFiles(dir.path()).size();
    if (temps > 0) ++tempLeft;
    maxTemp = std::max<int>(maxTemp, static_cast<int>(temps));
  }
  std::printf(
      "[ measured ] %d SIGKILL rounds (save takes %.0f ms): %d old, %d new, %d torn; a temporary "
      "file was left after %d rounds, never more than %d at a time\n",
      rounds, calibration.saveSeconds * 1000, oldSeen, newSeen, torn, tempLeft, maxTemp);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(oldSeen + newSeen, rounds);
  // The kill moments span the save: both outcomes occur, and some kills hit the writing.
  EXPECT_GT(oldSeen, 0);
  EXPECT_GT(newSeen, 0);
  EXPECT_GT(tempLeft, 0);
  // Each save removes what a killed one left, so leftovers never pile up.
  EXPECT_LE(maxTemp, 1);
  runRound(dir.path(), -1);
  EXPECT_TRUE(tempFiles(dir.path()).empty());
  EXPECT_EQ(dir.read("HtmlResponse.idx"), newIndex);
}

}  // namespace
}  // namespace korva
