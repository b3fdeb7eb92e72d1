// One side of the comparison, painted straight from the aligned lines: only the lines in view are
// drawn, so two 20 MB responses show at once, where a text document would lay out every line
// first. Lines keep one height and never wrap, so the two sides stay aligned line for line.
#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include "viewer/comparison.h"

namespace korva {

class AlignedTextView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit AlignedTextView(QWidget* parent = nullptr);

  // Shows `side` (null: nothing), which must stay alive and unchanged while shown; `tint` is the
  // hue of its changed characters.
  void setSide(const AlignedText* side, int tint);
  int lineCount() const;
  // The first line in view; scrolling moves it.
  int topLine() const;
  void setTopLine(int line);
  // The first line of the change shown, framed; -1 for none.
  void setCurrentLine(int line);
  int currentLine() const { return current_; }
  QString lineText(int line) const;
  // The character ranges painted as changed in `line`, in characters.
  int changedRangesIn(int line) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateScrollBars();

  const AlignedText* side_ = nullptr;
  int tint_ = 0;
  int current_ = -1;
};

}  // namespace korva
