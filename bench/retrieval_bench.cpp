// One response block out of a large response log, against reading its bytes with one read().
//
// Writes a response log of KORVA_BENCH_LOG_MB megabytes (default 1024) into a fresh folder under
// TMPDIR (or /tmp): filler blocks, then near the end one block whose body is
// KORVA_BENCH_BODY_MB megabytes (default 50, at most half the log), then a few small blocks.
// The folder is removed at the end.
//
//   KORVA_BENCH_LOG_MB=64 retrieval_bench     quick run
//   retrieval_bench                           the full 1 GiB log
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "index/constants.h"
#include "view/retrieval.h"

namespace {

struct BenchLog {
  std::string folder;
  std::string path;
  std::string key;
  std::int64_t position = 0;    // 1-based position of the big block
  std::int64_t bodyOffset = 0;  // 0-based offset of its body
  std::size_t bodySize = 0;     // bytes of its body lines with their CR LF
  std::int64_t logSize = 0;
};

BenchLog gLog;

std::size_t envMegabytes(const char* name, std::size_t fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  return static_cast<std::size_t>(std::stoul(value));
}

std::string makeKey(const char* prefix, long n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s%016ld", prefix, n);
  return buffer;  // 8 + 16 = 24 characters
}

const std::string kClosing = "HTTP/1.1 200 OK         ";

std::string block(const std::string& key, const std::string& body) {
  return key + "\r\n" + body + kClosing + "\r\n" + std::string(korva::kDevider) + "\r\n";
}

// Body lines of about 100 bytes, `size` bytes in all, ending with CR LF.
std::string bodyLines(std::size_t size) {
  const std::string line =
      "<tr><td class=\"c\">Eintrag</td><td><a href=\"/seite/123\">Weiter</a></td><td>42</td></tr>"
      "\r\n";
  std::string body;
  body.reserve(size + line.size());
  while (body.size() + line.size() <= size) body += line;
  body.append(size - body.size() - 2, 'x');
  body += "\r\n";
  return body;
}

void writeAll(std::FILE* f, const std::string& bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    throw std::runtime_error("write failed");
}

BenchLog createLog() {
  BenchLog log;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp ? tmp : "/tmp") + "/korva-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  log.folder = pattern;
  log.path = log.folder + "/" + korva::kResponseLogName;

  const std::size_t logBytes = envMegabytes("KORVA_BENCH_LOG_MB", 1024) << 20;
  std::size_t bodyBytes = envMegabytes("KORVA_BENCH_BODY_MB", 50) << 20;
  if (bodyBytes > logBytes / 2) bodyBytes = logBytes / 2;

  // Filler: one 4 MB piece of 64 KB blocks, written again and again.
  std::string piece;
  for (long n = 0; piece.size() < (4u << 20); ++n)
    piece += block(makeKey("FILLER--", n), bodyLines(64u << 10));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(log.path.c_str(), "wb"),
                                                    &std::fclose);
  if (!f) throw std::runtime_error("cannot create " + log.path);
  std::setvbuf(f.get(), nullptr, _IONBF, 0);  // the pieces are large already
  std::int64_t written = 0;
  const std::size_t fillerBytes = logBytes - bodyBytes - (1u << 20);
  while (static_cast<std::size_t>(written) + piece.size() <= fillerBytes) {
    writeAll(f.get(), piece);
    written += static_cast<std::int64_t>(piece.size());
  }
  log.key = makeKey("WANTED--", 1);
  log.position = written + 1;
  const std::string body = bodyLines(bodyBytes);
  log.bodyOffset = written + static_cast<std::int64_t>(log.key.size()) + 2;
  log.bodySize = body.size();
  const std::string big = block(log.key, body);
  writeAll(f.get(), big);
  written += static_cast<std::int64_t>(big.size());
  for (long n = 0; n < 8; ++n) {
    const std::string small = block(makeKey("LATER---", n), bodyLines(4096));
    writeAll(f.get(), small);
    written += static_cast<std::int64_t>(small.size());
  }
  log.logSize = written;
  std::fprintf(stderr, "response log %.0f MB, block at position %lld with a %.1f MB body\n",
               static_cast<double>(written) / (1 << 20), static_cast<long long>(log.position),
               static_cast<double>(log.bodySize) / (1 << 20));
  return log;
}

void removeLog(const BenchLog& log) {
  ::unlink(log.path.c_str());
  ::rmdir(log.folder.c_str());
}

std::size_t retrieveOnce() {
  korva::RetrievedResponse r = korva::retrieveResponse(gLog.path, gLog.key, gLog.position);
  if (!r.found || r.body.size() != gLog.bodySize) throw std::runtime_error("wrong block");
  return r.body.size();
}

// The floor: the body's bytes straight into a fresh buffer with a single read().
std::size_t readOnce() {
  int fd = ::open(gLog.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open");
  std::unique_ptr<char[]> buffer(new char[gLog.bodySize]);
  ::lseek(fd, gLog.bodyOffset, SEEK_SET);
  ssize_t n = ::read(fd, buffer.get(), gLog.bodySize);
  ::close(fd);
  if (n != static_cast<ssize_t>(gLog.bodySize)) throw std::runtime_error("short read");
  benchmark::DoNotOptimize(buffer.get());
  return static_cast<std::size_t>(n);
}

void BM_RetrieveResponse(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(retrieveOnce());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gLog.bodySize));
}
void BM_SingleRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(readOnce());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gLog.bodySize));
}
BENCHMARK(BM_SingleRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RetrieveResponse)->Unit(benchmark::kMillisecond);

// Both in turn in every iteration, so that they see the same machine state; gives the ratio.
void BM_RetrievalPerSingleRead(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  double retrieval = 0, single = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    readOnce();
    auto t1 = Clock::now();
    retrieveOnce();
    auto t2 = Clock::now();
    single += std::chrono::duration<double>(t1 - t0).count();
    retrieval += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["read_ms"] = single / n * 1e3;
  state.counters["retrieval_ms"] = retrieval / n * 1e3;
  state.counters["ratio"] = retrieval / single;
}
BENCHMARK(BM_RetrievalPerSingleRead)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  gLog = createLog();
  int status = 0;
  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  removeLog(gLog);
  return status;
}
