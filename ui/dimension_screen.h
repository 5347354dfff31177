#ifndef HITSIEVE_UI_DIMENSION_SCREEN_H_
#define HITSIEVE_UI_DIMENSION_SCREEN_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/report_lists.h"
#include "store/dimension_reports.h"
#include "ui/grid_report_screen.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace hitsieve {

class ReportBarChart;

// What a screen of dimension reports shows: its lists, each drawn from the report's
// description, and what it adds to them. The screens are a table of these, so a report added
// to the descriptions appears on its screen without code of its own.
struct DimensionScreenPlan {
  const char* name;   // the screen's object name: "status"
  const char* label;  // the screen tree's label, in Russian (translated in hitsieve::MainDlg)
  std::vector<std::string_view> reports;  // report names, top to bottom; missing ones are left out
  // A count of the first list drawn as bars under it, one per row ("" for no chart).
  std::string_view chart_column;
  // A column of the first list whose values a drop-down offers, showing only the rows that
  // have the chosen one ("" for none).
  std::string_view choice_column;
  // Counts of the first list's daily rows shown day by day, under the list, for the row chosen
  // in it (the row being its text columns before the first count): a table of the days and a
  // bar chart of the first of these counts. Empty for none.
  std::vector<std::string_view> day_columns = {};
};

// The screens of dimension reports, in the order of the screen tree.
const std::vector<DimensionScreenPlan>& DimensionScreenPlans();

// The reports of `plan` that this program describes, in the plan's order; a screen with none
// is not shown.
std::vector<const DimensionReport*> FoundReports(const DimensionScreenPlan& plan);

// A column title for people, in Russian (translated where it is shown): the report's own
// title for the column, a common one, or the column's name when there is none.
std::string DimensionColumnTitle(const DimensionReport& report, std::string_view column);
// The titles of a report's list: its columns, then "Доля, %" for a report with a share.
ListColumns DimensionListColumns(const DimensionReport& report);
// The cells of one row of ForEachDimensionTableRow as a list shows them: texts in UTF-8,
// the share with a decimal comma.
ListRow DimensionListCells(const DimensionReport& report, const std::vector<std::string>& row);

// A screen of one or more dimension lists: each under its caption, with its own "Excel" (the
// first one's is the screen's button at the top left), sortable by a header click; one search
// field filters every list. A list whose dimension the database did not count shows a line
// saying so in its place. Optionally a bar chart of the first list's count, and a drop-down
// that keeps the first list's rows of one value of a column. Reloaded at start-up and after
// each run. Owned by MainDlg; UI thread only.
class DimensionScreen : public GridReportScreen {
  Q_OBJECT

 public:
  // REQUIRES: FoundReports(plan) is not empty.
  DimensionScreen(QWidget* parent, const DimensionScreenPlan& plan);

  const DimensionScreenPlan& Plan() const { return plan_; }
  int ListCount() const { return static_cast<int>(panes_.size()); }
  const DimensionReport& Report(int list) const { return *panes_[list].report; }
  ListCtrlGrid* ListGrid(int list) const { return panes_[list].grid; }
  QLabel* Caption(int list) const { return panes_[list].caption; }
  // The line shown instead of the list when its dimension is not counted.
  QLabel* NotCountedLine(int list) const { return panes_[list].not_counted; }
  QPushButton* ExcelButton(int list) const { return panes_[list].excel; }
  // Null on a screen without a chart or a drop-down.
  ReportBarChart* Chart() const { return chart_; }
  QComboBox* Choice() const { return choice_; }
  // The days of the chosen row (null on a screen without them): their caption, their table in
  // calendar order and the chart of their first count.
  QLabel* DaysCaption() const { return daysCaption_; }
  ListCtrlGrid* DaysGrid() const { return daysGrid_; }
  ReportBarChart* DaysChart() const { return daysChart_; }
  // The key (Windows-1251 texts) of the row whose days are shown; empty when none is.
  const std::vector<std::string>& DaysKey() const { return daysKey_; }

  void SetRunActive(bool active) override;
  // Exports list `list` into a workbook, as its "Excel" button does.
  void ExportList(int list);
  // The user chose item `index` of the drop-down (0 is "Все").
  void OnChoice(int index);
  // Shows the days of the first list's shown row `row` (in the order shown), as choosing it in
  // the list does; nothing for a row that is not there.
  void ShowDaysOfRow(int row);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void ReadAndFill() override;
  void Export(ExportHost& host) override;

 private:
  struct Pane {
    const DimensionReport* report = nullptr;
    ListCtrlGrid* grid = nullptr;
    QLabel* caption = nullptr;
    QLabel* not_counted = nullptr;
    QPushButton* excel = nullptr;
    bool counted = true;
    std::vector<ListRow> rows;  // every row read, in the query's order
  };

  void ExportPane(const Pane& pane, ExportHost& host);
  void PlacePanes();
  void ShowRows(Pane& pane);
  void FillChart();
  void FillChoice();
  // A day of the chosen row as stored, and the cells of plan_.day_columns on it.
  using DayCells = std::pair<std::string, std::vector<std::string>>;
  // Reads and shows the days of the row `key`, or clears them for an empty key.
  void ShowDays(std::vector<std::string> key);
  void FillDaysChart(const std::vector<DayCells>& days);
  // After the first list's rows changed: chooses the row whose days are shown if it is still
  // listed, else the first row listed, and shows its days.
  void ChooseDaysRow();

  DimensionScreenPlan plan_;
  std::vector<Pane> panes_;
  ReportBarChart* chart_ = nullptr;
  int chartColumn_ = -1;
  QComboBox* choice_ = nullptr;
  int choiceColumn_ = -1;
  std::vector<std::string> choices_;  // the value of each drop-down item; "" for "Все"
  bool runActive_ = false;
  QLabel* daysCaption_ = nullptr;
  ListCtrlGrid* daysGrid_ = nullptr;
  ReportBarChart* daysChart_ = nullptr;
  int keyColumns_ = 0;                  // the first list's text columns before its first count
  std::vector<int> daysColumns_;        // indexes of plan_.day_columns into a daily row
  std::vector<std::string> daysKey_;    // Windows-1251
  bool choosing_ = false;               // while the screen itself sets the list's current row
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_DIMENSION_SCREEN_H_
