// torquelin-gui: the desktop program.
#include "ui/torquelin_app.h"

int main(int argc, char** argv) {
  CTorquelinApp app(argc, argv);
  return app.Run();
}
