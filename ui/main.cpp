// torquelin-gui: the desktop program.
#include "platform/system_error.h"
#include "ui/torquelin_app.h"

int main(int argc, char** argv) {
  platform::ReportOversizedWritesAsErrors();
  torquelin::TorquelinApp app(argc, argv);
  return app.Run();
}
