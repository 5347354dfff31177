#include "ui/list_model.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <numeric>

#include <QCoreApplication>
#include <QStringDecoder>

#include "engine/text.h"
#include "export/html_report.h"
#include "export/referer_text.h"

namespace hitsieve {

namespace {

const std::string kNoCell;
// Longer texts are cut in tooltips: a tooltip taller than the screen shows nothing useful.
constexpr qsizetype kMaxTooltipChars = 4000;

// Case-folded UTF-8; ASCII, most of a log's text, without a round trip through UTF-16.
std::string Folded(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
    std::string folded = text;
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
  }
  return QString::fromStdString(text).toCaseFolded().toStdString();
}

bool IsNumeric(CellKind kind) {
  return kind == CellKind::kNumber || kind == CellKind::kMegabytes || kind == CellKind::kDecimal;
}

// "-" and anything that is not a number count as 0; "12,34" is 12.34.
double NumberValue(const std::string& text, CellKind kind) {
  if (kind == CellKind::kMegabytes || kind == CellKind::kDecimal) {
    std::string dotted = text;
    std::replace(dotted.begin(), dotted.end(), ',', '.');
    return std::strtod(dotted.c_str(), nullptr);
  }
  int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return static_cast<double>(value);
}

QString Inert(QString text) {
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control) c = QChar(QChar::ReplacementCharacter);
  }
  return text;
}

QString Clipped(const QString& text) {
  return text.size() <= kMaxTooltipChars ? text : text.left(kMaxTooltipChars) + QChar(0x2026);
}

// The whole text and, where it differs, its decoded form, as rich text whose every character
// from the log is escaped: a tooltip would otherwise render a text that looks like markup.
QString Tooltip(const std::string& cell) {
  if (cell.empty()) return QString();
  QString html = QStringLiteral("<p style='white-space:pre-wrap'>") +
                 Clipped(Inert(QString::fromStdString(cell))).toHtmlEscaped();
  // An address reads as RefererDisplayText shows it: decoding must not make it name another host.
  QString decoded = PercentDecoded(cell);
  if (IsWebLink(cell)) {
    const std::string shown = RefererDisplayText(cell);
    decoded = shown == cell ? QString() : QString::fromStdString(shown);
  }
  if (!decoded.isEmpty()) html += QStringLiteral("<br><br>") + Clipped(decoded).toHtmlEscaped();
  return html + QStringLiteral("</p>");
}

// The titles of every list, for the translation tools; the lists themselves take them from the
// report definitions shared with the command line.
[[maybe_unused]] const char* const kColumnTitles[] = {
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Файл"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Путь"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Дата"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Хосты"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Посетители"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Просмотры"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Страница"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Посещений"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Траффик(Mb)"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Апорт"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Запрос"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Всего"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Домены"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Кол-во"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Паук"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Код"),
    QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Запросы"),
};

}  // namespace

QString ColumnTitle(const std::string& title) {
  return QCoreApplication::translate("hitsieve::ListColumns", title.c_str());
}

QString PercentDecoded(const std::string& text) {
  if (text.find('%') == std::string::npos) return QString();
  const QByteArray bytes = QByteArray::fromPercentEncoding(QByteArray::fromStdString(text));
  if (bytes.toStdString() == text) return QString();
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8.decode(bytes);
  if (utf8.hasError()) decoded = QString::fromStdString(Cp1251ToUtf8(bytes.toStdString()));
  return Inert(decoded);
}

int DayNumber(std::string_view text) {
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() != 11 || text[2] != '/' || text[6] != '/') return -1;
  auto digits = [&](size_t from, size_t count, int& out) {
    const char* end = text.data() + from + count;
    return std::from_chars(text.data() + from, end, out).ptr == end;
  };
  int day = 0, year = 0;
  if (!digits(0, 2, day) || !digits(7, 4, year) || day < 1 || day > 31) return -1;
  const auto month = std::find(std::begin(kMonths), std::end(kMonths), text.substr(3, 3));
  if (month == std::end(kMonths)) return -1;
  return year * 10000 + static_cast<int>(month - std::begin(kMonths) + 1) * 100 + day;
}

QString DisplayText(const std::string& utf8) {
  QString text = QString::fromStdString(utf8);
  for (QChar& c : text) {
    const char16_t unit = c.unicode();
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) c = u'?';
  }
  return text;
}

ListModel::ListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ListModel::SetColumns(const ListColumns& columns, std::vector<CellKind> kinds) {
  beginResetModel();
  columns_ = columns;
  kinds_ = std::move(kinds);
  sortColumn_ = -1;
  folded_.clear();
  foldedDecoded_.clear();
  ranks_.clear();
  Arrange();
  endResetModel();
}

CellKind ListModel::Kind(int column) const {
  return column >= 0 && column < static_cast<int>(kinds_.size()) ? kinds_[column]
                                                                 : CellKind::kPlainText;
}

void ListModel::SetRows(std::vector<ListRow> rows, TotalsMaker totals) {
  beginResetModel();
  rows_ = std::move(rows);
  totalsMaker_ = std::move(totals);
  sortColumn_ = -1;
  folded_.clear();
  foldedDecoded_.clear();
  ranks_.clear();
  Arrange();
  endResetModel();
}

void ListModel::InsertRow(const ListRow& row, int index) {
  std::vector<ListRow> rows = rows_;
  rows.insert(rows.begin() + index, row);
  SetRows(std::move(rows));
}

void ListModel::Clear() { SetRows({}); }

void ListModel::SetFilterText(const QString& text) {
  std::string folded = Folded(text.toStdString());
  if (folded == filter_) return;
  beginResetModel();
  filter_ = std::move(folded);
  Arrange();
  endResetModel();
}

void ListModel::sort(int column, Qt::SortOrder order) {
  beginResetModel();
  sortColumn_ = column >= 0 && column < columnCount() ? column : -1;
  sortOrder_ = order;
  Arrange();
  endResetModel();
}

const std::string& ListModel::RawCell(int row, int column) const {
  const ListRow& cells = row == 0 && filteredTotals_ ? *filteredTotals_ : rows_[row];
  return column >= 0 && column < static_cast<int>(cells.size()) ? cells[column] : kNoCell;
}

const std::string& ListModel::Cell(int row, int column) const {
  return RawCell(shown_[row], column);
}

const std::vector<std::string>& ListModel::FoldedTexts(int column) const {
  if (folded_.size() < columns_.size()) folded_.resize(columns_.size());
  std::vector<std::string>& texts = folded_[column];
  if (texts.empty() && !rows_.empty()) {
    texts.reserve(rows_.size());
    for (size_t row = 0; row < rows_.size(); ++row)
      texts.push_back(Folded(RawCell(static_cast<int>(row), column)));
  }
  return texts;
}

const std::vector<std::string>& ListModel::FoldedDecodedTexts(int column) const {
  if (foldedDecoded_.size() < columns_.size()) foldedDecoded_.resize(columns_.size());
  std::vector<std::string>& texts = foldedDecoded_[column];
  if (texts.empty() && !rows_.empty()) {
    texts.reserve(rows_.size());
    for (size_t row = 0; row < rows_.size(); ++row) {
      const std::string& cell = rows_[row].size() > static_cast<size_t>(column) ? rows_[row][column]
                                                                                 : kNoCell;
      const QString decoded = PercentDecoded(cell);
      texts.push_back(decoded.isEmpty() ? std::string() : Folded(decoded.toStdString()));
    }
  }
  return texts;
}

const std::vector<int>& ListModel::TextRanks(int column) const {
  if (ranks_.size() < columns_.size()) ranks_.resize(columns_.size());
  std::vector<int>& ranks = ranks_[column];
  if (ranks.empty() && !rows_.empty()) {
    const std::vector<std::string>& texts = FoldedTexts(column);
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return texts[a] < texts[b]; });
    ranks.resize(rows_.size());
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      if (i > 0 && texts[order[i - 1]] != texts[order[i]]) ++rank;
      ranks[order[i]] = rank;
    }
  }
  return ranks;
}

bool ListModel::Passes(int row) const {
  if (filter_.empty()) return true;
  for (int column = 0; column < columnCount(); ++column) {
    const CellKind kind = Kind(column);
    if (kind != CellKind::kText && kind != CellKind::kPlainText) continue;
    if (FoldedTexts(column)[row].find(filter_) != std::string::npos) return true;
    if (kind == CellKind::kText &&
        FoldedDecodedTexts(column)[row].find(filter_) != std::string::npos)
      return true;
  }
  return false;
}

void ListModel::Arrange() {
  shown_.clear();
  shown_.reserve(rows_.size());
  const int first = HasTotals() ? 1 : 0;
  if (first == 1) shown_.push_back(0);
  for (int row = first; row < static_cast<int>(rows_.size()); ++row)
    if (Passes(row)) shown_.push_back(row);
  filteredTotals_.reset();
  if (first == 1 && !filter_.empty() && totalsMaker_) {
    filteredTotals_ = totalsMaker_(std::vector<int>(shown_.begin() + 1, shown_.end()));
    if (filteredTotals_->empty()) filteredTotals_->emplace_back();
    (*filteredTotals_)[0] =
        QCoreApplication::translate("hitsieve::ListModel", "Итого (отобрано)").toStdString();
  }
  if (sortColumn_ >= 0) SortShown();
}

// Stable, so rows that compare equal keep the handed-over order in both directions.
void ListModel::SortShown() {
  const auto begin = shown_.begin() + (HasTotals() ? 1 : 0);
  const CellKind kind = Kind(sortColumn_);
  const bool descending = sortOrder_ == Qt::DescendingOrder;
  if (kind == CellKind::kText || kind == CellKind::kPlainText) {
    const std::vector<int>& ranks = TextRanks(sortColumn_);
    std::stable_sort(begin, shown_.end(), [&](int a, int b) {
      return descending ? ranks[b] < ranks[a] : ranks[a] < ranks[b];
    });
    return;
  }
  std::vector<double> keys(rows_.size());
  for (auto it = begin; it != shown_.end(); ++it) {
    const std::string& cell = RawCell(*it, sortColumn_);
    keys[*it] = kind == CellKind::kDay ? DayNumber(cell) : NumberValue(cell, kind);
  }
  std::stable_sort(begin, shown_.end(), [&](int a, int b) {
    return descending ? keys[b] < keys[a] : keys[a] < keys[b];
  });
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
  const CellKind kind = Kind(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return DisplayText(Cell(index.row(), index.column()));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          Qt::Alignment((IsNumeric(kind) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::ToolTipRole:
      if (kind == CellKind::kText) return Tooltip(Cell(index.row(), index.column()));
      return QVariant();
    default:
      return QVariant();
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
    return QVariant();
  if (role == Qt::DisplayRole) return ColumnTitle(columns_[section].title);
  if (role == Qt::TextAlignmentRole) {
    const Qt::Alignment side = IsNumeric(Kind(section)) ? Qt::AlignRight : Qt::AlignLeft;
    return QVariant::fromValue(Qt::Alignment(side | Qt::AlignVCenter));
  }
  return QVariant();
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace hitsieve
