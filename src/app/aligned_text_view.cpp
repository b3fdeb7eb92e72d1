#include "app/aligned_text_view.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "view/qt_text.h"

namespace korva {

namespace {

constexpr int kTabWidth = 8;
// A line is drawn up to this many columns past the first in view: a page sent as one line of
// megabytes draws what fits.
constexpr int kDrawnColumns = 4096;

// Line backgrounds that read on a light and on a dark palette: a tint of the base colour.
QColor tint(const QPalette& palette, int hue, int strength) {
  const QColor base = palette.color(QPalette::Base);
  const bool dark = base.lightness() < 128;
  const QColor c = QColor::fromHsv(hue, dark ? 160 : 90, dark ? 90 : 255);
  const int a = std::clamp(strength, 0, 255);
  return QColor((c.red() * a + base.red() * (255 - a)) / 255,
                (c.green() * a + base.green() * (255 - a)) / 255,
                (c.blue() * a + base.blue() * (255 - a)) / 255);
}

QColor lineColour(const QPalette& palette, LineMark mark) {
  switch (mark) {
    case LineMark::Removed:
      return tint(palette, 0, 110);
    case LineMark::Added:
      return tint(palette, 120, 110);
    case LineMark::Changed:
      return tint(palette, 50, 110);
    case LineMark::Filler:
      return palette.color(QPalette::Window);
    case LineMark::Equal:
      break;
  }
  return palette.color(QPalette::Base);
}

// The column each character of `line` starts at, tabs expanded; one more entry for the end.
std::vector<int> columnsOf(std::u16string_view line) {
  std::vector<int> columns(line.size() + 1);
  int column = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    columns[i] = column;
    column += line[i] == u'\t' ? kTabWidth - column % kTabWidth : 1;
  }
  columns[line.size()] = column;
  return columns;
}

}  // namespace

AlignedTextView::AlignedTextView(QWidget* parent) : QAbstractScrollArea(parent) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(10.5);
  setFont(font);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
}

void AlignedTextView::setSide(const AlignedText* side, int tintHue) {
  side_ = side;
  tint_ = tintHue;
  current_ = -1;
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  updateScrollBars();
  viewport()->update();
}

int AlignedTextView::lineCount() const { return side_ ? static_cast<int>(side_->marks.size()) : 0; }

int AlignedTextView::topLine() const { return verticalScrollBar()->value(); }

void AlignedTextView::setTopLine(int line) { verticalScrollBar()->setValue(line); }

void AlignedTextView::setCurrentLine(int line) {
  current_ = line;
  viewport()->update();
}

QString AlignedTextView::lineText(int line) const {
  if (!side_ || line < 0) return {};
  return toQString(side_->line(static_cast<std::size_t>(line)));
}

int AlignedTextView::changedRangesIn(int line) const {
  if (!side_ || line < 0) return 0;
  const auto& chars = side_->changedChars;
  auto at = std::lower_bound(chars.begin(), chars.end(), static_cast<std::size_t>(line),
                             [](const auto& c, std::size_t l) { return c.first < l; });
  int n = 0;
  for (; at != chars.end() && at->first == static_cast<std::size_t>(line); ++at)
    if (at->second.end > at->second.begin) ++n;
  return n;
}

void AlignedTextView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateScrollBars();
}

void AlignedTextView::updateScrollBars() {
  const QFontMetrics metrics(font());
  const int rows = std::max(1, viewport()->height() / metrics.height());
  verticalScrollBar()->setRange(0, std::max(0, lineCount() - rows));
  verticalScrollBar()->setPageStep(rows);
  verticalScrollBar()->setSingleStep(1);
  const int width = side_ ? static_cast<int>(std::min<std::size_t>(side_->longestLine, 1u << 22)) *
                                metrics.horizontalAdvance(QLatin1Char('M'))
                          : 0;
  horizontalScrollBar()->setRange(0, std::max(0, width + 8 - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(metrics.horizontalAdvance(QLatin1Char('M')) * 4);
}

void AlignedTextView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  if (!side_) return;
  const QFontMetrics metrics(font());
  const int height = metrics.height();
  const int charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
  const int scrollX = horizontalScrollBar()->value();
  const int firstColumn = scrollX / charWidth;
  const int x0 = 4 + firstColumn * charWidth - scrollX;
  const int width = viewport()->width();
  const int top = topLine();
  const int first = top + event->rect().top() / height;
  const int last = std::min(lineCount() - 1, top + event->rect().bottom() / height);
  const QPalette& pal = palette();
  const QColor changedChars = tint(pal, tint_, 220);
  for (int line = first; line <= last; ++line) {
    const int y = (line - top) * height;
    const LineMark mark = side_->marks[static_cast<std::size_t>(line)];
    if (mark != LineMark::Equal) painter.fillRect(0, y, width, height, lineColour(pal, mark));
    const std::u16string_view text = side_->line(static_cast<std::size_t>(line));
    const std::vector<int> columns = columnsOf(text);
    auto xOf = [&](std::size_t i) { return x0 + (columns[i] - firstColumn) * charWidth; };
    auto at = std::lower_bound(side_->changedChars.begin(), side_->changedChars.end(),
                               static_cast<std::size_t>(line),
                               [](const auto& c, std::size_t l) { return c.first < l; });
    for (; at != side_->changedChars.end() && at->first == static_cast<std::size_t>(line); ++at) {
      const std::size_t b = std::min(at->second.begin, text.size());
      const std::size_t e = std::min(at->second.end, text.size());
      if (e > b) painter.fillRect(QRect(xOf(b), y, xOf(e) - xOf(b), height), changedChars);
    }
    // The characters from the first column in view on, tabs as spaces.
    const auto from = static_cast<std::size_t>(
        std::lower_bound(columns.begin(), columns.end() - 1, firstColumn) - columns.begin());
    QString shown;
    for (std::size_t i = from; i < text.size() && columns[i] < firstColumn + kDrawnColumns; ++i) {
      if (text[i] == u'\t')
        shown.append(QString(columns[i + 1] - columns[i], QLatin1Char(' ')));
      else
        shown.append(QChar(text[i]));
    }
    painter.setPen(pal.color(QPalette::Text));
    painter.drawText(QPoint(from < columns.size() ? xOf(from) : x0, y + metrics.ascent()), shown);
  }
  if (current_ >= first && current_ <= last) {
    painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
    painter.drawRect(QRect(1, (current_ - top) * height, width - 3, height - 1));
  }
}

}  // namespace korva
