// The application object of the desktop program.
#pragma once

#include <QApplication>

namespace torquelin {

// Names the settings' organisation and application and runs the main window
// until it closes.
class TorquelinApp : public QApplication {
  Q_OBJECT
 public:
  TorquelinApp(int& argc, char** argv);
  // Shows the main window; the program ends when it closes.
  int Run();
};

}  // namespace torquelin
