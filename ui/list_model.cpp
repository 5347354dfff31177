#include "ui/list_model.h"

namespace hitsieve {

namespace {
const std::string kNoCell;
}  // namespace

ListModel::ListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ListModel::SetColumns(const ListColumns& columns) {
  beginResetModel();
  columns_ = columns;
  endResetModel();
}

void ListModel::SetRows(std::vector<ListRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void ListModel::InsertRow(const ListRow& row, int index) {
  beginInsertRows(QModelIndex(), index, index);
  rows_.insert(rows_.begin() + index, row);
  endInsertRows();
}

void ListModel::Clear() { SetRows({}); }

const std::string& ListModel::Cell(int row, int column) const {
  const ListRow& cells = rows_[row];
  return column < static_cast<int>(cells.size()) ? cells[column] : kNoCell;
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= RowCount() || index.column() >= columnCount())
    return QVariant();
  if (role == Qt::DisplayRole) return QString::fromStdString(Cell(index.row(), index.column()));
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return QVariant();
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
    return QVariant();
  if (role == Qt::DisplayRole) return QString::fromStdString(columns_[section].title);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return QVariant();
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace hitsieve
