// The source view's text box: a QPlainTextEdit with a line-number gutter, a switch between
// wrapped lines and lines that scroll sideways, and syntax colours.
//
// The colours are laid on lazily, block by block, as blocks come into view: a block's layout gets
// its formats (QTextLayout::setFormats) just before it is first painted, so a 20 MB text costs no
// more at its display than a plain one. Each block's tokenizer state at its start is kept in its
// QTextBlock::userState, computed forward from the last block whose state is known, in slices of
// a few milliseconds when the view jumps far ahead.
#pragma once

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTimer>
#include <array>
#include <cstdint>
#include <vector>

#include "view/html_tokens.h"

namespace korva {

class SourceView : public QPlainTextEdit {
  Q_OBJECT

 public:
  // Lines longer than this (in UTF-16 units) stay plain: giving one formats lays the whole line
  // out anew, which takes most of a second for a line of 5 MB.
  static constexpr int kColourLimit = 100000;

  explicit SourceView(QWidget* parent = nullptr);

  // The gutter left of the text: the number of each line (block) in view.
  QWidget* lineNumberArea() const;
  // Wide enough for the highest line number of the text.
  int lineNumberAreaWidth() const;

  // Shows `document`, which a thread of its own filled with a long text (building the blocks of
  // a million lines takes seconds, which the window need not wait for); it must use a
  // QPlainTextDocumentLayout and live on this view's thread by now. The view owns it from here.
  void adoptDocument(QTextDocument* document);

  // Wrapped at the view's width (the default), or one row per line with a horizontal scroll bar.
  void setWrapped(bool wrapped);
  bool wrapped() const { return lineWrapMode() != QPlainTextEdit::NoWrap; }

  // Syntax colours, on by default; off shows the text plain.
  void setColoured(bool coloured);
  bool coloured() const { return coloured_; }
  // True once a line in view was left plain for its length; false again with a new text.
  bool longLineLeftPlain() const { return longLinePlain_; }
  // The longest colouring step since the last call, in milliseconds (for the benchmark).
  double takeLongestColourStep();
  // True while block states are still being computed towards the blocks in view.
  bool colouringPending() const { return scanTimer_.isActive(); }

 signals:
  void longLineLeftPlainChanged(bool plain);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  class Gutter;

  // `force`: the font changed, so the width does even with as many digits.
  void updateGutterWidth(bool force = false);
  void updateGutter(const QRect& rect, int dy);
  void paintGutter(QPaintEvent* event);

  // Forgets every state and colour: the text was replaced or the palette changed.
  void resetColours();
  void choosePalette();
  // Colours what is in view and a margin around it; computes states as far as a time slice
  // allows and leaves the rest to scanTimer_.
  void colourInView();
  // Tokenizes forward until block `target` has its start state or `budgetNs` is spent.
  bool advanceStates(int target, qint64 budgetNs);
  void colourBlock(const QTextBlock& block);
  void continueScan();
  void noteStep(qint64 ns);
  void watchDocument();

  Gutter* gutter_;
  int digits_ = 0;  // of the highest line number the gutter is sized for

  bool coloured_ = true;
  bool applying_ = false;  // our own format changes are no new text
  bool longLinePlain_ = false;
  std::vector<std::uint8_t> done_;  // per block: its formats are set
  // The forward scan: the block whose start state is known last, how far into it the tokenizer
  // has read (a long line is read in pieces) and the state there.
  QTextBlock scanBlock_;
  QString scanText_;
  int scanOffset_ = 0;
  HtmlState scanState_;
  int scanTarget_ = 0;
  QTimer scanTimer_;
  std::array<QTextCharFormat, 8> formats_;  // by colour slot; see source_view.cpp
  qint64 longestStepNs_ = 0;
};

}  // namespace korva
