// The window's process ends on SIGTERM and SIGHUP as on a close: the index is saved.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "log_generator.h"
#include "run_process.h"
#include "test_util.h"

namespace korva {
namespace {

TEST(TerminationTest, TermAndHupSaveTheIndexAsACloseDoes) {
  const std::string program = testing::builtProgram("src/app/korvashimtale");
  if (::access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "built without the window";
  for (const int signal : {SIGTERM, SIGHUP}) {
    testing::TempDir dir;
    dir.write("HtmlRequest.log", testing::makeRequestLine(testing::makeKey(1)));
    dir.write("HtmlResponse.log", testing::makeBlock(testing::makeKey(1), "<p>x</p>"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
      ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The index is written only when the window goes; give it time to come up first.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_NE(::access(dir.file("HtmlResponse.idx").c_str(), F_OK), 0);
    ::kill(child, signal);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::waitpid(child, &status, WNOHANG) == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "still running after signal " << signal;
    }
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << signal;
    EXPECT_EQ(dir.read("HtmlResponse.idx").substr(0, 24), testing::makeKey(1));
  }
}

}  // namespace
}  // namespace korva
