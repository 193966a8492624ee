// Dialog units: the layout grid of the window, scaled by the dialog font so
// the arrangement holds whatever font the desktop uses.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace torquelin {

// A dialog unit is a quarter of the font's average character width
// horizontally and an eighth of its height vertically.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const { return units * avgWidth_ / 4; }
  int Y(int units) const { return units * avgHeight_ / 8; }
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }
  QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

  int AvgWidth() const { return avgWidth_; }
  int AvgHeight() const { return avgHeight_; }

 private:
  int avgWidth_;
  int avgHeight_;
};

}  // namespace torquelin
