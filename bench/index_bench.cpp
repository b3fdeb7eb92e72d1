// The response index against plain baselines: a full build against counting LF bytes with
// memchr over the same file, a resume after appending 1 MiB, loading and saving a
// 1,000,000-entry index, a million lookups, and the memory of a million entries.
//
// Generates a response log of KORVA_BENCH_LOG_MB megabytes (default 1024) with one request per
// ~5 KiB (about 200,000 for 1 GiB) into a fresh folder under TMPDIR (or /tmp), removed at the end.
//
//   KORVA_BENCH_LOG_MB=64 index_bench     quick run
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "index/clsIndex.h"
#include "index/constants.h"
#include "log_generator.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Folders {
  std::string big;      // the large pair; its index from before the last 1 MiB is kept aside
  std::string small;    // a 32 MiB pair with the same kind of 1 MiB appended
  std::string million;  // a 1,000,000-entry index file
};
Folders gFolders;

std::int64_t envMegabytes(const char* name, std::int64_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::stoll(value) : fallback;
}

std::string makeFolder(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp ? tmp : "/tmp") + "/korva-index-bench-" +
                     std::to_string(::getpid()) + "-" + name;
  fs::create_directories(path);
  return path;
}

void generate(const std::string& folder, std::int64_t bytes, bool append, std::uint64_t seed) {
  korva::GeneratorOptions options;
  options.outDir = folder;
  options.targetBytes = bytes;
  options.requests = std::max<std::int64_t>(1, bytes / 5400);
  options.append = append;
  options.seed = seed;
  options.collectRecords = false;
  korva::generateLogs(options);
}

std::string indexPath(const std::string& folder) { return folder + "/" + korva::kIndexFileName; }
std::string asidePath(const std::string& folder) { return folder + "/before-append.idx"; }

// A pair of `megabytes`, indexed, the index moved aside, then 1 MiB of new blocks appended.
std::string pairWithAppendedMiB(const std::string& name, std::int64_t megabytes) {
  std::string folder = makeFolder(name);
  generate(folder, megabytes << 20, false, 7);
  {
    korva::clsIndex index(folder);
    index.InitializeIndex();
  }
  fs::rename(indexPath(folder), asidePath(folder));
  generate(folder, 1 << 20, true, 8);
  return folder;
}

std::string millionEntryIndex() {
  std::string folder = makeFolder("million");
  std::ofstream out(indexPath(folder), std::ios::binary);
  char line[64];
  for (int i = 0; i < 1000000; ++i) {
    int n = std::snprintf(line, sizeof line, "20261209%010d-%05d - %lld\r\n", i, i % 100000,
                          static_cast<long long>(i) * 5400 + 1);
    out.write(line, n);
  }
  return folder;
}

// Counts LF bytes with memchr over 1 MiB pread blocks: the plainest pass over the file.
std::int64_t countLf(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buffer(1 << 20);
  std::int64_t count = 0;
  off_t offset = 0;
  for (ssize_t n; (n = ::pread(fd, buffer.data(), buffer.size(), offset)) > 0; offset += n) {
    const char* p = buffer.data();
    const char* end = p + n;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', end - p)))) ++p, ++count;
  }
  ::close(fd);
  return count;
}

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Both passes in turn in every iteration, so that they see the same hot page cache.
void BM_FullBuildVersusMemchr(benchmark::State& state) {
  const std::string log = gFolders.big + "/" + korva::kResponseLogName;
  const auto bytes = static_cast<double>(fs::file_size(log));
  countLf(log);  // warm the cache
  double memchrTime = 0, buildTime = 0;
  std::size_t entries = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(countLf(log));
    auto t1 = Clock::now();
    korva::clsIndex index(gFolders.big);  // no index file there: the build starts at 1
    index.setSaveOnRelease(false);
    index.InitializeIndex();
    auto t2 = Clock::now();
    entries = index.size();
    memchrTime += seconds(t0, t1);
    buildTime += seconds(t1, t2);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["memchr_MBps"] = bytes / (memchrTime / n) / 1e6;
  state.counters["build_MBps"] = bytes / (buildTime / n) / 1e6;
  state.counters["build_vs_memchr"] = memchrTime / buildTime;  // throughput ratio, goal >= 0.70
}
BENCHMARK(BM_FullBuildVersusMemchr)->Iterations(5)->Unit(benchmark::kMillisecond);

// Resume after 1 MiB was appended; the same on a 32 MiB log shows the cost follows the new part.
void resume(benchmark::State& state, const std::string& folder) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(asidePath(folder), indexPath(folder), fs::copy_options::overwrite_existing);
    korva::clsIndex index(folder);
    fs::remove(indexPath(folder));
    index.setSaveOnRelease(false);
    state.ResumeTiming();
    index.InitializeIndex();
    benchmark::DoNotOptimize(index.size());
    if (index.lastOutcome() != korva::clsIndex::Outcome::Resumed)
      state.SkipWithError("the build did not resume");
  }
}
void BM_ResumeAfter1MiB_LargeLog(benchmark::State& state) { resume(state, gFolders.big); }
void BM_ResumeAfter1MiB_SmallLog(benchmark::State& state) { resume(state, gFolders.small); }
BENCHMARK(BM_ResumeAfter1MiB_LargeLog)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResumeAfter1MiB_SmallLog)->Iterations(20)->Unit(benchmark::kMillisecond);

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void BM_LoadMillionEntries(benchmark::State& state) {
  long memoryKiB = 0;
  for (auto _ : state) {
    long before = residentKiB();
    korva::clsIndex index(gFolders.million);
    index.setSaveOnRelease(false);
    state.PauseTiming();
    memoryKiB = residentKiB() - before;
    if (index.size() != 1000000) state.SkipWithError("not every entry loaded");
    state.ResumeTiming();
  }
  state.counters["index_MB"] = static_cast<double>(memoryKiB) / 1024.0;
}
BENCHMARK(BM_LoadMillionEntries)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_SaveMillionEntries(benchmark::State& state) {
  korva::clsIndex index(gFolders.million);
  index.setSaveOnRelease(false);
  for (auto _ : state) {
    if (!index.SaveIndex()) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveMillionEntries)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_MillionRandomLookups(benchmark::State& state) {
  korva::clsIndex index(gFolders.million);
  index.setSaveOnRelease(false);
  // The keys lie side by side, as a caller's keys would be at hand: the lookups are measured,
  // not the allocator's scatter of a million strings.
  std::mt19937 rng(3);
  std::string keyBytes(1000000 * 24, ' ');
  std::vector<std::string_view> keys;
  keys.reserve(1000000);
  char key[32];
  for (int i = 0; i < 1000000; ++i) {
    int n = static_cast<int>(rng() % 1000000);
    std::snprintf(key, sizeof key, "20261209%010d-%05d", n, n % 100000);
    keyBytes.replace(static_cast<std::size_t>(i) * 24, 24, key, 24);
  }
  for (int i = 0; i < 1000000; ++i)
    keys.push_back(std::string_view(keyBytes).substr(static_cast<std::size_t>(i) * 24, 24));
  std::int64_t found = 0;
  for (auto _ : state) {
    for (std::string_view k : keys) found += index.QueryIndex(k) > 0;
  }
  if (found != static_cast<std::int64_t>(state.iterations()) * 1000000)
    state.SkipWithError("a lookup missed");
}
BENCHMARK(BM_MillionRandomLookups)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::int64_t megabytes = envMegabytes("KORVA_BENCH_LOG_MB", 1024);
  gFolders.big = pairWithAppendedMiB("big", megabytes);
  gFolders.small = pairWithAppendedMiB("small", 32);
  gFolders.million = millionEntryIndex();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& f : {gFolders.big, gFolders.small, gFolders.million}) fs::remove_all(f);
  return 0;
}
