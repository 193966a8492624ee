// The About page: the product's credits scrolling over a white page.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "ui/dialog_units.h"
#include "ui/scroll_credits.h"
#include "ui/stretch_layout.h"

namespace torquelin {

// The credit lines, ending with a null pointer. Each text line ends in its
// style mark (see ScrollCredits).
extern const char* const kCreditLines[];
// The line that shows the logo, and the logo's size in pixels.
inline constexpr char kLogoLine[] = "IDB_ZRLOGO";
inline constexpr int kLogoWidth = 373;
inline constexpr int kLogoHeight = 170;

// The product logo, drawn here rather than shipped as art: 373 x 170 pixels
// in 256 colours.
QPixmap MakeProductLogo();

// The About tab. Takes part in no settings and has no buttons. Interface
// thread only.
class AboutPage : public QWidget {
 public:
  AboutPage(const DialogUnits& units, QWidget* parent);

  // Restart the credits from the top / stop them.
  void StartScrolling();
  void StopScrolling();
  // Keeps the credits centred in a page extraWidth pixels wider than designed.
  void Stretch(int extraWidth);
  ScrollCredits& Credits() { return *credits_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  ScrollCredits* credits_;
  StretchLayout layout_;
  QPixmap logo_;
};

}  // namespace torquelin
