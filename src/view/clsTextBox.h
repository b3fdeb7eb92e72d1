// clsTextBox: the one interface through which the window reaches the source text box.
#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "view/twips_geometry.h"

namespace korva {

// Wraps the source view's QPlainTextEdit. Selections are full 32-bit character positions
// (QTextCursor positions: a CR LF or a lone CR of the text set counts as one separator, and
// Text() reports it as "\n", so positions found in Text() select the same characters).
// Geometry is in twips: the bound control keeps single-precision twips, the integer
// properties round them half to even. Every member needs a bound text box; unbound, getters
// return 0 or an empty string and setters do nothing. The text box is not owned and may be
// destroyed first.
class clsTextBox {
 public:
  // Binds the text box and sets it up for long texts: read-only for the user but selectable by
  // mouse and keyboard (so the caret of a selection shows), no undo history, vertical scroll
  // bar always on.
  void setTextBox(QPlainTextEdit* textBox);
  QPlainTextEdit* TextBox() const { return box_; }

  // The screen's twips per pixel (15 at 96 dpi), used for all geometry from now on.
  void setTwipsPerPixel(float horizontal, float vertical);

  // Replaces the whole text and puts the caret at the start. As with a zero-terminated copy,
  // a text holding a zero character keeps only what comes before it.
  void setText(const QString& text);
  QString Text() const;

  void SetFocus();

  std::int32_t SelStart() const;
  // Moves the selection to `start`, keeping its length, and scrolls the caret into view.
  void setSelStart(std::int32_t start);
  std::int32_t SelLength() const;
  // Sets the selection's length, keeping its start, and scrolls the caret into view.
  void setSelLength(std::int32_t length);

  std::int32_t Left() const;
  std::int32_t Top() const;
  std::int32_t Width() const;
  std::int32_t Height() const;
  void setLeft(std::int32_t twips);
  void setTop(std::int32_t twips);
  void setWidth(std::int32_t twips);
  void setHeight(std::int32_t twips);

  // -1 while the control is shown (or would be once its window is), 0 when hidden.
  std::int32_t Visible() const;
  // Any non-zero value shows the control, 0 hides it.
  void setVisible(std::int32_t visible);

  // The control's own single-precision twips, for placing it at fractional positions.
  TwipsGeometry& controlGeometry() { return geometry_; }
  const TwipsGeometry& controlGeometry() const { return geometry_; }

 private:
  // Selects [start, end) with the caret at `end`, both clamped to the text.
  void select(std::int64_t start, std::int64_t end);

  QPointer<QPlainTextEdit> box_;
  TwipsGeometry geometry_;
};

}  // namespace korva
