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

// Adds each value to its total and appends its cell to `cells`.
template <size_t N>
void AddCounts(const std::array<int64_t, N>& values, std::array<int64_t, N>& totals,
               ListRow& cells) {
  for (size_t i = 0; i < N; ++i) {
    totals[i] = SaturatingAdd(totals[i], values[i]);
    cells.push_back(DashOrDecimal(values[i]));
  }
}

// Above an empty table the totals row is a single empty cell: there is nothing to sum.
std::vector<ListRow> EmptyTotalsOnly() { return {ListRow{""}}; }

template <size_t N>
ListRow TotalsRow(const std::array<int64_t, N>& totals) {
  ListRow cells{""};
  for (int64_t total : totals) cells.push_back(DashOrDecimal(total));
  return cells;
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

std::vector<ListRow> RenderCommonStats(const std::vector<CommonStatsRow>& rows) {
  if (rows.empty()) return EmptyTotalsOnly();
  std::vector<ListRow> list(1);
  list.reserve(rows.size() + 1);
  std::array<int64_t, 4> totals{};
  for (const CommonStatsRow& row : rows) {
    ListRow cells{Cp1251ToUtf8(row.date)};
    AddCounts<4>({row.ips, row.visitors, row.views, row.searches}, totals, cells);
    list.push_back(std::move(cells));
  }
  list[0] = TotalsRow(totals);
  return list;
}

std::vector<ListRow> RenderPageStats(const std::vector<PageStatsRow>& rows) {
  if (rows.empty()) return EmptyTotalsOnly();
  std::vector<ListRow> list(1);
  list.reserve(rows.size() + 1);
  std::array<int64_t, 2> totals{};
  std::array<int64_t, kEngineCount> engine_totals{};
  int64_t bandwidth_total = 0;
  for (const PageStatsRow& row : rows) {
    ListRow cells{Cp1251ToUtf8(row.page)};
    AddCounts<2>({row.visits, row.searches}, totals, cells);
    cells.push_back(Megabytes(row.bandwidth));
    bandwidth_total = SaturatingAdd(bandwidth_total, row.bandwidth);
    std::array<int64_t, kEngineCount> engines;
    std::copy(row.engines.begin(), row.engines.end(), engines.begin());
    AddCounts(engines, engine_totals, cells);
    list.push_back(std::move(cells));
  }
  ListRow total_cells = TotalsRow(totals);
  total_cells.push_back(Megabytes(bandwidth_total));  // reads 0,00 rather than "-"
  for (int64_t total : engine_totals) total_cells.push_back(DashOrDecimal(total));
  list[0] = std::move(total_cells);
  return list;
}

std::vector<ListRow> RenderQueryStats(const std::vector<QueryStatsRow>& rows) {
  if (rows.empty()) return EmptyTotalsOnly();
  std::vector<ListRow> list(1);
  list.reserve(rows.size() + 1);
  std::array<int64_t, kEngineCount + 1> totals{};
  for (const QueryStatsRow& row : rows) {
    ListRow cells{Cp1251ToUtf8(row.query)};
    std::array<int64_t, kEngineCount + 1> values{row.total};
    std::copy(row.engines.begin(), row.engines.end(), values.begin() + 1);
    AddCounts(values, totals, cells);
    list.push_back(std::move(cells));
  }
  list[0] = TotalsRow(totals);
  return list;
}

std::vector<ListRow> RenderReferers(const std::vector<RefererRow>& rows, int mode,
                                    std::string_view exclusion) {
  std::vector<ListRow> list;
  for (const RefererRow& row : rows) {
    if (row.type != mode) continue;
    if (!exclusion.empty() && row.referer.find(exclusion) != std::string::npos) continue;
    list.push_back({Cp1251ToUtf8(row.referer), Decimal(row.cnt)});
  }
  return list;
}

std::vector<ListRow> RenderRobotLog(const std::vector<RobotLogRow>& rows, std::string_view name) {
  std::vector<ListRow> list;
  list.reserve(name.empty() ? rows.size() : 0);
  for (const RobotLogRow& row : rows) {
    if (!name.empty() && row.name != name) continue;
    list.push_back({Cp1251ToUtf8(row.name), Cp1251ToUtf8(row.action), Decimal(row.code),
                    Cp1251ToUtf8(row.ip), Cp1251ToUtf8(row.date)});
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
  for (const auto& [name, count] : counts) list.push_back({Cp1251ToUtf8(name), Decimal(count)});
  return list;
}

}  // namespace hitsieve
