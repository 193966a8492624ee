// Start-up of the desktop program.
#include "ui/torquelin_app.h"

#include "ui/main_window.h"
#include "ui/settings_store.h"

namespace torquelin {

TorquelinApp::TorquelinApp(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName(QLatin1String(kSettingsOrganization));
  setApplicationName(QLatin1String(kSettingsApplication));
  setDesktopFileName(QStringLiteral("org.torquelin.Torquelin"));
}

int TorquelinApp::Run() {
  MainWindow window;
  window.show();
  exec();
  return 0;
}

}  // namespace torquelin
