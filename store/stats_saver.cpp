#include "store/stats_saver.h"

#include <future>

#include "engine/stats_collector.h"
#include "store/row_writers.h"
#include "store/save_progress.h"
#include "store/stats_database.h"

namespace hitsieve {

namespace {

// Deleted in this order, before any row is written.
constexpr const char* kTables[] = {"common_stats", "page_stats", "referer_stats", "robot_log",
                                   "query_stats"};

void ReportPosition(SaveProgressObserver* observer, int position) {
  if (observer != nullptr) observer->SetPosition(position);
}

}  // namespace

StatsSaver::StatsSaver(const StatsCollector& collector, SaveProgressObserver* observer,
                       const std::vector<LogSource>* sources)
    : transaction_(StatsDatabase::Instance().session()),
      collector_(collector),
      observer_(observer),
      sources_(sources) {}

void StatsSaver::save() {
  sqlitepp::session& session = StatsDatabase::Instance().session();
  for (const char* table : kTables) session << "DELETE FROM " << table;
  // A replacing run makes any database extendable: it writes the sets that adding needs.
  CreateSetTables(session);
  session << "DELETE FROM day_sets";
  session << "DELETE FROM analysed_logs";

  // Hashing and sorting every day's addresses and visitors is the one costly step that needs
  // no database: done on another core while the statistics tables are written (or at the end,
  // should no thread be had). The future waits for it however this function is left.
  std::future<DaySetBlobs> day_sets =
      std::async(std::launch::async | std::launch::deferred, [this] { return EncodeDaySets(collector_); });

  ReportPosition(observer_, 1);
  for (const auto& [date, day] : collector_.days) CommonStatsWriter::Instance().Write(date, day);

  ReportPosition(observer_, 2);
  for (const auto& [page, stats] : collector_.pages) PageStatsWriter::Instance().Write(page, stats);

  ReportPosition(observer_, 3);
  for (const auto& [host, count] : collector_.refererHosts) {
    RefererStatsWriter::Instance().Write(host, 0, count);
  }
  for (const auto& [referer, count] : collector_.referers) {
    RefererStatsWriter::Instance().Write(referer, 1, count);
  }

  ReportPosition(observer_, 4);
  for (const RobotHit& hit : collector_.robotHits) RobotLogWriter::Instance().Write(hit);

  ReportPosition(observer_, 5);
  for (const auto& [phrase, counts] : collector_.queries) {
    QueryStatsWriter::Instance().Write(phrase, counts);
  }

  WriteDaySets(session, collector_, day_sets.get());
  if (sources_ != nullptr) WriteLogSources(session, *sources_);
  transaction_.commit();
}

}  // namespace hitsieve
