#ifndef HITSIEVE_UI_APP_ICON_H_
#define HITSIEVE_UI_APP_ICON_H_

#include <QIcon>

namespace hitsieve {

// The application icon, from the program's resources.
QIcon AppIcon();

}  // namespace hitsieve

#endif  // HITSIEVE_UI_APP_ICON_H_
