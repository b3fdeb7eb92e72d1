// The whole window, offscreen, with the real web engine: start-up with a million requests and a
// current index, the refresh alone, peak memory against the request log's size, a click until
// both views hold a 1 MB and a 20 MB body, and the layout during a splitter drag with a 10 MB
// source text present, and the first start on a log without an index against the command-line
// build of the same log plus the start-up on an empty folder, and the source view's colours on a
// 20 MB body. Prints one line per figure.
//
//   window_qtbench                 full sizes (1,000,000 requests; a 1 GiB log for the first start)
//   window_qtbench --colours       the colours alone
//   window_qtbench --scale         a capture of 10,000,000 requests: start-up with a current
//                                  index, memory, F5 after 1,000 appended requests, a word filter
//                                  (KORVA_BENCH_SCALE_REQUESTS fewer; KORVA_BENCH_DIR a pair made
//                                  before, which it appends to)
//   KORVA_BENCH_REQUESTS=100000 KORVA_BENCH_LOG_MB=64 window_qtbench
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/frmHaupt.h"
#include "app/request_list_model.h"
#include "index/clsIndex.h"
#include "index/constants.h"
#include "log_generator.h"
#include "view/clsTextBox.h"
#include "view/rendered_view.h"
#include "view/source_view.h"
#include "viewer/viewer.h"

namespace fs = std::filesystem;

namespace {

// A field of /proc/self/status in MiB, such as "VmRSS" or "VmHWM".
long statusMiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  const std::string format = std::string(field) + ": %ld kB";
  long kib = 0;
  while (status && std::fgets(line, sizeof line, status))
    if (std::sscanf(line, format.c_str(), &kib) == 1) break;
  if (status) std::fclose(status);
  return kib / 1024;
}

// The peak resident size of this process image. Not getrusage: Linux carries its high-water
// mark over fork and exec, so the baseline child would report the parent's peak.
long maxResidentMiB() { return statusMiB("VmHWM"); }

std::string makeFolder(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp ? tmp : "/tmp") + "/korva-window-bench-" +
                     std::to_string(::getpid()) + "-" + name;
  fs::create_directories(path);
  return path;
}

// A pair with `requests` requests of about `bytesPerBlock` each; optionally one big body.
std::string generate(const std::string& name, long requests, long bytesPerBlock, long bigBody) {
  std::string folder = makeFolder(name);
  korva::GeneratorOptions options;
  options.outDir = folder;
  options.requests = requests;
  options.targetBytes = requests * bytesPerBlock + std::max(0L, bigBody);
  options.bigBody = bigBody;
  options.maxBody = 64 * 1024;
  options.seed = 11;
  options.collectRecords = false;
  korva::generateLogs(options);
  korva::clsIndex index(folder);  // a current index, as after an earlier session
  index.InitializeIndex();
  return folder;
}

// Selects `row` and waits until the rendered view has taken the body; milliseconds.
double clickUntilShown(korva::frmHaupt& window, int row) {
  auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lstRequest"));
  QSignalSpy shown(window.browser(), &korva::RenderedView::bodySet);
  QElapsedTimer timer;
  timer.start();
  list->setCurrentIndex(list->model()->index(row, 0));
  if (shown.isEmpty() && !shown.wait(60000)) return -1;
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void displayFigures(long bigBody, const char* label) {
  std::string folder = generate(label, 20, 4000, bigBody);
  korva::frmHaupt window(folder);
  window.Form_Load();
  const int bigRow = 18;  // the generator puts the big body at 90% of the requests
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    clickUntilShown(window, 2);
    best = std::min(best, clickUntilShown(window, bigRow));
  }
  std::printf("click to both views filled, %s body: %.0f ms (best of 5)\n", label, best);
  fs::remove_all(folder);
}

// The source view up: the click to a 20 MB body with colours against the same without them, to
// the paint that shows it; then scrolling through it ten pages at a time, each step painted, and
// the longest colouring step (a paint's colouring or a slice of the forward scan) on the way.
void colourFigures() {
  std::string folder = generate("colours", 20, 4000, 20L << 20);
  korva::frmHaupt window(folder);
  window.Form_Load();
  window.mnuAnsichtBrowserQuelltext_Click();
  auto* view = window.findChild<korva::SourceView*>(QStringLiteral("txtSource_"));
  const int bigRow = 18;
  double best[2] = {1e9, 1e9};
  for (int i = 0; i < 5; ++i) {
    for (int coloured = 0; coloured < 2; ++coloured) {
      view->setColoured(coloured != 0);
      clickUntilShown(window, 2);
      QElapsedTimer timer;
      timer.start();
      clickUntilShown(window, bigRow);
      view->viewport()->repaint();
      best[coloured] = std::min(best[coloured], static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
  }
  std::printf(
      "click to the source view painted, 20 MB body: %.0f ms with colours, %.0f ms without "
      "(%.3fx, best of 5)\n",
      best[1], best[0], best[1] / best[0]);
  QScrollBar* bar = view->verticalScrollBar();
  int steps = 0;
  // The longest paint of one pass through the text, ten pages a step.
  auto scrollThrough = [&] {
    double longest = 0;
    steps = 0;
    for (int value = 0; value <= bar->maximum(); value += 10 * bar->pageStep(), ++steps) {
      bar->setValue(value);
      QElapsedTimer timer;
      timer.start();
      view->viewport()->repaint();
      longest = std::max(longest, static_cast<double>(timer.nsecsElapsed()) / 1e6);
      while (view->colouringPending()) QCoreApplication::processEvents();
    }
    bar->setValue(0);
    return longest;
  };
  view->setColoured(false);
  const double plainPaint = scrollThrough();
  view->setColoured(true);
  view->takeLongestColourStep();
  const double colouredPaint = scrollThrough();
  std::printf(
      "scrolling through it, %d steps of ten pages: longest colouring step %.2f ms; longest "
      "paint %.1f ms with colours, %.1f ms without\n",
      steps, view->takeLongestColourStep(), colouredPaint, plainPaint);
  view->setColoured(false);  // forgets the states found on the way
  view->setColoured(true);
  QCoreApplication::processEvents();
  bar->setValue(bar->maximum());  // one jump to the end: the forward scan runs in slices
  view->viewport()->repaint();
  while (view->colouringPending()) QCoreApplication::processEvents();
  std::printf("jump to the end: longest colouring step %.2f ms\n", view->takeLongestColourStep());
  fs::remove_all(folder);
}

void dragFigures() {
  std::string folder = generate("drag", 20, 4000, 10L << 20);
  korva::frmHaupt window(folder);
  window.Form_Load();
  clickUntilShown(window, 18);
  window.mnuAnsichtBrowserQuelltext_Click();  // the 10 MB source text is on show
  QCoreApplication::processEvents();
  QWidget* client = window.centralWidget();
  auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lstRequest"));
  const QPointF band(50, list->geometry().bottom() + 2);
  QTest::mousePress(client, Qt::LeftButton, {}, band.toPoint());
  constexpr int kMoves = 400;
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < kMoves; ++i) {
    QPointF at(50, 100 + (i % 200));
    QMouseEvent move(QEvent::MouseMove, at, client->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(client, &move);
  }
  const double perMoveUs = static_cast<double>(timer.nsecsElapsed()) / 1e3 / kMoves;
  QTest::mouseRelease(client, Qt::LeftButton, {}, QPoint(50, 150));
  timer.restart();
  for (int i = 0; i < kMoves; ++i) window.ArrangeControls();
  const double layoutUs = static_cast<double>(timer.nsecsElapsed()) / 1e3 / kMoves;
  std::printf(
      "splitter drag with a 10 MB source text: %.1f us per move (ArrangeControls alone %.1f us)\n",
      perMoveUs, layoutUs);
  fs::remove_all(folder);
}

double msSince(const QElapsedTimer& timer) {
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// When the progress frame is shown and hidden again: the index step of the refresh.
class IndexStep : public QObject {
 public:
  explicit IndexStep(const QElapsedTimer& timer) : timer_(timer) {}
  double shownMs = -1, hiddenMs = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && shownMs < 0) shownMs = msSince(timer_);
    if (event->type() == QEvent::Hide && shownMs >= 0 && hiddenMs < 0) hiddenMs = msSince(timer_);
    return QObject::eventFilter(watched, event);
  }

 private:
  const QElapsedTimer& timer_;
};

// From the window's creation until the list is usable and the first paint is done; the index
// build runs inside, with the progress display. `indexStepMs` receives how long that took.
double startUp(const std::string& folder, double* indexStepMs = nullptr) {
  QElapsedTimer timer;
  timer.start();
  korva::frmHaupt window(folder);
  IndexStep step(timer);
  window.findChild<QWidget*>(QStringLiteral("frmProgress"))->installEventFilter(&step);
  window.Form_Load();
  QCoreApplication::processEvents();
  const double ms = msSince(timer);
  if (indexStepMs) *indexStepMs = step.hiddenMs - step.shownMs;
  window.hide();
  return ms;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The first start on a log of ~5 KiB blocks without an index, against `korvashimtale-cli index`
// from scratch over the same log as a whole process (its save included) plus the start-up on an
// empty folder. Hot cache; medians of 5 runs each.
void firstStartFigures() {
  const long megabytes = qEnvironmentVariableIsSet("KORVA_BENCH_LOG_MB")
                             ? qEnvironmentVariable("KORVA_BENCH_LOG_MB").toLong()
                             : 1024;
  const std::string folder = makeFolder("first");
  korva::GeneratorOptions options;
  options.outDir = folder;
  options.targetBytes = megabytes << 20;
  options.requests = std::max(1L, (megabytes << 20) / 5400);
  options.seed = 7;
  options.collectRecords = false;
  korva::generateLogs(options);
  const std::string empty = makeFolder("first-empty");
  for (const char* name : {"HtmlRequest.log", "HtmlResponse.log"})
    std::fclose(std::fopen((empty + "/" + name).c_str(), "w"));
  const std::string index = folder + "/" + korva::kIndexFileName;
  const QString cli = QCoreApplication::applicationDirPath() + "/../src/cli/korvashimtale-cli";

  auto cliBuild = [&] {
    fs::remove(index);
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(cli,
                  {QStringLiteral("-C"), QString::fromStdString(folder), QStringLiteral("index")});
    process.waitForFinished(600000);
    const double ms = msSince(timer);
    return process.exitCode() == 0 && fs::exists(index) ? ms : -1;
  };
  cliBuild();      // the log into the page cache
  startUp(empty);  // the web engine's own start
  std::vector<double> cliMs, emptyMs, firstMs, stepMs;
  // Each run starts on a quiet machine: the web engine's helper processes wind down a closed
  // window for a while, and on two cores that would be taken from whatever is measured next.
  auto settle = [] { QTest::qWait(1500); };
  for (int i = 0; i < 5; ++i) {
    settle();
    cliMs.push_back(cliBuild());
    settle();
    emptyMs.push_back(startUp(empty));
    fs::remove(index);
    settle();
    // Its save at the window's end is not part of the start.
    firstMs.push_back(startUp(folder, &stepMs.emplace_back()));
    if (!fs::exists(index)) firstMs.back() = -1;
  }
  const double c = median(cliMs), e = median(emptyMs), f = median(firstMs);
  std::printf(
      "first start without an index, %ld MiB log (%lld blocks): %.0f ms; CLI index from "
      "scratch %.0f ms + empty-folder start-up %.0f ms = %.0f ms; first start / sum %.2f "
      "(medians of 5)\n",
      megabytes, static_cast<long long>(options.requests), f, c, e, c + e, f / (c + e));
  std::printf(
      "  of which the index step (build and progress yields) %.0f ms against the CLI's whole "
      "process %.0f ms\n",
      median(stepMs), c);
  fs::remove_all(folder);
  fs::remove_all(empty);
}

long residentMiB() { return statusMiB("VmRSS"); }

// Runs the event loop until `done`, ticking every 10 ms; returns the longest gap between ticks.
template <typename F>
double longestGapUntil(F done) {
  QElapsedTimer gap;
  double worst = 0;
  QTimer tick;
  tick.setInterval(10);
  QObject::connect(&tick, &QTimer::timeout,
                   [&] { worst = std::max(worst, msSince(gap)), gap.restart(); });
  gap.start();
  tick.start();
  while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worst = std::max(worst, msSince(gap));
  return worst;
}

int scaleMain() {
  const long requests = qEnvironmentVariableIsSet("KORVA_BENCH_SCALE_REQUESTS")
                            ? qEnvironmentVariable("KORVA_BENCH_SCALE_REQUESTS").toLong()
                            : 10000000;
  std::string folder;
  const bool own = qEnvironmentVariableIsEmpty("KORVA_BENCH_DIR");
  if (own) {
    folder = makeFolder("scale");
    korva::GeneratorOptions options;
    options.outDir = folder;
    options.requests = requests;
    options.targetBytes = requests * 400;
    options.maxBody = 4096;
    options.seed = 13;
    options.collectRecords = false;
    korva::generateLogs(options);
  } else {
    folder = qEnvironmentVariable("KORVA_BENCH_DIR").toStdString();
  }
  {
    korva::clsIndex index(folder);  // current, as after an earlier session
    index.InitializeIndex();
  }
  const std::string requestLog = folder + "/HtmlRequest.log";
  const std::string responseLog = folder + "/HtmlResponse.log";
  std::FILE* warm = std::fopen(requestLog.c_str(), "rb");  // hot cache, as on a second start
  static char buffer[1 << 20];
  while (warm && std::fread(buffer, 1, sizeof buffer, warm) > 0) {
  }
  if (warm) std::fclose(warm);
  const long baseResident = residentMiB();

  QElapsedTimer timer;
  timer.start();
  auto window = std::make_unique<korva::frmHaupt>(folder);
  window->show();
  window->Form_Load();
  longestGapUntil([&] { return window->index() && !window->index()->InBuildIndex(); });
  QCoreApplication::processEvents();  // the first paint of the list
  const double startMs = msSince(timer);
  const int listed = window->requestModel()->count();
  std::printf(
      "%d requests (request log %.0f MiB, response log %.0f MiB), current index: start-up to "
      "the usable window %.0f ms\n",
      listed, static_cast<double>(fs::file_size(requestLog)) / 1048576.0,
      static_cast<double>(fs::file_size(responseLog)) / 1048576.0, startMs);
  std::printf("  memory: %ld MiB resident, peak %ld MiB (the bench itself before %ld MiB)\n",
              residentMiB(), maxResidentMiB(), baseResident);

  double f5 = 1e9;
  for (int i = 0; i < 3; ++i) {
    korva::GeneratorOptions options;
    options.outDir = folder;
    options.requests = 1000;
    options.append = true;
    options.maxBody = 4096;
    options.seed = 100 + static_cast<std::uint64_t>(i);
    options.collectRecords = false;
    korva::generateLogs(options);
    timer.restart();
    window->mnuDateiAktualisieren_Click();
    f5 = std::min(f5, msSince(timer));
  }
  std::printf("  F5 after 1,000 appended requests: %.1f ms of the window's thread (best of 3)\n",
              f5);

  for (const char* word : {"kunde", "preis"}) {
    timer.restart();
    window->setFilterText(QString::fromLatin1(word));
    const double gap = longestGapUntil([&] { return !window->viewer().filterPending(); });
    std::printf("  word filter \"%s\": %.0f ms to %s; longest event-loop gap %.0f ms\n", word,
                msSince(timer), qPrintable(window->filterCountText()), gap);
    window->setFilterText(QString());
    longestGapUntil([&] { return !window->viewer().filterPending(); });
  }
  window.reset();
  if (own) fs::remove_all(folder);
  return 0;
}

int baselineMain() {
  std::string folder = makeFolder("empty");
  for (const char* name : {"HtmlRequest.log", "HtmlResponse.log"})
    std::fclose(std::fopen((folder + "/" + name).c_str(), "w"));
  {
    korva::frmHaupt window(folder);
    window.Form_Load();
    QTest::qWait(500);
  }
  std::printf("%ld\n", maxResidentMiB());
  fs::remove_all(folder);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "--baseline") return baselineMain();
  if (argc > 1 && std::string(argv[1]) == "--scale") return scaleMain();
  if (argc > 1 && std::string(argv[1]) == "--colours") {
    colourFigures();
    return 0;
  }

  const long requests = qEnvironmentVariableIsSet("KORVA_BENCH_REQUESTS")
                            ? qEnvironmentVariable("KORVA_BENCH_REQUESTS").toLong()
                            : 1000000;
  std::string folder = generate("million", requests, 600, -1);
  const auto requestLogBytes = static_cast<double>(fs::file_size(folder + "/HtmlRequest.log"));
  {
    QElapsedTimer timer;
    timer.start();
    korva::frmHaupt window(folder);
    window.Form_Load();
    QCoreApplication::processEvents();  // the first paint of the list
    const double startMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf("start-up to the usable window, %ld requests, current index: %.0f ms\n", requests,
                startMs);
    double refreshMs = 1e9;
    for (int i = 0; i < 3; ++i) {
      timer.restart();
      window.mnuDateiAktualisieren_Click();
      refreshMs = std::min(refreshMs, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("refresh alone (F5), %d entries: %.0f ms (best of 3)\n",
                window.requestModel()->count(), refreshMs);
  }
  const long peak = maxResidentMiB();
  QProcess baseline;
  baseline.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--baseline")});
  baseline.waitForFinished(120000);
  const long base = baseline.readAllStandardOutput().trimmed().toLong();
  std::printf(
      "peak memory: %ld MiB, web-engine window on an empty folder %ld MiB, difference "
      "%.2fx the request log (%.0f MiB)\n",
      peak, base, static_cast<double>(peak - base) / (requestLogBytes / 1048576.0),
      requestLogBytes / 1048576.0);
  fs::remove_all(folder);

  firstStartFigures();
  displayFigures(1L << 20, "1MB");
  displayFigures(20L << 20, "20MB");
  dragFigures();
  colourFigures();
  return 0;
}
