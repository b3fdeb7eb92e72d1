#include "view/source_view.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <string_view>

namespace korva {
namespace {

constexpr int kGutterPadding = 4;      // pixels each side of the numbers
constexpr int kMarginBlocks = 40;      // coloured beyond the view on each side, for the next scroll
constexpr int kScanPiece = 64 * 1024;  // units tokenized between two looks at the clock
constexpr qint64 kSliceNs = 4 * 1000 * 1000;  // one step of the forward scan

// Colour slots: 0 plain, 1 tags, 2 attribute names, 3 attribute values, 4 comments, 5 the
// doctype, 6 character references, 7 strings of scripts and style sheets.
int slotOf(HtmlTokenKind kind) {
  switch (kind) {
    case HtmlTokenKind::TagBracket:
    case HtmlTokenKind::TagName:
      return 1;
    case HtmlTokenKind::AttributeName:
      return 2;
    case HtmlTokenKind::AttributeValue:
      return 3;
    case HtmlTokenKind::Comment:
    case HtmlTokenKind::ScriptComment:
    case HtmlTokenKind::CssComment:
      return 4;
    case HtmlTokenKind::Doctype:
      return 5;
    case HtmlTokenKind::CharacterReference:
      return 6;
    case HtmlTokenKind::ScriptString:
    case HtmlTokenKind::CssString:
      return 7;
    default:
      return 0;
  }
}

// One palette in two brightnesses: dark colours on a light base, light ones on a dark base, each
// far enough from its base to read.
constexpr QRgb kOnLight[8] = {0,        0x1F4E9C, 0x8A4B00, 0x1D7A1D,
                              0x6B7280, 0x7B3FB0, 0xB0282F, 0x0B6E79};
constexpr QRgb kOnDark[8] = {0,        0x82AAFF, 0xF0B26A, 0x9AD28A,
                             0x9AA3AD, 0xC8A2FF, 0xFF8F8F, 0x7FD6DD};

std::u16string_view unitsOf(const QString& text, int from, int count) {
  return {reinterpret_cast<const char16_t*>(text.utf16()) + from, static_cast<std::size_t>(count)};
}

// The forward scan needs the states only.
constexpr auto ignoreToken = [](const HtmlToken&) {};

}  // namespace

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
  watchDocument();
  scanTimer_.setSingleShot(true);
  scanTimer_.setInterval(0);
  connect(&scanTimer_, &QTimer::timeout, this, &SourceView::continueScan);
  updateGutterWidth();
  choosePalette();
  resetColours();
}

void SourceView::watchDocument() {
  connect(document(), &QTextDocument::contentsChange, this, [this] {
    if (!applying_) resetColours();
  });
}

namespace {

int digitsOf(int lines) {
  int digits = 1;
  for (int n = std::max(1, lines); n >= 10; n /= 10) ++digits;
  return digits;
}

}  // namespace

void SourceView::adoptDocument(QTextDocument* document) {
  // The view's first document belongs to its text control, which deletes it when replaced;
  // later ones belong to the view.
  QTextDocument* old = this->document();
  bool ours = old->parent() == this;
  document->setParent(this);
  document->setDefaultFont(font());
  const int digits = digitsOf(document->blockCount());
  if (digits != digits_) {
    // A new gutter width lays out every line of the document in place: let that be an empty
    // one, so that the new document is laid out once, by setDocument.
    auto* empty = new QTextDocument(this);
    empty->setDocumentLayout(new QPlainTextDocumentLayout(empty));
    setDocument(empty);
    if (ours) old->deleteLater();
    old = empty;
    ours = true;
    digits_ = digits;
    setViewportMargins(lineNumberAreaWidth(), 0, 0, 0);
  }
  setDocument(document);
  if (ours) old->deleteLater();
  watchDocument();
  updateGutterWidth(true);
  resetColours();
  viewport()->update();
}

QWidget* SourceView::lineNumberArea() const { return gutter_; }

int SourceView::lineNumberAreaWidth() const {
  return 2 * kGutterPadding + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits_;
}

void SourceView::setWrapped(bool wrapped) {
  setLineWrapMode(wrapped ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void SourceView::updateGutterWidth(bool force) {
  const int digits = digitsOf(blockCount());
  // The margin changes only with the count of digits: a new width lays the text out anew.
  if (digits == digits_ && !force) return;
  digits_ = digits;
  setViewportMargins(lineNumberAreaWidth(), 0, 0, 0);  // the same margins lay out nothing
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
  if (event->type() == QEvent::PaletteChange) {
    choosePalette();
    done_.assign(done_.size(), 0);  // coloured anew as they come into view
    viewport()->update();
  }
}

void SourceView::choosePalette() {
  const QPalette& colours = palette();
  const bool dark =
      colours.color(QPalette::Base).lightness() < colours.color(QPalette::Text).lightness();
  for (std::size_t slot = 1; slot < formats_.size(); ++slot)
    formats_[slot].setForeground(QColor(dark ? kOnDark[slot] : kOnLight[slot]));
}

void SourceView::setColoured(bool coloured) {
  if (coloured == coloured_) return;
  coloured_ = coloured;
  if (!coloured) {
    applying_ = true;
    int n = 0;
    for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next(), ++n)
      if (n < static_cast<int>(done_.size()) && done_[n]) block.layout()->clearFormats();
    applying_ = false;
  }
  resetColours();
  viewport()->update();
}

double SourceView::takeLongestColourStep() {
  const double ms = static_cast<double>(longestStepNs_) / 1e6;
  longestStepNs_ = 0;
  return ms;
}

void SourceView::noteStep(qint64 ns) { longestStepNs_ = std::max(longestStepNs_, ns); }

void SourceView::resetColours() {
  scanTimer_.stop();
  done_.assign(static_cast<std::size_t>(std::max(0, blockCount())), 0);
  scanBlock_ = document()->firstBlock();
  scanBlock_.setUserState(encode(HtmlState{}));
  scanText_ = scanBlock_.text();
  scanOffset_ = 0;
  scanState_ = HtmlState{};
  if (longLinePlain_) {
    longLinePlain_ = false;
    emit longLineLeftPlainChanged(false);
  }
}

void SourceView::paintEvent(QPaintEvent* event) {
  if (coloured_) colourInView();
  QPlainTextEdit::paintEvent(event);
}

void SourceView::colourInView() {
  QElapsedTimer clock;
  clock.start();
  const QTextBlock first = firstVisibleBlock();
  if (!first.isValid()) return;
  // The blocks the paint will draw, as it finds them.
  const qreal height = viewport()->height();
  qreal top = blockBoundingGeometry(first).translated(contentOffset()).top();
  int last = first.blockNumber();
  for (QTextBlock block = first; block.isValid() && top <= height; block = block.next()) {
    last = block.blockNumber();
    top += blockBoundingRect(block).height();
  }
  const int from = std::max(0, first.blockNumber() - kMarginBlocks);
  const int to = std::min(blockCount() - 1, last + kMarginBlocks);
  if (!advanceStates(to, kSliceNs)) {
    scanTarget_ = to;
    scanTimer_.start();
  }
  const int known = scanBlock_.blockNumber();
  QTextBlock block = document()->findBlockByNumber(from);
  for (int n = from; n <= std::min(to, known) && block.isValid(); ++n, block = block.next())
    colourBlock(block);
  noteStep(clock.nsecsElapsed());
}

bool SourceView::advanceStates(int target, qint64 budgetNs) {
  QElapsedTimer clock;
  clock.start();
  while (scanBlock_.isValid() && scanBlock_.blockNumber() < target) {
    const int count = std::min<int>(static_cast<int>(scanText_.size()) - scanOffset_, kScanPiece);
    scanState_ = tokenizeHtml(unitsOf(scanText_, scanOffset_, count), scanState_, ignoreToken);
    scanOffset_ += count;
    if (scanOffset_ >= scanText_.size()) {
      QTextBlock next = scanBlock_.next();
      if (!next.isValid()) break;
      scanState_ = tokenizeHtml(u"\n", scanState_, ignoreToken);  // the line break between
      next.setUserState(encode(scanState_));
      scanBlock_ = next;
      scanText_ = next.text();
      scanOffset_ = 0;
    }
    if (clock.nsecsElapsed() > budgetNs) break;
  }
  return scanBlock_.blockNumber() >= target;
}

void SourceView::continueScan() {
  QElapsedTimer clock;
  clock.start();
  const bool reached = advanceStates(scanTarget_, kSliceNs);
  noteStep(clock.nsecsElapsed());
  if (reached)
    viewport()->update();  // the paint colours what is in view now
  else
    scanTimer_.start();
}

void SourceView::colourBlock(const QTextBlock& block) {
  const auto n = static_cast<std::size_t>(block.blockNumber());
  if (n >= done_.size() || done_[n]) return;
  done_[n] = 1;
  if (block.length() - 1 > kColourLimit) {
    if (!longLinePlain_) {
      longLinePlain_ = true;
      emit longLineLeftPlainChanged(true);
    }
    return;
  }
  const QString text = block.text();
  QList<QTextLayout::FormatRange> ranges;
  tokenizeHtml(unitsOf(text, 0, static_cast<int>(text.size())), decode(block.userState()),
               [&](const HtmlToken& token) {
                 const int slot = slotOf(token.kind);
                 if (slot == 0) return;
                 const int start = static_cast<int>(token.start);
                 const int length = static_cast<int>(token.length);
                 if (!ranges.isEmpty() && ranges.back().start + ranges.back().length == start &&
                     ranges.back().format == formats_[static_cast<std::size_t>(slot)])
                   ranges.back().length += length;
                 else
                   ranges.push_back({start, length, formats_[static_cast<std::size_t>(slot)]});
               });
  if (ranges.isEmpty()) return;
  applying_ = true;
  block.layout()->setFormats(ranges);
  applying_ = false;
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
