#ifndef HITSIEVE_UI_PAGE_STATS_TAB_H_
#define HITSIEVE_UI_PAGE_STATS_TAB_H_

#include "ui/anchor_layout.h"
#include "ui/report_screen.h"

class QPushButton;
class QResizeEvent;

namespace hitsieve {

class ListCtrlGrid;

// "Обращения к страницам": one row per page of the last run, most visited first, totals row on
// top, and an "Excel" button that copies the pages into a workbook. Reloaded at start-up and
// after each run; a failed read is shown and the previous rows stay. Owned by MainDlg; UI
// thread only.
class PageStatsTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit PageStatsTab(QWidget* parent);

  void Reload() override;
  // The export reads the database, which a run is writing: "Excel" waits for the run's end.
  void SetRunActive(bool active) override;

  ListCtrlGrid* Grid() const { return grid_; }
  void OnExcel();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  AnchorLayout layout_;
  ListCtrlGrid* grid_;
  QPushButton* excelButton_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_PAGE_STATS_TAB_H_
