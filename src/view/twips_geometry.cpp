#include "view/twips_geometry.h"

#include <QWidget>

namespace korva {

QRect twipsToPixels(float left, float top, float width, float height, TwipsPerPixel factors) {
  const PixelRect p = twipsRectToPixels(left, top, width, height, factors.x, factors.y);
  return QRect(p.left, p.top, p.width, p.height);
}

void TwipsGeometry::setWidget(QWidget* widget) {
  widget_ = widget;
  applied_ = QRect();
  current();
}

void TwipsGeometry::setTwipsPerPixel(TwipsPerPixel factors) {
  if (factors.x <= 0 || factors.y <= 0) return;
  factors_ = factors;
  if (widget_) assign(twips_);
}

const TwipsGeometry::Twips& TwipsGeometry::current() const {
  if (widget_ && widget_->geometry() != applied_) {
    const QRect r = widget_->geometry();
    twips_ = {float(r.x() * factors_.x), float(r.y() * factors_.y), float(r.width() * factors_.x),
              float(r.height() * factors_.y)};
    applied_ = r;
  }
  return twips_;
}

void TwipsGeometry::assign(Twips value) {
  twips_ = value;
  if (!widget_) return;
  const QRect wanted = twipsToPixels(value.left, value.top, value.width, value.height, factors_);
  widget_->setGeometry(wanted);
  applied_ = widget_->geometry();
  // A widget that keeps a different size than asked for reports where it really is.
  if (applied_ != wanted) applied_ = QRect();
  current();
}

float TwipsGeometry::left() const { return current().left; }
float TwipsGeometry::top() const { return current().top; }
float TwipsGeometry::width() const { return current().width; }
float TwipsGeometry::height() const { return current().height; }

void TwipsGeometry::setLeft(float twips) {
  Twips t = current();
  t.left = twips;
  assign(t);
}
void TwipsGeometry::setTop(float twips) {
  Twips t = current();
  t.top = twips;
  assign(t);
}
void TwipsGeometry::setWidth(float twips) {
  Twips t = current();
  t.width = twips;
  assign(t);
}
void TwipsGeometry::setHeight(float twips) {
  Twips t = current();
  t.height = twips;
  assign(t);
}

}  // namespace korva
