#ifndef HITSIEVE_UI_LIST_CTRL_GRID_H_
#define HITSIEVE_UI_LIST_CTRL_GRID_H_

#include <set>
#include <string>
#include <vector>

#include <QTableView>

#include "export/report_lists.h"
#include "store/report_queries.h"
#include "ui/list_model.h"

namespace hitsieve {

class RobotLogGrid;

// The list that shows every table of the window: grid lines, whole rows selected, several rows
// selectable, texts left-aligned and numbers right-aligned, fixed initial widths, no editing.
// Rows come in the order they are handed over; a header click sorts by that column (numbers
// largest first, texts and days from the start), a second click reverses, and every fill
// shows the handed-over order again. Every fill replaces all rows with one model reset, so a
// refill of many rows repaints once. UI thread only.
class ListCtrlGrid : public QTableView {
  Q_OBJECT

 public:
  explicit ListCtrlGrid(QWidget* parent = nullptr);

  ListModel* Model() const { return model_; }

  void SetColumns(const ListColumns& columns, std::vector<CellKind> kinds = {});
  // Sizes the number columns to their header and a six-digit number and lets `column` take
  // the rest of the width, so that every column is visible in a narrow window; with `column`
  // -1 every column is sized so and none stretches.
  void FitColumnsToWidth(int column);
  // A header click on `column`.
  void SortByColumnClicked(int column);
  void SetFilterText(const QString& text) { model_->SetFilterText(text); }
  // Inserts `row` unselected at `index` (0 to the row count).
  void InsertRow(const ListRow& row, int index);
  void DeleteAllItems();
  // Replaces every row at once; `totals` as for ListModel::SetRows.
  void SetRows(std::vector<ListRow> rows, ListModel::TotalsMaker totals = {});
  // Adds the second cell of every selected row to `texts`.
  void SelectedTexts(std::set<std::string>& texts) const;

  void SetupLogFileColumns();
  void SetupCommonStatsColumns();
  void SetupPageStatsColumns();
  void SetupQueryStatsColumns();
  void SetupRobotSummaryColumns();

  // Totals row first (totalling the rows shown while the search field filters), then one row
  // per database row.
  void FillCommonStats(const std::vector<CommonStatsRow>& rows);
  void FillPageStats(const std::vector<PageStatsRow>& rows);
  void FillQueryStats(const std::vector<QueryStatsRow>& rows);
  // One row per robot of `log`'s per-robot counts, in byte order of the name.
  void FillRobotSummary(const RobotLogGrid& log);

 private:
  void ShowSortIndicator();

  ListModel* model_;
  std::vector<int> fittedWidths_;  // per column after FitColumnsToWidth; 0 for the stretching one
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_LIST_CTRL_GRID_H_
