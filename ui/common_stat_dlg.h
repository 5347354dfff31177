#ifndef HITSIEVE_UI_COMMON_STAT_DLG_H_
#define HITSIEVE_UI_COMMON_STAT_DLG_H_

#include <QString>

#include "ui/grid_report_screen.h"

class QLabel;

namespace hitsieve {

class DailyChart;

// "Общая статистика": the summary of the period on top (first and last day, days, views,
// visitors, distinct addresses, traffic, requests not found, share of robots' requests; "—"
// for what the database does not hold), one row per day of the last run, totals first, a chart
// of the same days in calendar order, an "Excel" button that copies the days into a workbook, and an "HTML"
// button that writes the report page of every report and opens it in the browser. Reloaded at
// start-up and after each run. Owned by MainDlg; UI thread only.
class CommonStatDlg : public GridReportScreen {
  Q_OBJECT

 public:
  explicit CommonStatDlg(QWidget* parent);

  DailyChart* Chart() const { return chart_; }
  // The shown value of a summary field: "first_day", "last_day", "days", "views", "visitors",
  // "addresses", "traffic", "not_found", "bot_share".
  QString SummaryValue(const QString& field) const;

  // The page reads the database, which a run is writing: "HTML" waits for the run's end too.
  void SetRunActive(bool active) override;
  void OnHtmlReport();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void ReadAndFill() override;
  void Export(ExportHost& host) override;

 private:
  void FillSummary();

  DailyChart* chart_ = nullptr;
  QWidget* summary_ = nullptr;
  QPushButton* htmlButton_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_COMMON_STAT_DLG_H_
