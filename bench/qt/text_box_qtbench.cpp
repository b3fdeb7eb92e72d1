// Filling the source view: clsTextBox::setText with long texts, up to the first paint; the
// window's SourceView (gutter and colours) beside the plain QPlainTextEdit.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <memory>

#include "view/clsTextBox.h"
#include "view/source_view.h"

namespace {

// About `bytes` characters of log-like lines (70 to 110 characters, CR LF terminated).
QString ordinaryLines(qsizetype bytes) {
  QString text;
  text.reserve(bytes + 200);
  for (int i = 0; text.size() < bytes; ++i) {
    text += QStringLiteral("<tr><td class=\"c%1\">Eintrag %2</td><td>").arg(i % 7).arg(i);
    text += QString(20 + i % 40, QChar(u'a' + i % 26));
    text += QStringLiteral("</td></tr>\r\n");
  }
  return text;
}

// One line of `bytes` characters: minified HTML without a single line break.
QString oneLine(qsizetype bytes) {
  QString text;
  text.reserve(bytes + 100);
  for (int i = 0; text.size() < bytes; ++i)
    text += QStringLiteral("<span class=\"w\">Wort%1</span> ").arg(i);
  return text;
}

struct Fixture {
  QWidget window;
  QPlainTextEdit* edit;
  korva::clsTextBox box;
  QImage canvas{1024, 700, QImage::Format_ARGB32_Premultiplied};

  explicit Fixture(QPlainTextEdit::LineWrapMode wrap,
                   Qt::ScrollBarPolicy bar = Qt::ScrollBarAlwaysOn, bool sourceView = false)
      : edit(sourceView ? new korva::SourceView(&window) : new QPlainTextEdit(&window)) {
    window.resize(1024, 700);
    edit->setGeometry(0, 0, 1024, 700);
    edit->setLineWrapMode(wrap);
    box.setTextBox(edit);
    edit->setVerticalScrollBarPolicy(bar);
    window.show();
    QApplication::processEvents();
  }
  void paint() {
    QPainter painter(&canvas);
    window.render(&painter);
  }
};

const QString& text20MB() {
  static const QString text = ordinaryLines(20 * 1024 * 1024);
  return text;
}
const QString& line5MB() {
  static const QString text = oneLine(5 * 1024 * 1024);
  return text;
}

// Times setText and the first paint after it; reports both parts as counters.
void runSetText(benchmark::State& state, const QString& text, QPlainTextEdit::LineWrapMode wrap,
                Qt::ScrollBarPolicy bar = Qt::ScrollBarAlwaysOn, bool sourceView = false) {
  Fixture f(wrap, bar, sourceView);
  double setMs = 0, paintMs = 0;
  for (auto _ : state) {
    f.box.setText(QString());  // each round starts from an empty view
    QApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    f.box.setText(text);
    const qint64 afterSet = timer.nsecsElapsed();
    QApplication::processEvents();
    f.paint();
    const qint64 total = timer.nsecsElapsed();
    setMs += afterSet / 1e6;
    paintMs += (total - afterSet) / 1e6;
    state.SetIterationTime(total / 1e9);
  }
  state.counters["set_ms"] = benchmark::Counter(setMs, benchmark::Counter::kAvgIterations);
  state.counters["paint_ms"] = benchmark::Counter(paintMs, benchmark::Counter::kAvgIterations);
  state.counters["chars"] = double(text.size());
}

void BM_SetText_Lines20MB_Wrap(benchmark::State& s) {
  runSetText(s, text20MB(), QPlainTextEdit::WidgetWidth);
}
void BM_SetText_Lines20MB_NoWrap(benchmark::State& s) {
  runSetText(s, text20MB(), QPlainTextEdit::NoWrap);
}
void BM_SetText_OneLine5MB_Wrap(benchmark::State& s) {
  runSetText(s, line5MB(), QPlainTextEdit::WidgetWidth);
}
void BM_SetText_OneLine5MB_NoWrap(benchmark::State& s) {
  runSetText(s, line5MB(), QPlainTextEdit::NoWrap);
}
// Qt's default scroll bar policy, against which the adapter's always-on policy was chosen.
void BM_SetText_OneLine5MB_ScrollBarAsNeeded(benchmark::State& s) {
  runSetText(s, line5MB(), QPlainTextEdit::WidgetWidth, Qt::ScrollBarAsNeeded);
}

// The window's source view with its gutter and colours: a line over the colour limit stays plain.
void BM_SetText_OneLine5MB_SourceView(benchmark::State& s) {
  runSetText(s, line5MB(), QPlainTextEdit::WidgetWidth, Qt::ScrollBarAlwaysOn, true);
}
void BM_SetText_Lines20MB_SourceView(benchmark::State& s) {
  runSetText(s, text20MB(), QPlainTextEdit::WidgetWidth, Qt::ScrollBarAlwaysOn, true);
}

// Why that line stays plain: formats on its first 100,000 characters alone make the next paint
// lay out the whole line again.
void BM_FormatsOnTheStartOfOneLine5MB(benchmark::State& state) {
  Fixture f(QPlainTextEdit::WidgetWidth);
  f.box.setText(line5MB());
  f.paint();
  QTextCharFormat blue, red;
  blue.setForeground(Qt::blue);
  red.setForeground(Qt::red);
  int round = 0;
  for (auto _ : state) {
    QList<QTextLayout::FormatRange> ranges;
    for (int at = 0; at < 100000; at += 20) ranges.push_back({at, 5, round % 2 ? blue : red});
    ++round;
    QElapsedTimer timer;
    timer.start();
    f.edit->document()->firstBlock().layout()->setFormats(ranges);
    f.paint();
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
  }
}

// What the search pays for each F3: reading the whole text back.
void BM_Text_Get20MB(benchmark::State& state) {
  Fixture f(QPlainTextEdit::WidgetWidth);
  f.box.setText(text20MB());
  for (auto _ : state) benchmark::DoNotOptimize(f.box.Text());
}

// Selecting near the end of 20 MB and painting the scrolled view.
void BM_SelectNearEnd20MB(benchmark::State& state) {
  Fixture f(QPlainTextEdit::WidgetWidth);
  f.box.setText(text20MB());
  const int far = int(f.box.Text().size()) - 1000;
  int round = 0;
  for (auto _ : state) {
    f.box.setSelStart(far - (round++ % 2) * 500000);
    f.box.setSelLength(10);
    f.paint();
  }
}

BENCHMARK(BM_SetText_Lines20MB_Wrap)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetText_Lines20MB_NoWrap)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetText_OneLine5MB_Wrap)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetText_OneLine5MB_NoWrap)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetText_OneLine5MB_ScrollBarAsNeeded)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetText_OneLine5MB_SourceView)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetText_Lines20MB_SourceView)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatsOnTheStartOfOneLine5MB)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Text_Get20MB)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectNearEnd20MB)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
