// Controls placed in dialog units that follow the window as it grows beyond
// its designed size.
#pragma once

#include <vector>

#include <QRect>

class QWidget;

namespace torquelin {

// The share of the extra width and height a control moves by and grows by:
// a field that widens with the window has growX 1, the button right of it
// moveX 1.
struct Stretch {
  double moveX = 0, growX = 0, moveY = 0, growY = 0;
};

inline constexpr Stretch kFixed{};
inline constexpr Stretch kGrowWide{0, 1, 0, 0};
inline constexpr Stretch kKeepRight{1, 0, 0, 0};

// Remembers each control's designed rectangle (pixels) and places it for a
// given growth. At zero growth every control sits exactly as designed.
// Interface thread only.
class StretchLayout {
 public:
  // Sets the control to its designed place and remembers how it follows.
  void Place(QWidget* control, const QRect& designed, const Stretch& stretch);
  // extraWidth, extraHeight: how far the container exceeds its designed size.
  void Apply(int extraWidth, int extraHeight) const;

 private:
  struct Item {
    QWidget* control;
    QRect designed;
    Stretch stretch;
  };
  std::vector<Item> items_;
};

}  // namespace torquelin
