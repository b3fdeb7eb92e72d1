// Twips geometry of a widget: the window places its controls in single-precision twips
// (1/1440 inch), Qt in whole pixels.
#pragma once

#include <QPointer>
#include <QRect>
#include <cstdint>

#include "view/twips.h"

class QWidget;

namespace korva {

// Twips per pixel, horizontally and vertically (15 at 96 dpi).
struct TwipsPerPixel {
  float x = 15.0f;
  float y = 15.0f;
};

// twipsRectToPixels as a QRect.
QRect twipsToPixels(float left, float top, float width, float height, TwipsPerPixel factors);

// Keeps the twips values last assigned to one widget and applies them as pixel geometry.
// When the widget's pixel geometry no longer matches what was applied (the widget refused a
// size, or someone else moved it), the twips are taken from the pixels instead, so reading
// back always describes where the widget really is.
class TwipsGeometry {
 public:
  // Binds the widget (not owned); its current pixel geometry becomes the twips values.
  void setWidget(QWidget* widget);
  void setTwipsPerPixel(TwipsPerPixel factors);
  TwipsPerPixel twipsPerPixel() const { return factors_; }

  float left() const;
  float top() const;
  float width() const;
  float height() const;
  void setLeft(float twips);
  void setTop(float twips);
  void setWidth(float twips);
  void setHeight(float twips);

 private:
  struct Twips {
    float left = 0, top = 0, width = 0, height = 0;
  };
  const Twips& current() const;
  void assign(Twips value);

  QPointer<QWidget> widget_;
  TwipsPerPixel factors_;
  mutable Twips twips_;
  mutable QRect applied_;
};

}  // namespace korva
