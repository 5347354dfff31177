#ifndef HITSIEVE_UI_LIST_MODEL_H_
#define HITSIEVE_UI_LIST_MODEL_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QString>

#include "export/report_lists.h"

namespace hitsieve {

// A UTF-8 cell text as the window shows it: control characters (C0, DEL, C1), NUL included,
// become '?', as in the command line's text reports, so that log text cannot hide what follows.
QString DisplayText(const std::string& utf8);

// How a column's cells read, for sorting, alignment and tooltips.
enum class CellKind {
  kText,       // compared case-insensitively; tooltips show the whole and decoded text
  kPlainText,  // compared case-insensitively; no tooltip (paths, names, addresses)
  kNumber,     // decimal or "-" (0); right-aligned
  kMegabytes,  // "12,34"; right-aligned
  kDecimal,    // a number with a decimal comma, "12,34" (a share in percent); right-aligned
  kDay,        // dd/Mon/yyyy, compared in calendar order
};

// The rows of one report list as rendered cell texts (UTF-8). Rows are kept in the order they
// were handed over; the view shows them in that order, or sorted by one column, and only those
// that pass the filter text. A list with a totals row keeps it first, outside sorting and
// filtering; while a filter is in force it totals the rows shown and says so in its first cell. Rows change only through SetRows (one model reset), InsertRow and Clear, each of
// which puts the handed-over order back; the filter text stays. UI thread only.
class ListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ListModel(QObject* parent = nullptr);

  // Replaces the columns; rows are kept (a row shorter than the columns shows empty cells).
  // Columns without a kind are plain text.
  void SetColumns(const ListColumns& columns, std::vector<CellKind> kinds = {});
  CellKind Kind(int column) const;

  // Whether the first row handed over is a totals row.
  void SetTotalsFirst(bool totals_first) { totalsFirst_ = totals_first; }

  // Makes the totals row of the handed-over rows at `rows` (indexes, the totals row being 0).
  using TotalsMaker = std::function<ListRow(const std::vector<int>& rows)>;

  // `totals` (for lists with a totals row) totals the rows that pass a filter; without it the
  // totals row stays as handed over.
  void SetRows(std::vector<ListRow> rows, TotalsMaker totals = {});
  // REQUIRES: 0 <= index <= the number of rows handed over.
  void InsertRow(const ListRow& row, int index);
  void Clear();

  // Keeps the rows whose text cells contain `text`, ignoring case, as written or, for texts
  // with tooltips, percent-decoded as the tooltip shows them; empty keeps every row.
  void SetFilterText(const QString& text);
  // -1 while the rows are in the order they were handed over.
  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }

  // The rows shown, in the order shown.
  int RowCount() const { return static_cast<int>(shown_.size()); }
  // The cell's bytes of shown row `row`; empty when the row has no such cell.
  const std::string& Cell(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  const std::string& RawCell(int row, int column) const;
  bool HasTotals() const { return totalsFirst_ && !rows_.empty(); }
  bool Passes(int row) const;
  // Recomputes shown_ from the sort and the filter; the caller resets or relayouts the model.
  void Arrange();
  void SortShown();
  const std::vector<std::string>& FoldedTexts(int column) const;
  // Case-folded percent-decoded texts; empty where decoding changes nothing.
  const std::vector<std::string>& FoldedDecodedTexts(int column) const;
  // Each row's place among the column's folded texts (equal texts share it).
  const std::vector<int>& TextRanks(int column) const;

  ListColumns columns_;
  std::vector<CellKind> kinds_;
  bool totalsFirst_ = false;
  std::vector<ListRow> rows_;
  TotalsMaker totalsMaker_;
  std::optional<ListRow> filteredTotals_;  // stands for rows_[0] while a filter is in force
  std::vector<int> shown_;  // indexes into rows_
  std::string filter_;      // case-folded UTF-8
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  // Case-folded cell texts per column, made when first needed and dropped with the rows.
  mutable std::vector<std::vector<std::string>> folded_;
  mutable std::vector<std::vector<std::string>> foldedDecoded_;
  mutable std::vector<std::vector<int>> ranks_;  // likewise, for sorting by a text column
};

// The percent-decoded form of `text` (UTF-8), or empty when decoding changes nothing. Escapes
// that do not form UTF-8 are read as Windows-1251; control characters become U+FFFD.
QString PercentDecoded(const std::string& text);

// A column title (UTF-8) in the language of the interface.
QString ColumnTitle(const std::string& title);

// Calendar position of "dd/Mon/yyyy" (yyyymmdd), or -1 when the text is not such a day.
int DayNumber(std::string_view text);

}  // namespace hitsieve

#endif  // HITSIEVE_UI_LIST_MODEL_H_
