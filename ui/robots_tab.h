#ifndef HITSIEVE_UI_ROBOTS_TAB_H_
#define HITSIEVE_UI_ROBOTS_TAB_H_

#include "ui/report_screen.h"

namespace hitsieve {

// The "Поисковики" screen. Owned by MainDlg; UI thread only. Not built yet: it shows nothing.
class RobotsTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit RobotsTab(QWidget* parent);

  void Reload() override;
  void SetRunActive(bool active) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ROBOTS_TAB_H_
