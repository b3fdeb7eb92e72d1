#include "view/source_view.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>

namespace korva {

constexpr int kGutterPadding = 4;  // pixels each side of the numbers

class SourceView::Gutter : public QWidget {
 public:
  explicit Gutter(SourceView* view) : QWidget(view), view_(view) {
    setObjectName(QStringLiteral("lineNumberArea"));
  }
  QSize sizeHint() const override { return {view_->lineNumberAreaWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { view_->paintGutter(event); }

 private:
  SourceView* view_;
};

SourceView::SourceView(QWidget* parent) : QPlainTextEdit(parent), gutter_(new Gutter(this)) {
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateGutterWidth(); });
  connect(this, &QPlainTextEdit::updateRequest, this, &SourceView::updateGutter);
  updateGutterWidth();
}

QWidget* SourceView::lineNumberArea() const { return gutter_; }

int SourceView::lineNumberAreaWidth() const {
  return 2 * kGutterPadding + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits_;
}

void SourceView::setWrapped(bool wrapped) {
  setLineWrapMode(wrapped ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void SourceView::updateGutterWidth(bool force) {
  int digits = 1;
  for (int n = std::max(1, blockCount()); n >= 10; n /= 10) ++digits;
  // The margin changes only with the count of digits: a new width lays the text out anew.
  if (digits == digits_ && !force) return;
  digits_ = digits;
  setViewportMargins(lineNumberAreaWidth(), 0, 0, 0);
  const QRect area = contentsRect();
  gutter_->setGeometry(area.left(), area.top(), lineNumberAreaWidth(), area.height());
}

void SourceView::updateGutter(const QRect& rect, int dy) {
  if (dy != 0)
    gutter_->scroll(0, dy);
  else
    gutter_->update(0, rect.y(), gutter_->width(), rect.height());
}

void SourceView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  const QRect area = contentsRect();
  gutter_->setGeometry(area.left(), area.top(), lineNumberAreaWidth(), area.height());
}

void SourceView::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  if (event->type() == QEvent::FontChange) updateGutterWidth(true);
}

// Only the blocks in view are visited: a text of a million lines paints as fast as a short one.
void SourceView::paintGutter(QPaintEvent* event) {
  QPainter painter(gutter_);
  const QPalette& colours = palette();
  painter.fillRect(event->rect(), colours.color(QPalette::Window));
  painter.setPen(colours.color(QPalette::PlaceholderText));
  painter.setFont(font());
  QTextBlock block = firstVisibleBlock();
  int number = block.blockNumber() + 1;
  qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
  const int lineHeight = fontMetrics().height();
  const int textWidth = gutter_->width() - kGutterPadding;
  while (block.isValid() && top <= event->rect().bottom()) {
    const qreal bottom = top + blockBoundingRect(block).height();
    if (block.isVisible() && bottom >= event->rect().top())
      painter.drawText(0, static_cast<int>(top), textWidth, lineHeight, Qt::AlignRight,
                       QString::number(number));
    block = block.next();
    top = bottom;
    ++number;
  }
}

}  // namespace korva
