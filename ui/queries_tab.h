#ifndef HITSIEVE_UI_QUERIES_TAB_H_
#define HITSIEVE_UI_QUERIES_TAB_H_

#include "ui/grid_report_screen.h"

namespace hitsieve {

// "Поисковые запросы": one row per search phrase of the last run, most frequent first, totals
// row on top, and an "Excel" button that copies the phrases into a workbook. Reloaded at
// start-up and after each run. Owned by MainDlg; UI thread only.
class QueriesTab : public GridReportScreen {
  Q_OBJECT

 public:
  explicit QueriesTab(QWidget* parent);

 protected:
  void ReadAndFill() override;
  void Export(ExportHost& host) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_QUERIES_TAB_H_
