#include <cstdio>
#include <string>
#include <vector>

#include "ui/desktop_arguments.h"
#include "ui/main_app.h"

int main(int argc, char** argv) {
  // Answered before the application exists, so that they work without a display.
  const hitsieve::DesktopArguments early = hitsieve::ParseDesktopArguments(
      std::vector<std::string>(argv + 1, argv + argc), /*strict=*/false);
  if (early.help) {
    std::fputs(hitsieve::kDesktopHelp, stdout);
    return 0;
  }
  if (early.version) {
    std::printf("hitsieve %s\n", HITSIEVE_VERSION);
    return 0;
  }
  hitsieve::MainApp app(argc, argv);
  return app.Run();
}
