#include "export/report_lists.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "engine/text.h"

namespace hitsieve {

namespace {

ListColumns WithEngines(ListColumns columns) {
  for (int id = 0; id < kEngineCount; ++id) columns.push_back({EngineColumnTitle(id), 100});
  return columns;
}

// Totals stop at the 64-bit limits instead of wrapping: two pages of 2^63 - 1 bytes, or a
// database written by something else, must not turn the totals row negative.
int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

}  // namespace

std::string Decimal(int64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string DashOrDecimal(int64_t value) { return value <= 0 ? std::string("-") : Decimal(value); }

std::string Megabytes(int64_t bytes) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(bytes) / 1048576.0);
  std::string text(buffer);
  // The reports use the Russian decimal comma whatever the process locale is.
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

const ListColumns& LogFileColumns() {
  static const ListColumns columns{{"Файл", 200}, {"Путь", 500}};
  return columns;
}

const ListColumns& CommonStatsColumns() {
  static const ListColumns columns{{"Дата", 150},      {"Хосты", 150},    {"Посетители", 150},
                                   {"Просмотры", 150}, {"Searches", 150}};
  return columns;
}

const ListColumns& PageStatsColumns() {
  static const ListColumns columns = WithEngines(
      {{"Страница", 250}, {"Посещений", 100}, {"Searches", 100}, {"Траффик(Mb)", 100}});
  return columns;
}

const ListColumns& QueryStatsColumns() {
  static const ListColumns columns = WithEngines({{"Запрос", 250}, {"Всего", 100}});
  return columns;
}

const ListColumns& RefererColumns(int mode) {
  static const ListColumns hosts{{"Домены", 250}, {"Кол-во", 100}};
  static const ListColumns pages{{"URL", 250}, {"Кол-во", 100}};
  return mode == 0 ? hosts : pages;
}

const ListColumns& RobotLogColumns() {
  static const ListColumns columns{
      {"Паук", 150}, {"Запрос", 150}, {"Код", 100}, {"IP", 100}, {"Дата", 150}};
  return columns;
}

const ListColumns& RobotSummaryColumns() {
  static const ListColumns columns{{"Паук", 200}, {"Запросы", 200}};
  return columns;
}

void ListTotals::StartRow() {
  any_row_ = true;
  next_ = 0;
}

std::string ListTotals::Count(int64_t value) { return Add(value, false); }

std::string ListTotals::Megabytes(int64_t bytes) { return Add(bytes, true); }

std::string ListTotals::Add(int64_t value, bool megabytes) {
  if (next_ == columns_.size()) columns_.push_back({0, megabytes});
  Column& column = columns_[next_++];
  column.sum = SaturatingAdd(column.sum, value);
  return megabytes ? hitsieve::Megabytes(value) : DashOrDecimal(value);
}

ListRow ListTotals::Cells() const {
  ListRow cells{""};
  if (!any_row_) return cells;
  for (const Column& column : columns_)
    cells.push_back(column.megabytes ? hitsieve::Megabytes(column.sum) : DashOrDecimal(column.sum));
  return cells;
}

ListRow CommonStatsCells(const CommonStatsRow& row, ListTotals& totals) {
  totals.StartRow();
  return {Cp1251ToUtf8(row.date), totals.Count(row.ips), totals.Count(row.visitors),
          totals.Count(row.views), totals.Count(row.searches)};
}

ListRow PageStatsCells(const PageStatsRow& row, ListTotals& totals) {
  totals.StartRow();
  ListRow cells{Cp1251ToUtf8(row.page), totals.Count(row.visits), totals.Count(row.searches),
                totals.Megabytes(row.bandwidth)};  // its total reads 0,00 rather than "-"
  for (int32_t count : row.engines) cells.push_back(totals.Count(count));
  return cells;
}

ListRow QueryStatsCells(const QueryStatsRow& row, ListTotals& totals) {
  totals.StartRow();
  ListRow cells{Cp1251ToUtf8(row.query), totals.Count(row.total)};
  for (int32_t count : row.engines) cells.push_back(totals.Count(count));
  return cells;
}

ListRow RefererCells(const RefererRow& row) { return {Cp1251ToUtf8(row.referer), Decimal(row.cnt)}; }

ListRow RobotLogCells(const RobotLogRow& row) {
  return {Cp1251ToUtf8(row.name), Cp1251ToUtf8(row.action), Decimal(row.code),
          Cp1251ToUtf8(row.ip), Cp1251ToUtf8(row.date)};
}

ListRow RobotSummaryCells(const std::string& name, int64_t count) {
  return {Cp1251ToUtf8(name), Decimal(count)};
}

bool ShowsReferer(const RefererRow& row, int mode, std::string_view exclusion) {
  return row.type == mode &&
         (exclusion.empty() || row.referer.find(exclusion) == std::string::npos);
}

namespace {

// The totals row first, then each row's cells.
template <typename Row>
std::vector<ListRow> RenderTotalled(const std::vector<Row>& rows,
                                    ListRow (*cells)(const Row&, ListTotals&)) {
  std::vector<ListRow> list(1);
  list.reserve(rows.size() + 1);
  ListTotals totals;
  for (const Row& row : rows) list.push_back(cells(row, totals));
  list[0] = totals.Cells();
  return list;
}

}  // namespace

std::vector<ListRow> RenderCommonStats(const std::vector<CommonStatsRow>& rows) {
  return RenderTotalled(rows, CommonStatsCells);
}

std::vector<ListRow> RenderPageStats(const std::vector<PageStatsRow>& rows) {
  return RenderTotalled(rows, PageStatsCells);
}

std::vector<ListRow> RenderQueryStats(const std::vector<QueryStatsRow>& rows) {
  return RenderTotalled(rows, QueryStatsCells);
}

std::vector<ListRow> RenderReferers(const std::vector<RefererRow>& rows, int mode,
                                    std::string_view exclusion) {
  std::vector<ListRow> list;
  for (const RefererRow& row : rows) {
    if (ShowsReferer(row, mode, exclusion)) list.push_back(RefererCells(row));
  }
  return list;
}

std::vector<ListRow> RenderRobotLog(const std::vector<RobotLogRow>& rows, std::string_view name) {
  std::vector<ListRow> list;
  list.reserve(name.empty() ? rows.size() : 0);
  for (const RobotLogRow& row : rows) {
    if (name.empty() || row.name == name) list.push_back(RobotLogCells(row));
  }
  return list;
}

std::map<std::string, int64_t> RobotCounts(const std::vector<RobotLogRow>& rows) {
  std::map<std::string, int64_t> counts;
  for (const RobotLogRow& row : rows) ++counts[row.name];
  return counts;
}

std::vector<ListRow> RenderRobotSummary(const std::map<std::string, int64_t>& counts) {
  std::vector<ListRow> list;
  for (const auto& [name, count] : counts) list.push_back(RobotSummaryCells(name, count));
  return list;
}

}  // namespace hitsieve
