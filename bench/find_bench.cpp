// Finding things in a large capture, as whole processes and in-process:
// - `korvashimtale-cli search WORD` against `rg -c -i -F WORD HtmlResponse.log` (ripgrep) on the
//   same response log, hot cache, in the same run, for a frequent and a rare word, and
//   `search REGEX --regex` against `rg -c -i REGEX` for three kinds of expression; the ratio is
//   our time over ripgrep's. Peak memory of the search beyond that of a lookup, which loads the
//   index and nothing else.
// - The list filter over a million request rows, for words and for a regular expression.
//
//   find_bench                          1 GiB response log with 200,000 requests
//   KORVA_BENCH_LOG_MB=64 find_bench    quick run
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture/request_rows.h"
#include "capture/row_filter.h"
#include "log_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t envNumber(const char* name, std::int64_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoll(value) : fallback;
}

struct Run {
  double seconds;
  long maxRssKb;
};

// Runs a program with its output discarded; the wall time and the peak resident memory.
Run runProgram(const std::vector<std::string>& args) {
  std::fflush(stdout);  // or the child prints it again
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    std::fprintf(stderr, "find_bench: %s failed\n", args[0].c_str());
    std::exit(1);
  }
  return {seconds, usage.ru_maxrss};
}

double medianSeconds(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void compareWithRipgrep(const std::string& cli, const std::string& folder) {
  const std::string log = folder + "/HtmlResponse.log";
  runProgram({cli, "-C", folder, "index"});
  const long indexOnlyKb = runProgram({cli, "-C", folder, "lookup", "x"}).maxRssKb;
  struct Search {
    const char* term;
    bool regex;
  };
  // Two words, and the three kinds of regular expression: led by a literal, an alternation of
  // words, led by a character class.
  const Search searches[] = {{"class", false},
                             {"requested", false},
                             {"artikel\\s0+7", true},
                             {"warenkorb|kasse|bestellung", true},
                             {"[0-9]{4}-[0-9]{2}-[0-9]{2}", true}};
  for (const Search& s : searches) {
    std::vector<std::string> ours = {cli, "-C", folder, "search", s.term};
    if (s.regex) ours.push_back("--regex");
    std::vector<std::string> theirs = {"/usr/bin/rg", "-c", "-i"};
    if (!s.regex) theirs.push_back("-F");
    theirs.insert(theirs.end(), {s.term, log});
    std::vector<double> a, b;
    long peakKb = 0;
    for (int i = 0; i < 7; ++i) {  // alternating, so that both see the same machine
      const Run r = runProgram(ours);
      a.push_back(r.seconds);
      peakKb = std::max(peakKb, r.maxRssKb);
      b.push_back(runProgram(theirs).seconds);
    }
    const double x = medianSeconds(a), y = medianSeconds(b);
    std::printf(
        "search %-28s korvashimtale-cli %7.3f s   rg -c -i%s %7.3f s   ratio %.2f (goal <= 1.5)\n",
        s.term, x, s.regex ? "   " : " -F", y, x / y);
    std::printf("search %-28s peak memory beyond the index: %.1f MB (goal < 64)\n", s.term,
                static_cast<double>(peakKb - indexOnlyKb) / 1024.0);
  }
}

void filterMillionRows(const std::string& folder) {
  const std::string path = folder + "/million-requests.log";
  if (!std::filesystem::exists(path)) {
    std::ofstream out(path, std::ios::binary);
    const char* hosts[] = {"www.example.com", "shop.example.de", "cdn.example.net",
                           "api.example.org"};
    const char* paths[] = {"/index.html",        "/produkte/liste?seite=", "/static/app.js?v=",
                           "/warenkorb/add?id=", "/bilder/logo.png",       "/suche?q=brot&s="};
    for (int i = 0; i < 1000000; ++i) {
      out << korva::formatKey(1700000000000LL + i * 37LL, i % 1000000) << " - "
          << (i % 7 == 0 ? "POST" : "GET") << " http://" << hosts[i % 4] << paths[(i / 4) % 6] << i
          << " HTTP/1.1\r\n";
    }
  }
  korva::RequestRows rows;
  rows.load(path);
  for (const char* expression : {"warenkorb", "get example -cdn", "/seite=\\d+7\\b/"}) {
    std::vector<double> times;
    std::size_t kept = 0;
    for (int i = 0; i < 5; ++i) {
      const auto start = Clock::now();
      korva::FilterRun run(rows, korva::RowFilter(expression));
      run.step(rows.size());
      times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      kept = run.kept().size();
    }
    std::printf("filter %zu rows %-20s %7.1f ms  (%zu kept; goal for words < 100 ms)\n",
                rows.size(), expression, medianSeconds(times) * 1000.0, kept);
  }
}

}  // namespace

int main(int, char** argv) {
  const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
  const std::string cli = (self.parent_path().parent_path() / "src/cli/korvashimtale-cli").string();
  (void)argv;
  const std::int64_t megabytes = envNumber("KORVA_BENCH_LOG_MB", 1024);
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("korva-find-bench-" + std::to_string(megabytes)))
          .string();
  if (!std::filesystem::exists(folder + "/HtmlResponse.log")) {
    std::filesystem::create_directories(folder);
    korva::GeneratorOptions options;
    options.outDir = folder;
    options.targetBytes = megabytes << 20;
    options.requests = std::max<std::int64_t>(1, megabytes * 200000 / 1024);
    options.collectRecords = false;
    korva::generateLogs(options);
  }
  std::printf("response log: %lld MiB in %s\n", static_cast<long long>(megabytes), folder.c_str());
  compareWithRipgrep(cli, folder);
  filterMillionRows(folder);
  return 0;
}
