// Placing controls for a grown window.
#include "ui/stretch_layout.h"

#include <cmath>

#include <QWidget>

namespace torquelin {

void StretchLayout::Place(QWidget* control, const QRect& designed, const Stretch& stretch) {
  control->setGeometry(designed);
  items_.push_back({control, designed, stretch});
}

void StretchLayout::Apply(int extraWidth, int extraHeight) const {
  const int dx = extraWidth > 0 ? extraWidth : 0;
  const int dy = extraHeight > 0 ? extraHeight : 0;
  auto part = [](int extra, double share) { return static_cast<int>(std::lround(extra * share)); };
  for (const Item& item : items_) {
    const Stretch& s = item.stretch;
    QRect r = item.designed;
    r.translate(part(dx, s.moveX), part(dy, s.moveY));
    r.setWidth(r.width() + part(dx, s.growX));
    r.setHeight(r.height() + part(dy, s.growY));
    item.control->setGeometry(r);
  }
}

}  // namespace torquelin
