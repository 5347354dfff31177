#include "ui/app_icon.h"

// The resources live in a static library, so they are registered by hand before first use.
// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterResources() { Q_INIT_RESOURCE(hitsieve); }

namespace hitsieve {

QIcon AppIcon() {
  static const bool registered = (RegisterResources(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/hitsieve/hitsieve.png"));
}

}  // namespace hitsieve
