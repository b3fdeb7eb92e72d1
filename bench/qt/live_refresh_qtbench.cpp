// "Automatisch aktualisieren" with the whole window, offscreen: how soon an appended request is
// listed, the CPU use while an idle folder is watched, and, with a writer appending 100 requests
// a second, the longest stall of the event loop and whether the final index equals a fresh build.
// Prints one line per figure.
//
//   live_refresh_qtbench                       a one-minute writer over 1,000 requests
//   KORVA_BENCH_SECONDS=10 live_refresh_qtbench
//   KORVA_BENCH_LIVE_REQUESTS=780000 live_refresh_qtbench   the same over a big capture
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/frmHaupt.h"
#include "app/request_list_model.h"
#include "index/clsIndex.h"
#include "log_generator.h"
#include "view/rendered_view.h"

namespace fs = std::filesystem;

namespace {

std::string makeFolder(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp ? tmp : "/tmp") + "/korva-live-bench-" +
                     std::to_string(::getpid()) + "-" + name;
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

// Bodies of a big capture are smaller, so that it is made in a minute; the stall depends on the
// number of requests, not on the bodies' size.
std::size_t gMaxBody = 16 * 1024;

void append(const std::string& folder, long requests, std::uint64_t seed) {
  korva::GeneratorOptions options;
  options.outDir = folder;
  options.requests = requests;
  options.append = true;
  options.seed = seed;
  options.maxBody = gMaxBody;
  options.collectRecords = false;
  korva::generateLogs(options);
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until `done` or `ms` have passed; false on the time-out.
template <typename F>
bool runUntil(F done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

// The append on a thread of its own while the event loop runs on: the generator reads the whole
// request log to go on with its keys, which is the benchmark's cost, not the window's.
// Returns when the append was written.
std::chrono::steady_clock::time_point appendAside(const std::string& folder, long requests,
                                                  std::uint64_t seed) {
  std::atomic<bool> done{false};
  std::chrono::steady_clock::time_point written;
  std::thread job([&] {
    append(folder, requests, seed);
    written = std::chrono::steady_clock::now();
    done = true;
  });
  runUntil([&] { return done.load(); }, 600000);
  job.join();
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  const char* secondsText = std::getenv("KORVA_BENCH_SECONDS");
  const int seconds = secondsText ? std::max(1, std::atoi(secondsText)) : 60;
  const char* requestsText = std::getenv("KORVA_BENCH_LIVE_REQUESTS");
  const long initial = requestsText ? std::max(1L, std::atol(requestsText)) : 1000;
  if (initial > 100000) gMaxBody = 2 * 1024;
  std::printf("capture of %ld requests at the start\n", initial);

  const std::string folder = makeFolder("live");
  {
    korva::GeneratorOptions options;
    options.outDir = folder;
    options.requests = initial;
    options.maxBody = gMaxBody;
    options.seed = 5;
    options.collectRecords = false;
    korva::generateLogs(options);
  }
  korva::frmHaupt window(folder);
  window.Form_Load();
  window.findChild<QAction*>(QStringLiteral("mnuAnsichtAutomatischAktualisieren"))->trigger();
  runUntil([] { return false; }, 500);

  // 1. One request appended at a time: the time until the list holds it.
  std::vector<double> latencies;
  for (int i = 0; i < 10; ++i) {
    const int before = window.requestModel()->count();
    const auto written = appendAside(folder, 1, 100 + i);
    if (!runUntil([&] { return window.requestModel()->count() > before; }, 5000)) {
      std::printf("appended request not listed within 5 s\n");
      return 1;
    }
    latencies.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - written)
            .count());
    runUntil([] { return false; }, 300);
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf("appended request listed after: median %.0f ms, worst %.0f ms (10 appends)\n",
              latencies[latencies.size() / 2], latencies.back());

  // 2. An idle folder for 10 s, watched and not: the event loop sleeps between events.
  auto idleShare = [] {
    const double before = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return (cpuSeconds() - before) / (static_cast<double>(idle.elapsed()) / 1e3);
  };
  const double watching = idleShare();
  QAction* liveItem =
      window.findChild<QAction*>(QStringLiteral("mnuAnsichtAutomatischAktualisieren"));
  liveItem->trigger();
  const double notWatching = idleShare();
  liveItem->trigger();
  std::printf(
      "CPU of the whole process with an idle folder: %.2f %% of one core watched, "
      "%.2f %% not watched (10 s each)\n",
      watching * 100, notWatching * 100);

  // 3. A writer appending 100 requests a second (10 every 100 ms) while the loop is timed.
  std::atomic<bool> stop{false};
  std::atomic<long> written{0};
  std::thread writer([&] {
    std::uint64_t seed = 1000;
    auto next = std::chrono::steady_clock::now();
    while (!stop) {
      append(folder, 10, seed++);
      written += 10;
      next += std::chrono::milliseconds(100);
      std::this_thread::sleep_until(next);
    }
  });
  QElapsedTimer gap;
  gap.start();
  qint64 worstGap = 0;
  QTimer tick;
  tick.setInterval(10);
  QObject::connect(&tick, &QTimer::timeout, [&] { worstGap = std::max(worstGap, gap.restart()); });
  tick.start();
  gap.restart();
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  stop = true;
  writer.join();
  tick.stop();
  const int expected = static_cast<int>(initial) + 10 + static_cast<int>(written);
  const bool listed = runUntil(
      [&] {
        return window.requestModel()->count() >= expected && window.index() &&
               !window.index()->InBuildIndex() && window.index()->size() >= std::size_t(expected);
      },
      10000);
  std::printf(
      "writer at 100 requests/s for %d s: %ld appended, longest event-loop gap %lld ms "
      "(stall over the 10 ms tick: %lld ms)\n",
      seconds, written.load(), static_cast<long long>(worstGap),
      static_cast<long long>(std::max<qint64>(0, worstGap - 10)));

  // 4. F5 after 1,000 appended requests: the time the window's thread spends in it.
  liveItem->trigger();  // off: only F5 refreshes now
  append(folder, 1000, 99999);
  QElapsedTimer f5;
  f5.start();
  window.mnuDateiAktualisieren_Click();
  std::printf("F5 after 1,000 appended requests: %.1f ms of the window's thread\n",
              static_cast<double>(f5.nsecsElapsed()) / 1e6);

  // 5. The index as the live refresh left it against one built from scratch.
  const std::string fresh = makeFolder("fresh");
  for (const char* name : {"HtmlRequest.log", "HtmlResponse.log"})
    fs::copy_file(fs::path(folder) / name, fs::path(fresh) / name);
  korva::clsIndex built(fresh);
  built.InitializeIndex();
  const korva::clsIndex& live = *window.index();
  bool same = listed && live.size() == built.size();
  for (std::size_t i = 0; same && i < built.size(); ++i) {
    const auto& e = built.entries()[i];
    same = live.QueryIndex(e.keyView()) == e.position();
  }
  std::printf("final index equals a fresh build: %s (%zu entries, %d requests listed)\n",
              same ? "ja" : "NEIN", live.size(), window.requestModel()->count());
  built.setSaveOnRelease(false);
  fs::remove_all(fresh);

  fs::remove_all(folder);
  return same ? 0 : 1;
}
