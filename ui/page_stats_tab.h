#ifndef HITSIEVE_UI_PAGE_STATS_TAB_H_
#define HITSIEVE_UI_PAGE_STATS_TAB_H_

#include "ui/grid_report_screen.h"

namespace hitsieve {

// "Обращения к страницам": one row per page of the last run, most visited first, totals row on
// top, and an "Excel" button that copies the pages into a workbook. Reloaded at start-up and
// after each run. Owned by MainDlg; UI thread only.
class PageStatsTab : public GridReportScreen {
  Q_OBJECT

 public:
  explicit PageStatsTab(QWidget* parent);

 protected:
  void ReadAndFill() override;
  void Export(ExportHost& host) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_PAGE_STATS_TAB_H_
