// pageLoom: downloads the pictures of online galleries and comic chapters into folders.
#include "gui/application.h"

int main(int argc, char** argv) {
  pageloom::CpageLoomApp app(argc, argv);
  return app.Run();
}
