#ifndef HITSIEVE_UI_PAGE_STATS_TAB_H_
#define HITSIEVE_UI_PAGE_STATS_TAB_H_

#include "ui/report_screen.h"

namespace hitsieve {

// The "Обращения к страницам" screen. Owned by MainDlg; UI thread only. Not built yet: it shows nothing.
class PageStatsTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit PageStatsTab(QWidget* parent);

  void Reload() override;
  void SetRunActive(bool active) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_PAGE_STATS_TAB_H_
