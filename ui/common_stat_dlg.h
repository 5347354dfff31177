#ifndef HITSIEVE_UI_COMMON_STAT_DLG_H_
#define HITSIEVE_UI_COMMON_STAT_DLG_H_

#include "ui/anchor_layout.h"
#include "ui/report_screen.h"

class QPushButton;
class QResizeEvent;

namespace hitsieve {

class ListCtrlGrid;

// "Общая статистика": one row per day of the last run, totals first, and an "Excel" button
// that copies the days into a workbook. Reloaded at start-up and after each run; a failed read
// is shown and the previous rows stay. Owned by MainDlg; UI thread only.
class CommonStatDlg : public ReportScreen {
  Q_OBJECT

 public:
  explicit CommonStatDlg(QWidget* parent);

  void Reload() override;
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

#endif  // HITSIEVE_UI_COMMON_STAT_DLG_H_
