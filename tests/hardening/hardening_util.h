// Helpers of the hardening tests: work in a forked child with a time limit and its peak memory,
// fast writing of large files, log folders whose content is known, and comparisons of an index
// with a fresh build.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "index/clsIndex.h"
#include "test_util.h"

namespace korva::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

struct ChildOutcome {
  bool finished = false;  // ended by itself within the time limit
  int exitCode = -1;      // when it exited
  int signal = 0;         // when a signal ended it
  std::string message;    // what the child reported; empty means all its checks held
  long peakRssKb = 0;     // the child's peak resident memory (getrusage)
  long rssGrowthKb = 0;   // how far that peak rose above what the child started with
  double seconds = 0;
};

inline long maxRssKb() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Runs `work` in a forked child. `work` returns an empty string when all its checks held, else a
// description of what failed. A child that runs longer than `limitSeconds` is killed: that is a
// hang. A crash shows as a signal.
inline ChildOutcome runInChild(const std::function<std::string()>& work, double limitSeconds) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  std::fflush(nullptr);  // a child must not print what the parent left in its buffers
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    // A forked child starts with the resident memory of its parent as its peak.
    const long startKb = maxRssKb();
    std::string message;
    try {
      message = work();
    } catch (const std::exception& e) {
      message = std::string("exception: ") + e.what();
    }
    std::fflush(stdout);  // _exit does not flush
    std::string report =
        std::to_string(startKb) + " " + std::to_string(maxRssKb()) + "\n" + message;
    for (std::size_t done = 0; done < report.size();) {
      ssize_t n = ::write(fds[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildOutcome outcome;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > limitSeconds) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ::close(fds[0]);
      outcome.message = "no end within " + std::to_string(limitSeconds) + " s";
      return outcome;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(fds[0]);
  if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
    outcome.message = "ended by signal " + std::to_string(outcome.signal);
    return outcome;
  }
  outcome.exitCode = WEXITSTATUS(status);
  const std::size_t nl = report.find('\n');
  if (nl == std::string::npos) {
    outcome.message =
        "the child reported nothing (exit code " + std::to_string(outcome.exitCode) + ")";
    return outcome;
  }
  outcome.finished = outcome.exitCode == 0;
  const std::size_t blank = report.find(' ');
  outcome.peakRssKb = std::stol(report.substr(blank + 1, nl - blank - 1));
  outcome.rssGrowthKb = outcome.peakRssKb - std::stol(report.substr(0, blank));
  outcome.message = report.substr(nl + 1);
  return outcome;
}

// Appends to a file through a large buffer: tests write hundreds of megabytes.
class FastWriter {
 public:
  explicit FastWriter(const std::string& path, bool append = false)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC),
                   0644)) {
    buffer_.reserve(kFlushAt + 4096);
  }
  ~FastWriter() { close(); }
  FastWriter(const FastWriter&) = delete;
  FastWriter& operator=(const FastWriter&) = delete;

  void write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kFlushAt) flush();
  }
  void flush() {
    for (std::size_t done = 0; done < buffer_.size();) {
      ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    written_ += static_cast<std::int64_t>(buffer_.size());
    buffer_.clear();
  }
  void close() {
    if (fd_ < 0) return;
    flush();
    ::close(fd_);
    fd_ = -1;
  }
  // Bytes handed over so far, buffered ones included.
  std::int64_t size() const { return written_ + static_cast<std::int64_t>(buffer_.size()); }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;
  int fd_;
  std::string buffer_;
  std::int64_t written_ = 0;
};

// Keys of one generation of a log: the recorder starts a new log with new keys.
inline std::string generationKey(int generation, int n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "G%02d-20261209-REQ-%07d", generation % 100, n % 10000000);
  return buffer;
}

// The body that block n of a generation gets: a few lines whose count and length vary with n.
inline std::string generationBody(int generation, int n) {
  std::string body;
  const int lines = 1 + (n * 7 + generation) % 9;
  for (int i = 0; i < lines; ++i) {
    body += "<p>g" + std::to_string(generation) + " block " + std::to_string(n) + " line " +
            std::to_string(i) + "</p>";
    body.append(static_cast<std::size_t>((n * 31 + i * 17) % 200), 'x');
    body += "\r\n";
  }
  return body;
}

struct WrittenLogs {
  std::vector<std::string> keys;
  std::int64_t responseBytes = 0;
};

// Writes `count` blocks of a generation to both logs of `folder` (replacing or appending).
inline WrittenLogs writeGeneration(const std::string& folder, int generation, int count,
                                   bool append = false, int first = 0) {
  WrittenLogs logs;
  FastWriter requests(folder + "/HtmlRequest.log", append);
  FastWriter responses(folder + "/HtmlResponse.log", append);
  for (int n = first; n < first + count; ++n) {
    const std::string key = generationKey(generation, n);
    requests.write(makeRequestLine(key, "GET http://example.test/" + std::to_string(n)));
    responses.write(makeBlock(key, generationBody(generation, n)));
    logs.keys.push_back(key);
  }
  logs.responseBytes = responses.size();
  return logs;
}

// The entries of an index as key and position pairs.
inline std::vector<std::pair<std::string, std::int64_t>> entriesOf(const clsIndex& index) {
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (std::size_t i = 0; i < index.size(); ++i)
    out.emplace_back(std::string(index.entries()[i].keyView()), index.entries()[i].position());
  return out;
}

// The entries a fresh build of the logs in `folder` gives: built in a folder of its own that
// links to the logs, so the index file of `folder` is neither read nor written.
inline std::vector<std::pair<std::string, std::int64_t>> freshBuildOf(const std::string& folder) {
  TempDir fresh;
  for (const char* name : {"HtmlRequest.log", "HtmlResponse.log"}) {
    const std::string target = folder + "/" + name;
    if (::symlink(target.c_str(), fresh.file(name).c_str()) != 0) return {};
  }
  clsIndex index(fresh.path());
  index.setSaveOnRelease(false);
  index.InitializeIndex();
  return entriesOf(index);
}

}  // namespace korva::testing
