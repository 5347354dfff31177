#ifndef HITSIEVE_UI_REFERER_TAB_H_
#define HITSIEVE_UI_REFERER_TAB_H_

#include "ui/report_screen.h"

namespace hitsieve {

// The "Рефереры" screen. Owned by MainDlg; UI thread only. Not built yet: it shows nothing.
class RefererTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit RefererTab(QWidget* parent);

  void Reload() override;
  void SetRunActive(bool active) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REFERER_TAB_H_
