#include "ui/list_ctrl_grid.h"

#include <algorithm>
#include <memory>
#include <utility>

#include <QHeaderView>
#include <QStyle>
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
  columns->setSectionsClickable(true);
  columns->setSortIndicatorShown(true);
  columns->setSortIndicator(-1, Qt::AscendingOrder);
  columns->setHighlightSections(false);
  columns->setStretchLastSection(false);
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  columns->setSectionResizeMode(QHeaderView::Interactive);
  connect(columns, &QHeaderView::sectionClicked, this, &ListCtrlGrid::SortByColumnClicked);
  connect(model_, &QAbstractItemModel::modelReset, this, &ListCtrlGrid::ShowSortIndicator);
}

void ListCtrlGrid::SortByColumnClicked(int column) {
  Qt::SortOrder order = Qt::AscendingOrder;
  if (model_->SortColumn() == column) {
    order = model_->SortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  } else {
    const CellKind kind = model_->Kind(column);
    if (kind == CellKind::kNumber || kind == CellKind::kMegabytes || kind == CellKind::kDecimal)
      order = Qt::DescendingOrder;
  }
  model_->sort(column, order);
}

void ListCtrlGrid::ShowSortIndicator() {
  const int sorted = model_->SortColumn();
  horizontalHeader()->setSortIndicator(sorted, model_->SortOrder());
  // A fitted column has room for its title alone: the sorted one gets room for the arrow too,
  // taken from the stretching column.
  const int arrow = style()->pixelMetric(QStyle::PM_HeaderMarkSize) + 6;
  for (int i = 0; i < static_cast<int>(fittedWidths_.size()); ++i)
    if (fittedWidths_[i] > 0) setColumnWidth(i, fittedWidths_[i] + (i == sorted ? arrow : 0));
}

void ListCtrlGrid::FitColumnsToWidth(int column) {
  QHeaderView* header = horizontalHeader();
  const QFontMetrics header_font(header->font());
  // The header's margins beside the widest text; a sort arrow may then cover a title's end.
  const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 6;
  const int number = fontMetrics().horizontalAdvance(QStringLiteral("000000")) + padding;
  fittedWidths_.assign(model_->columnCount(), 0);
  for (int i = 0; i < model_->columnCount(); ++i) {
    if (i == column) continue;
    const QString title = model_->headerData(i, Qt::Horizontal).toString();
    fittedWidths_[i] = std::max(number, header_font.horizontalAdvance(title) + padding);
    header->setSectionResizeMode(i, QHeaderView::Interactive);
    setColumnWidth(i, fittedWidths_[i]);
  }
  if (column >= 0 && column < model_->columnCount())
    header->setSectionResizeMode(column, QHeaderView::Stretch);
}

void ListCtrlGrid::SetColumns(const ListColumns& list_columns, std::vector<CellKind> kinds) {
  model_->SetColumns(list_columns, std::move(kinds));
  for (int i = 0; i < static_cast<int>(list_columns.size()); ++i)
    setColumnWidth(i, list_columns[i].width);
}

void ListCtrlGrid::InsertRow(const ListRow& row, int index) { model_->InsertRow(row, index); }

void ListCtrlGrid::DeleteAllItems() { model_->Clear(); }

void ListCtrlGrid::SetRows(std::vector<ListRow> rows, ListModel::TotalsMaker totals) {
  model_->SetRows(std::move(rows), std::move(totals));
}

void ListCtrlGrid::SelectedTexts(std::set<std::string>& texts) const {
  for (const QModelIndex& index : selectionModel()->selectedRows())
    texts.insert(model_->Cell(index.row(), 1));
}

namespace {

// `first` followed by `count` number columns.
std::vector<CellKind> Kinds(CellKind first, int count) {
  std::vector<CellKind> kinds(count + 1, CellKind::kNumber);
  kinds[0] = first;
  return kinds;
}

// The totals of the database rows behind list rows `shown` (list row k shows database row
// k - 1, the totals row being first), summed exactly as the full totals row is, from the rows'
// values rather than their rounded cells.
template <class Row>
ListModel::TotalsMaker TotalsOf(const std::vector<Row>& rows,
                                ListRow (*cells)(const Row&, ListTotals&)) {
  auto kept = std::make_shared<const std::vector<Row>>(rows);
  return [kept, cells](const std::vector<int>& shown) {
    ListTotals totals;
    for (int row : shown) cells((*kept)[static_cast<size_t>(row) - 1], totals);
    return totals.Cells();
  };
}

}  // namespace

void ListCtrlGrid::SetupLogFileColumns() {
  SetColumns(LogFileColumns(), {CellKind::kPlainText, CellKind::kPlainText});
}

void ListCtrlGrid::SetupCommonStatsColumns() {
  model_->SetTotalsFirst(true);
  SetColumns(CommonStatsColumns(), Kinds(CellKind::kDay, 4));
}

void ListCtrlGrid::SetupPageStatsColumns() {
  model_->SetTotalsFirst(true);
  std::vector<CellKind> kinds = Kinds(CellKind::kText, 9);
  kinds[3] = CellKind::kMegabytes;
  SetColumns(PageStatsColumns(), std::move(kinds));
}

void ListCtrlGrid::SetupQueryStatsColumns() {
  model_->SetTotalsFirst(true);
  SetColumns(QueryStatsColumns(), Kinds(CellKind::kText, 7));
}

void ListCtrlGrid::SetupRobotSummaryColumns() {
  SetColumns(RobotSummaryColumns(), Kinds(CellKind::kPlainText, 1));
}

void ListCtrlGrid::FillCommonStats(const std::vector<CommonStatsRow>& rows) {
  SetRows(RenderCommonStats(rows), TotalsOf(rows, CommonStatsCells));
}

void ListCtrlGrid::FillPageStats(const std::vector<PageStatsRow>& rows) {
  SetRows(RenderPageStats(rows), TotalsOf(rows, PageStatsCells));
}

void ListCtrlGrid::FillQueryStats(const std::vector<QueryStatsRow>& rows) {
  SetRows(RenderQueryStats(rows), TotalsOf(rows, QueryStatsCells));
}

void ListCtrlGrid::FillRobotSummary(const RobotLogGrid& log) {
  SetRows(RenderRobotSummary(log.Counts()));
}

}  // namespace hitsieve
