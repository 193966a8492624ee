// The main window's tab strip.
#pragma once

#include <QTabWidget>

namespace torquelin {

// Exposes the tab bar so the window can lock the strip alone (locking the
// whole widget would lock every page with it).
class TabStrip : public QTabWidget {
  Q_OBJECT
 public:
  using QTabWidget::QTabWidget;
  using QTabWidget::tabBar;
};

}  // namespace torquelin
