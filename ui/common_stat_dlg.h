#ifndef HITSIEVE_UI_COMMON_STAT_DLG_H_
#define HITSIEVE_UI_COMMON_STAT_DLG_H_

#include "ui/grid_report_screen.h"

namespace hitsieve {

class DailyChart;

// "Общая статистика": one row per day of the last run, totals first, a chart of the same days
// in calendar order, and an "Excel" button that copies the days into a workbook. Reloaded at start-up and after each run. Owned by
// MainDlg; UI thread only.
class CommonStatDlg : public GridReportScreen {
  Q_OBJECT

 public:
  explicit CommonStatDlg(QWidget* parent);

  DailyChart* Chart() const { return chart_; }

 protected:
  void ReadAndFill() override;
  void Export(ExportHost& host) override;

 private:
  DailyChart* chart_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_COMMON_STAT_DLG_H_
