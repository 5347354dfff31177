#include "ui/list_ctrl_grid.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include "ui/robot_log_grid.h"

namespace hitsieve {

ListCtrlGrid::ListCtrlGrid(QWidget* parent) : QTableView(parent), model_(new ListModel(this)) {
  setModel(model_);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFrameShape(QFrame::StyledPanel);

  // Fixed row heights keep a refill of many rows quick: the view never measures rows.
  QHeaderView* rows = verticalHeader();
  rows->setVisible(false);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(fontMetrics().height() + 4);

  QHeaderView* columns = horizontalHeader();
  columns->setSectionsClickable(false);
  columns->setSortIndicatorShown(false);
  columns->setHighlightSections(false);
  columns->setStretchLastSection(false);
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  columns->setSectionResizeMode(QHeaderView::Interactive);
}

void ListCtrlGrid::SetColumns(const ListColumns& list_columns) {
  model_->SetColumns(list_columns);
  for (int i = 0; i < static_cast<int>(list_columns.size()); ++i)
    setColumnWidth(i, list_columns[i].width);
}

void ListCtrlGrid::InsertRow(const ListRow& row, int index) { model_->InsertRow(row, index); }

void ListCtrlGrid::DeleteAllItems() { model_->Clear(); }

void ListCtrlGrid::SetRows(std::vector<ListRow> rows) { model_->SetRows(std::move(rows)); }

void ListCtrlGrid::SelectedTexts(std::set<std::string>& texts) const {
  for (const QModelIndex& index : selectionModel()->selectedRows())
    texts.insert(model_->Cell(index.row(), 1));
}

void ListCtrlGrid::SetupLogFileColumns() { SetColumns(LogFileColumns()); }
void ListCtrlGrid::SetupCommonStatsColumns() { SetColumns(CommonStatsColumns()); }
void ListCtrlGrid::SetupPageStatsColumns() { SetColumns(PageStatsColumns()); }
void ListCtrlGrid::SetupQueryStatsColumns() { SetColumns(QueryStatsColumns()); }
void ListCtrlGrid::SetupRobotSummaryColumns() { SetColumns(RobotSummaryColumns()); }

void ListCtrlGrid::FillCommonStats(const std::vector<CommonStatsRow>& rows) {
  SetRows(RenderCommonStats(rows));
}

void ListCtrlGrid::FillPageStats(const std::vector<PageStatsRow>& rows) {
  SetRows(RenderPageStats(rows));
}

void ListCtrlGrid::FillQueryStats(const std::vector<QueryStatsRow>& rows) {
  SetRows(RenderQueryStats(rows));
}

void ListCtrlGrid::FillRobotSummary(const RobotLogGrid& log) {
  SetRows(RenderRobotSummary(log.Counts()));
}

}  // namespace hitsieve
