// The source view's text box: a QPlainTextEdit with a line-number gutter and a switch between
// wrapped lines and lines that scroll sideways.
#pragma once

#include <QPlainTextEdit>

namespace korva {

class SourceView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit SourceView(QWidget* parent = nullptr);

  // The gutter left of the text: the number of each line (block) in view.
  QWidget* lineNumberArea() const;
  // Wide enough for the highest line number of the text.
  int lineNumberAreaWidth() const;

  // Wrapped at the view's width (the default), or one row per line with a horizontal scroll bar.
  void setWrapped(bool wrapped);
  bool wrapped() const { return lineWrapMode() != QPlainTextEdit::NoWrap; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  class Gutter;

  // `force`: the font changed, so the width does even with as many digits.
  void updateGutterWidth(bool force = false);
  void updateGutter(const QRect& rect, int dy);
  void paintGutter(QPaintEvent* event);

  Gutter* gutter_;
  int digits_ = 0;  // of the highest line number the gutter is sized for
};

}  // namespace korva
