// The request rows of a big capture: loading "HtmlRequest.log" whole, the memory the rows take,
// and a refresh after the recorder appended 1,000 requests (what F5 and the live refresh read).
// The load is compared with reading the same file by pread into one buffer of its size, which
// any load that keeps the bytes costs.
//
//   rows_bench                                   1,000,000 requests
//   KORVA_BENCH_REQUESTS=10000000 rows_bench     the 10M capture
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/request_rows.h"
#include "log_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t envNumber(const char* name, std::int64_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoll(value) : fallback;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double residentMb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// The same reads into one new buffer of the file's size, the pages advised as the rows' are:
// what holding the file in memory costs without splitting it.
double plainReadSeconds(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::exit(1);
  constexpr std::size_t kBlock = korva::RequestRows::kDefaultBlockSize;
  const auto start = Clock::now();
  const auto size = static_cast<std::size_t>(::lseek(fd, 0, SEEK_END));
  void* buffer = std::malloc(size + kBlock);
  const auto page = (reinterpret_cast<std::uintptr_t>(buffer) + 4095) & ~std::uintptr_t{4095};
  ::madvise(reinterpret_cast<void*>(page), size & ~std::size_t{4095}, MADV_HUGEPAGE);
  off_t at = 0;
  for (ssize_t n; (n = ::pread(fd, static_cast<char*>(buffer) + at, kBlock, at)) > 0;) at += n;
  const double seconds = secondsSince(start);
  std::free(buffer);
  ::close(fd);
  return seconds;
}

}  // namespace

int main() {
  const std::int64_t requests = envNumber("KORVA_BENCH_REQUESTS", 1000000);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("korva-rows-bench-" + std::to_string(requests));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  korva::GeneratorOptions options;
  options.outDir = folder.string();
  options.requests = requests;
  options.targetBytes = requests * 300;
  options.collectRecords = false;
  korva::generateLogs(options);
  const std::string path = (folder / "HtmlRequest.log").string();
  const auto logMb = static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;

  std::vector<double> loads, reads;
  double rowsMb = 0;
  std::size_t rowCount = 0;
  for (int i = 0; i < 5; ++i) {
    reads.push_back(plainReadSeconds(path));
    const double before = residentMb();
    const auto start = Clock::now();
    korva::RequestRows rows;
    rows.load(path);
    loads.push_back(secondsSince(start));
    rowsMb = std::max(rowsMb, residentMb() - before);  // later rounds may reuse freed pages
    rowCount = rows.size();
  }
  const double load = median(loads), read = median(reads);
  std::printf("load %zu rows (%.0f MB log): %.1f ms; the same reads unsplit %.1f ms (ratio %.2f)\n",
              rowCount, logMb, load * 1000.0, read * 1000.0, load / read);
  std::printf("memory of the rows: %.0f MB resident, %.2f x the log\n", rowsMb, rowsMb / logMb);

  korva::RequestRows rows;
  rows.load(path);
  std::vector<double> refreshes, unchanged;
  for (int i = 0; i < 5; ++i) {
    options.append = true;
    options.requests = 1000;
    options.targetBytes = 1000 * 300;
    options.seed = 2 + i;
    korva::generateLogs(options);
    auto start = Clock::now();
    const korva::RowsChange change = rows.refresh(path);
    refreshes.push_back(secondsSince(start));
    if (change.kind != korva::RowsChange::Kind::Appended || rows.size() != change.from + 1000) {
      std::fprintf(stderr, "rows_bench: the refresh did not append 1000 rows\n");
      return 1;
    }
    start = Clock::now();
    rows.refresh(path);
    unchanged.push_back(secondsSince(start));
  }
  std::printf(
      "refresh after 1000 appended requests: %.3f ms; refresh of an unchanged log %.3f ms\n",
      median(refreshes) * 1000.0, median(unchanged) * 1000.0);
  std::filesystem::remove_all(folder);
  return 0;
}
