// The INSERT statements of the statistics tables and the batches that write many rows to one
// statement.

#include "store/row_writers.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/stats_collector.h"
#include "store/stats_database.h"

namespace hitsieve {

namespace {

using sqlitepp::use;

sqlitepp::session& Session() { return StatsDatabase::Instance().session(); }

// Counts for engines 0..5 taken from an engine-id map; other ids are ignored, absent ones are 0.
void FillEngineCounts(const CountsByEngine& counts, int32_t (&engines)[kEngineCount]) {
  std::fill(std::begin(engines), std::end(engines), 0);
  for (const auto& [id, count] : counts) {
    if (id >= 0 && id < kEngineCount) engines[id] = count;
  }
}

int32_t SaturatedSum(const int32_t (&values)[kEngineCount]) {
  int64_t sum = 0;
  for (int32_t v : values) sum += v;
  if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (sum < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(sum);
}

// The six engine columns, in the tables' order.
void BindEngines(int32_t (&engines)[kEngineCount], sqlitepp::use_binders& uses) {
  for (int id : {kGoogle, kYandex, kRambler, kMailru, kAport, kWebalta}) {
    uses.push_back(use(engines[id]));
  }
}

}  // namespace

namespace row_writers {

template <typename Row>
Batch<Row>::Batch(sqlitepp::session& session, std::string_view insert, const Row& blank)
    : single_row_(blank), batch_(session), single_(session) {
  const size_t values = insert.rfind("VALUES");
  if (values == std::string_view::npos) throw std::logic_error("an INSERT without VALUES");
  sqlitepp::use_binders one;
  single_row_.Bind(one);
  const size_t parameters = one.size();
  single_ << std::string(insert), std::move(one);
  // The same value list kRowsPerInsert times, with positional parameters.
  const bool numbered = insert.find("(NULL", values) != std::string_view::npos;
  std::string list = numbered ? "(NULL" : "(";
  for (size_t k = 0; k < parameters; ++k) list += k == 0 && !numbered ? "?" : ", ?";
  list += ')';
  std::string many(insert.substr(0, values + 6));
  for (size_t k = 0; k < kRowsPerInsert; ++k) many += (k == 0 ? "" : ", ") + list;
  sqlitepp::use_binders all;
  for (Row& row : rows_) {
    row = blank;
    row.Bind(all);
  }
  batch_ << many, std::move(all);
}

template <typename Row>
Batch<Row>::Batch(const char* insert) : Batch(Session(), insert) {}

template <typename Row>
void Batch<Row>::Flush() {
  const size_t count = std::exchange(count_, 0);
  for (size_t k = 0; k < count; ++k) {
    single_row_ = rows_[k];
    single_.exec();
  }
}

void CommonRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(date));
  uses.push_back(use(ips));
  uses.push_back(use(visitors));
  uses.push_back(use(views));
  uses.push_back(use(searches));
}

void PageRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(page));
  uses.push_back(use(visits));
  uses.push_back(use(searches));
  uses.push_back(use(bandwidth));
  BindEngines(engines, uses);
}

void RefererRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(referer));
  uses.push_back(use(type));
  uses.push_back(use(count));
}

void RobotRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(name));
  uses.push_back(use(action));
  uses.push_back(use(code));
  uses.push_back(use(ip));
  uses.push_back(use(date));
}

void QueryRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(query));
  uses.push_back(use(total));
  BindEngines(engines, uses);
}

void PlacedRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(id));
  uses.push_back(use(key));
  switch (table) {
    case KeyedTable::kPages:
      for (int64_t& value : values) uses.push_back(use(value));
      break;
    case KeyedTable::kReferers:
      uses.push_back(use(kind));
      uses.push_back(use(values[0]));
      break;
    case KeyedTable::kQueries:
      uses.push_back(use(total));
      for (int e = 0; e < kEngineCount; ++e) uses.push_back(use(values[e]));
      break;
  }
}

void DimensionRow::Bind(sqlitepp::use_binders& uses) {
  uses.push_back(use(id));
  uses.push_back(use(day));
  uses.push_back(use(key));
  uses.push_back(use(sub));
  for (size_t k = 0; k < shape->counts.size(); ++k) uses.push_back(use(counts[k]));
  if (shape->visitors) uses.push_back(sqlitepp::use_blob(visitors));
}

template class Batch<CommonRow>;
template class Batch<PageRow>;
template class Batch<RefererRow>;
template class Batch<RobotRow>;
template class Batch<QueryRow>;
template class Batch<PlacedRow>;
template class Batch<DimensionRow>;

}  // namespace row_writers

CommonStatsWriter& CommonStatsWriter::Instance() {
  static CommonStatsWriter writer;
  return writer;
}

CommonStatsWriter::CommonStatsWriter() : rows_(kInsertCommonStats) {}

void CommonStatsWriter::Write(std::string_view date, const DayStats& day) {
  row_writers::CommonRow& row = rows_.Next();
  row.date = date;
  row.ips = static_cast<int32_t>(day.ips.size());
  row.visitors = static_cast<int32_t>(day.visitors.size());
  row.views = day.views;
  row.searches = day.searches;
  rows_.Added();
}

PageStatsWriter& PageStatsWriter::Instance() {
  static PageStatsWriter writer;
  return writer;
}

PageStatsWriter::PageStatsWriter() : rows_(kInsertPageStats) {}

void PageStatsWriter::Write(std::string_view page, const PageStats& stats) {
  row_writers::PageRow& row = rows_.Next();
  row.page = page;
  row.visits = stats.visits;
  row.searches = stats.searches;
  row.bandwidth = stats.bandwidth;
  FillEngineCounts(stats.engineHits, row.engines);
  rows_.Added();
}

RefererStatsWriter& RefererStatsWriter::Instance() {
  static RefererStatsWriter writer;
  return writer;
}

RefererStatsWriter::RefererStatsWriter() : rows_(kInsertRefererStats) {}

void RefererStatsWriter::Write(std::string_view referer, int32_t type, int32_t count) {
  row_writers::RefererRow& row = rows_.Next();
  row.referer = referer;
  row.type = type;
  row.count = count;
  rows_.Added();
}

RobotLogWriter& RobotLogWriter::Instance() {
  static RobotLogWriter writer;
  return writer;
}

RobotLogWriter::RobotLogWriter() : rows_(kInsertRobotLog) {}

void RobotLogWriter::Write(const RobotHitList::View& hit) {
  row_writers::RobotRow& row = rows_.Next();
  row.name = hit.name;
  row.action = hit.action;
  row.code = hit.code;
  row.ip = hit.ip;
  row.date = hit.date;
  rows_.Added();
}

QueryStatsWriter& QueryStatsWriter::Instance() {
  static QueryStatsWriter writer;
  return writer;
}

QueryStatsWriter::QueryStatsWriter() : rows_(kInsertQueryStats) {}

void QueryStatsWriter::Write(std::string_view phrase,
                             const CountsByEngine& engine_counts) {
  row_writers::QueryRow& row = rows_.Next();
  row.query = phrase;
  FillEngineCounts(engine_counts, row.engines);
  row.total = SaturatedSum(row.engines);
  rows_.Added();
}

}  // namespace hitsieve
