// Runs a program of the build and captures what it prints, for tests of the command-line tools.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace korva::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Path of a program built in this build tree (ctest passes KORVA_BIN_DIR).
inline std::string builtProgram(const std::string& relative) {
  const char* dir = std::getenv("KORVA_BIN_DIR");
  if (!dir) throw std::runtime_error("KORVA_BIN_DIR is not set; run the tests through ctest");
  return std::string(dir) + "/" + relative;
}

inline std::string slurp(int fd) {
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

// Runs program with args; stdout and stderr go to temporary files so large output cannot block.
inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args) {
  char outName[] = "/tmp/korva-out-XXXXXX";
  char errName[] = "/tmp/korva-err-XXXXXX";
  int outFd = ::mkstemp(outName), errFd = ::mkstemp(errName);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  ProcessResult result;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::lseek(outFd, 0, SEEK_SET);
  ::lseek(errFd, 0, SEEK_SET);
  result.out = slurp(outFd);
  result.err = slurp(errFd);
  ::close(outFd);
  ::close(errFd);
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

}  // namespace korva::testing
