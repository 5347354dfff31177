#ifndef HITSIEVE_UI_LIST_MODEL_H_
#define HITSIEVE_UI_LIST_MODEL_H_

#include <vector>

#include <QAbstractTableModel>

#include "export/report_lists.h"

namespace hitsieve {

// The rows of one report list as rendered cell texts (UTF-8). Read-only for the view: rows
// change only through SetRows (one model reset), InsertRow and Clear. UI thread only.
class ListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ListModel(QObject* parent = nullptr);

  // Replaces the columns; rows are kept (a row shorter than the columns shows empty cells).
  void SetColumns(const ListColumns& columns);

  void SetRows(std::vector<ListRow> rows);
  // REQUIRES: 0 <= index <= RowCount().
  void InsertRow(const ListRow& row, int index);
  void Clear();

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // The cell's bytes; empty when the row has no such cell.
  const std::string& Cell(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  ListColumns columns_;
  std::vector<ListRow> rows_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_LIST_MODEL_H_
