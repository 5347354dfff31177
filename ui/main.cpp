#include "ui/main_app.h"

int main(int argc, char** argv) {
  hitsieve::MainApp app(argc, argv);
  return app.Run();
}
