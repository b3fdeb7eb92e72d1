// Rendering cost of growing table-heavy bodies in RenderedView: time until the body is set,
// time until its layout is done, and the renderer's memory. The source of the view's cap.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWebEngineScript>
#include <algorithm>
#include <limits>
#include <memory>

#include "view/rendered_view.h"

using korva::RenderedView;

namespace {

constexpr int kTimeoutMs = 120000;

// Runs the event loop until `done()` holds or `timeoutMs` have passed.
template <typename Predicate>
bool waitFor(Predicate done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  QTimer tick;  // wakes the loop to look at `done` again
  tick.start(5);
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Table-heavy HTML of about `bytes` characters, like a captured report page: rows of links,
// text cells with classes and inline styles, and a nested table every few rows.
QString tableHtml(qsizetype bytes) {
  QString html;
  html.reserve(bytes + 1000);
  html += QStringLiteral(
      "<style>td{border:1px solid #ccc;padding:2px}.n{text-align:right}</style>"
      "<table cellspacing=0 width=100%>\r\n");
  for (int i = 0; html.size() < bytes; ++i) {
    html += QStringLiteral(
                "<tr class=r%1><td class=n>%2</td><td><a href=\"/artikel?id=%2\">Artikel %2</a>"
                "</td><td style=\"color:#%3\">Beschreibung des Eintrags %2 mit etwas Text</td>"
                "<td class=n>%4,%5 &euro;</td>")
                .arg(i % 2)
                .arg(i)
                .arg(i % 0x1000, 3, 16, QChar(u'0'))
                .arg(i % 997)
                .arg(i % 100, 2, 10, QChar(u'0'));
    if (i % 5 == 0)
      html += QStringLiteral(
          "<td><table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table></td>");
    else
      html += QStringLiteral("<td>-</td>");
    html += QStringLiteral("</tr>\r\n");
  }
  html += QStringLiteral("</table>");
  return html;
}

// Resident and peak resident set of a process in MiB, from /proc.
struct Memory {
  double rssMiB = 0;
  double peakMiB = 0;
};
Memory processMemory(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  Memory m;
  if (!status.open(QIODevice::ReadOnly)) return m;
  for (const QByteArray& line : status.readAll().split('\n')) {
    const auto kib = [&line] { return line.mid(6).trimmed().split(' ').value(0).toDouble(); };
    if (line.startsWith("VmRSS:")) m.rssMiB = kib() / 1024;
    if (line.startsWith("VmHWM:")) m.peakMiB = kib() / 1024;
  }
  return m;
}

RenderedView& view() {
  static RenderedView* v = [] {
    auto* created = new RenderedView();
    created->resize(1024, 700);
    created->show();
    created->navigateBlank();
    waitFor([created] { return created->isBlankLoaded(); }, kTimeoutMs);
    return created;
  }();
  return *v;
}

bool setBody(const QString& html) {
  bool done = false;
  const auto c1 = QObject::connect(&view(), &RenderedView::bodySet, [&] { done = true; });
  const auto c2 = QObject::connect(&view(), &RenderedView::bodyDropped, [&] { done = true; });
  view().setBodyHtml(html);
  waitFor([&] { return done; }, kTimeoutMs);
  QObject::disconnect(c1);
  QObject::disconnect(c2);
  return done;
}

// Reading offsetHeight makes the renderer finish style and layout first.
int layoutHeight() {
  int height = -1;
  bool done = false;
  view().page()->runJavaScript(QStringLiteral("document.body.offsetHeight"),
                               QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
                                 height = v.toInt();
                                 done = true;
                               });
  waitFor([&] { return done; }, kTimeoutMs);
  return height;
}

void measure(benchmark::State& state, qsizetype capChars) {
  const QString html = tableHtml(state.range(0) * 1024);
  view().setCapChars(capChars);
  double setMs = 0, layoutMs = 0, rssMiB = 0;
  for (auto _ : state) {
    setBody(QString());
    layoutHeight();
    QElapsedTimer timer;
    timer.start();
    if (!setBody(html)) state.SkipWithError("body not set");
    const qint64 afterSet = timer.nsecsElapsed();
    if (layoutHeight() <= 0) state.SkipWithError("no layout");
    const qint64 total = timer.nsecsElapsed();
    state.SetIterationTime(total / 1e9);
    setMs += afterSet / 1e6;
    layoutMs += (total - afterSet) / 1e6;
    rssMiB = std::max(rssMiB, processMemory(view().page()->renderProcessPid()).rssMiB);
  }
  const Memory m = processMemory(view().page()->renderProcessPid());
  state.counters["set_ms"] = benchmark::Counter(setMs, benchmark::Counter::kAvgIterations);
  state.counters["layout_ms"] = benchmark::Counter(layoutMs, benchmark::Counter::kAvgIterations);
  state.counters["renderer_rss_MiB"] = rssMiB;
  state.counters["renderer_peak_MiB"] = m.peakMiB;
  state.counters["chars"] = double(html.size());
}

// Whole bodies, no cap: what a cap has to protect against. Argument: size in KiB.
void BM_InnerHtml_Uncapped(benchmark::State& state) {
  measure(state, std::numeric_limits<qsizetype>::max());
}
// The same bodies under the view's own cap.
void BM_InnerHtml_DefaultCap(benchmark::State& state) {
  measure(state, RenderedView::kDefaultCapChars);
}

BENCHMARK(BM_InnerHtml_Uncapped)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(1536)
    ->Arg(2048)
    ->Arg(4096)
    ->Arg(8192)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InnerHtml_DefaultCap)
    ->Arg(16384)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
