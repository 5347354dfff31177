#include "store/row_writers.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "engine/stats_collector.h"
#include "store/stats_database.h"

namespace hitsieve {

namespace {

using sqlitepp::use;

sqlitepp::session& Session() { return StatsDatabase::Instance().session(); }

// Counts for engines 0..5 taken from an engine-id map; other ids are ignored, absent ones are 0.
void FillEngineCounts(const std::map<int, int32_t>& counts, int32_t (&engines)[kEngineCount]) {
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

}  // namespace

CommonStatsWriter& CommonStatsWriter::Instance() {
  static CommonStatsWriter writer;
  return writer;
}

CommonStatsWriter::CommonStatsWriter() : statement_(Session()) {
  statement_ << kInsertCommonStats, use(date_), use(ips_), use(visitors_), use(views_),
      use(searches_);
}

void CommonStatsWriter::Write(std::string_view date, const DayStats& day) {
  date_ = date;
  ips_ = static_cast<int32_t>(day.ips.size());
  visitors_ = static_cast<int32_t>(day.visitors.size());
  views_ = day.views;
  searches_ = day.searches;
  statement_.exec();
}

PageStatsWriter& PageStatsWriter::Instance() {
  static PageStatsWriter writer;
  return writer;
}

PageStatsWriter::PageStatsWriter() : statement_(Session()) {
  statement_ << kInsertPageStats, use(page_), use(visits_), use(searches_), use(bandwidth_),
      use(engines_[kGoogle]), use(engines_[kYandex]), use(engines_[kRambler]),
      use(engines_[kMailru]), use(engines_[kAport]), use(engines_[kWebalta]);
}

void PageStatsWriter::Write(std::string_view page, const PageStats& stats) {
  page_ = page;
  visits_ = stats.visits;
  searches_ = stats.searches;
  bandwidth_ = stats.bandwidth;
  FillEngineCounts(stats.engineHits, engines_);
  statement_.exec();
}

RefererStatsWriter& RefererStatsWriter::Instance() {
  static RefererStatsWriter writer;
  return writer;
}

RefererStatsWriter::RefererStatsWriter() : statement_(Session()) {
  statement_ << kInsertRefererStats, use(referer_), use(type_), use(count_);
}

void RefererStatsWriter::Write(std::string_view referer, int32_t type, int32_t count) {
  referer_ = referer;
  type_ = type;
  count_ = count;
  statement_.exec();
}

RobotLogWriter& RobotLogWriter::Instance() {
  static RobotLogWriter writer;
  return writer;
}

RobotLogWriter::RobotLogWriter() : statement_(Session()) {
  statement_ << kInsertRobotLog, use(name_), use(action_), use(code_), use(ip_), use(date_);
}

void RobotLogWriter::Write(const RobotHitList::View& hit) {
  name_ = hit.name;
  action_ = hit.action;
  code_ = hit.code;
  ip_ = hit.ip;
  date_ = hit.date;
  statement_.exec();
}

QueryStatsWriter& QueryStatsWriter::Instance() {
  static QueryStatsWriter writer;
  return writer;
}

QueryStatsWriter::QueryStatsWriter() : statement_(Session()) {
  statement_ << kInsertQueryStats, use(query_), use(total_), use(engines_[kGoogle]),
      use(engines_[kYandex]), use(engines_[kRambler]), use(engines_[kMailru]),
      use(engines_[kAport]), use(engines_[kWebalta]);
}

void QueryStatsWriter::Write(std::string_view phrase,
                             const std::map<int, int32_t>& engine_counts) {
  query_ = phrase;
  FillEngineCounts(engine_counts, engines_);
  total_ = SaturatedSum(engines_);
  statement_.exec();
}

}  // namespace hitsieve
