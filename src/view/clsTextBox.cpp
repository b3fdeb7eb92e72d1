#include "view/clsTextBox.h"

#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace korva {

void clsTextBox::setTextBox(QPlainTextEdit* textBox) {
  box_ = textBox;
  geometry_.setWidget(textBox);
  if (!textBox) return;
  // An undo stack would hold a second copy of every text set.
  textBox->setUndoRedoEnabled(false);
  textBox->setReadOnly(true);
  textBox->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // A scroll bar that appears only once a long text is in narrows the viewport and makes the
  // widget lay the whole text out a second time; for one 5 MB line that doubled the time.
  textBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void clsTextBox::setTwipsPerPixel(float horizontal, float vertical) {
  geometry_.setTwipsPerPixel({horizontal, vertical});
}

void clsTextBox::setText(const QString& text) {
  if (!box_) return;
  const qsizetype nul = text.indexOf(QChar(u'\0'));
  box_->setPlainText(nul < 0 ? text : text.left(nul));
}

QString clsTextBox::Text() const { return box_ ? box_->toPlainText() : QString(); }

void clsTextBox::SetFocus() {
  if (box_) box_->setFocus(Qt::OtherFocusReason);
}

std::int32_t clsTextBox::SelStart() const { return box_ ? box_->textCursor().selectionStart() : 0; }

std::int32_t clsTextBox::SelLength() const {
  if (!box_) return 0;
  const QTextCursor cursor = box_->textCursor();
  return cursor.selectionEnd() - cursor.selectionStart();
}

void clsTextBox::setSelStart(std::int32_t start) {
  const std::int32_t length = SelLength();
  select(start, std::int64_t(start) + length);
}

void clsTextBox::setSelLength(std::int32_t length) {
  const std::int32_t start = SelStart();
  select(start, std::int64_t(start) + length);
}

void clsTextBox::select(std::int64_t start, std::int64_t end) {
  if (!box_) return;
  // The last cursor position lies after the final character; QTextCursor ignores positions
  // beyond it, an edit control clamps them.
  const std::int64_t last = std::max(0, box_->document()->characterCount() - 1);
  QTextCursor cursor(box_->document());
  cursor.setPosition(int(std::clamp<std::int64_t>(start, 0, last)));
  cursor.setPosition(int(std::clamp<std::int64_t>(end, 0, last)), QTextCursor::KeepAnchor);
  box_->setTextCursor(cursor);
  box_->ensureCursorVisible();
}

std::int32_t clsTextBox::Left() const { return roundHalfEven(geometry_.left()); }
std::int32_t clsTextBox::Top() const { return roundHalfEven(geometry_.top()); }
std::int32_t clsTextBox::Width() const { return roundHalfEven(geometry_.width()); }
std::int32_t clsTextBox::Height() const { return roundHalfEven(geometry_.height()); }
void clsTextBox::setLeft(std::int32_t twips) { geometry_.setLeft(float(twips)); }
void clsTextBox::setTop(std::int32_t twips) { geometry_.setTop(float(twips)); }
void clsTextBox::setWidth(std::int32_t twips) { geometry_.setWidth(float(twips)); }
void clsTextBox::setHeight(std::int32_t twips) { geometry_.setHeight(float(twips)); }

std::int32_t clsTextBox::Visible() const {
  if (!box_) return 0;
  const QWidget* parent = box_->parentWidget();
  const bool shown = parent ? box_->isVisibleTo(parent) : box_->isVisible();
  return shown ? -1 : 0;
}

void clsTextBox::setVisible(std::int32_t visible) {
  if (box_) box_->setVisible(visible != 0);
}

}  // namespace korva
