#include "ui/anchor_layout.h"

#include <QFontMetrics>
#include <QWidget>

namespace hitsieve {

void AnchorLayout::Init(QWidget* parent) {
  parent_ = parent;
  initialWidth_ = parent->width();
  initialHeight_ = parent->height();
  entries_.clear();
}

void AnchorLayout::Add(QWidget* control, int flags) {
  entries_.push_back({control, control->geometry(), flags});
}

void AnchorLayout::Apply() {
  if (parent_ == nullptr) return;
  const int dw = parent_->width() - initialWidth_;
  const int dh = parent_->height() - initialHeight_;
  for (const Entry& entry : entries_) {
    int left = entry.rect.x();
    int top = entry.rect.y();
    int right = left + entry.rect.width();
    int bottom = top + entry.rect.height();
    if (!(entry.flags & ANCHOR_TOP)) top += dh;
    if (!(entry.flags & ANCHOR_LEFT)) left += dw;
    if (entry.flags & ANCHOR_RIGHT) right += dw;
    if (entry.flags & ANCHOR_BOTTOM) bottom += dh;
    entry.control->setGeometry(left, top, right - left, bottom - top);
  }
}

namespace {

// The average width of the Latin letters, as dialog templates have always measured it.
int AverageCharWidth(const QFontMetrics& metrics) {
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
}

int Scale(int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; }

}  // namespace

DialogUnits::DialogUnits(const QWidget* widget) {
  const QFontMetrics metrics(widget->font());
  baseX_ = AverageCharWidth(metrics);
  baseY_ = metrics.height();
}

int DialogUnits::X(int units) const { return Scale(units, baseX_, 4); }
int DialogUnits::Y(int units) const { return Scale(units, baseY_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  // Edges are converted, not sizes, so that controls side by side in units stay side by side.
  const int left = X(x), top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

}  // namespace hitsieve
