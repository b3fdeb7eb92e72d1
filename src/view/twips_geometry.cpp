#include "view/twips_geometry.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <limits>

namespace korva {

TwipsPerPixel screenTwipsPerPixel(const QWidget* widget) {
  const QScreen* screen = widget ? widget->screen() : nullptr;
  if (!screen) return {};
  const double dpiX = screen->logicalDotsPerInchX();
  const double dpiY = screen->logicalDotsPerInchY();
  if (dpiX <= 0 || dpiY <= 0) return {};
  return {static_cast<float>(1440.0 / dpiX), static_cast<float>(1440.0 / dpiY)};
}

namespace {

int toPixel(double twips, double twipsPerPixel) {
  const double pixels = std::round(twips / twipsPerPixel);
  constexpr double kLimit = 1 << 24;  // far beyond any screen, far inside int
  return static_cast<int>(std::clamp(pixels, -kLimit, kLimit));
}

}  // namespace

QRect twipsToPixels(float left, float top, float width, float height, TwipsPerPixel factors) {
  const int x = toPixel(left, factors.x);
  const int y = toPixel(top, factors.y);
  const int right = toPixel(double(left) + width, factors.x);
  const int bottom = toPixel(double(top) + height, factors.y);
  return QRect(x, y, std::max(0, right - x), std::max(0, bottom - y));
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
