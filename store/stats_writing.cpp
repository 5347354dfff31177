// Saving totals: the rows of days and robot hits, a replacing save (or an add to tables that
// hold a key twice) that writes the whole statistics again, and SaveTotals, which adds in
// place where it can.

#include "store/row_writers.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"
#include "store/stats_merge.h"
#include "store/stats_merge_internal.h"

namespace hitsieve {

using sqlitepp::use;
using sqlitepp::use_blob;

namespace merge_internal {

// Unless `read_against` is null, the remembered logs must still be those the caller judged the
// new text by.
void CheckReadAgainst(sqlitepp::session& session, const std::vector<LogSource>* read_against) {
  if (read_against == nullptr) return;
  const std::vector<LogSource> stored = LoadLogSources(session);
  const bool same = std::equal(stored.begin(), stored.end(), read_against->begin(),
                               read_against->end(), [](const LogSource& a, const LogSource& b) {
                                 return a.bytes == b.bytes && a.hash == b.hash;
                               });
  if (!same)
    throw std::runtime_error(
        "another run added to the database meanwhile; nothing was added (run again)");
}

namespace {

// A database just created (by a merge into a new file, say) records no settings yet.
bool HoldsNoStatistics(sqlitepp::session& session) {
  int64_t rows = 0;
  sqlitepp::statement count(session);
  // Whether any row exists, not how many: counting the robot log of years reads all of it.
  count << "SELECT EXISTS (SELECT 1 FROM common_stats) + EXISTS (SELECT 1 FROM robot_log) + "
           "EXISTS (SELECT 1 FROM analysed_logs)",
      sqlitepp::into(rows);
  while (count.exec()) {
  }
  return rows == 0;
}

}  // namespace

void CheckAndWriteSettings(sqlitepp::session& session, const RunSettings& settings, bool replace) {
  if (!settings.Recorded()) return;
  if (!replace && !HoldsNoStatistics(session)) {
    const std::string why = WhyNotAddable(LoadRunSettings(session), settings);
    if (!why.empty()) throw std::runtime_error(RefusedAddMessage(why, settings));
  }
  WriteRunSettings(session, settings);
}

// common_stats and day_sets from `days`, into emptied tables.
void WriteDays(sqlitepp::session& session, const std::map<std::string, DayTotals, std::less<>>& days) {
  std::string text, blob_a, blob_b;
  int64_t a = 0, b = 0, c = 0, d = 0;
  sqlitepp::statement common(session);
  common << kInsertCommonStats, use(text), use(a), use(b), use(c), use(d);
  sqlitepp::statement sets(session);
  sets << kInsertDaySet, use(text), use_blob(blob_a), use_blob(blob_b);
  for (const auto& [date, day] : days) {
    text = date;
    a = static_cast<int64_t>(day.ips.size());
    b = static_cast<int64_t>(day.visitors.size());
    c = day.views;
    d = day.searches;
    common.exec();
    blob_a = Encode(day.ips);
    blob_b = Encode(day.visitors);
    sets.exec();
  }
}

// Robot hits after the rows robot_log holds.
void AppendRobotHits(sqlitepp::session& session, const std::vector<RobotHit>& hits) {
  RobotHit row;
  sqlitepp::statement insert(session);
  insert << kInsertRobotLog, use(row.name), use(row.action), use(row.code), use(row.ip),
      use(row.date);
  for (const RobotHit& hit : hits) {
    row = hit;
    insert.exec();
  }
}

}  // namespace merge_internal

void WriteDaySets(sqlitepp::session& session, const StatsCollector& collector,
                  DaySetBlobs&& blobs) {
  using merge_internal::kInsertDaySet;
  if (blobs.ips.size() != collector.days.size() || blobs.visitors.size() != collector.days.size())
    throw std::logic_error("day sets encoded for other days");
  std::string date, ips, visitors;
  sqlitepp::statement insert(session);
  insert << kInsertDaySet, use(date), use_blob(ips), use_blob(visitors);
  size_t k = 0;
  for (const auto& [key, day] : collector.days) {
    date = key;
    ips.swap(blobs.ips[k]);
    visitors.swap(blobs.visitors[k]);
    ++k;
    insert.exec();
  }
}

namespace {

using namespace merge_internal;

// The whole statistics loaded, added to and written again, every keyed table in key order: a
// replacing save, or an add to tables whose stored rows an add in place cannot take.
void SaveByLoading(sqlitepp::session& session, StatsTotals&& added,
                   const std::vector<LogSource>& sources, bool replace,
                   SaveProgressObserver* observer, const std::vector<LogSource>* read_against,
                   bool rehearse) {
  sqlitepp::transaction transaction(session, sqlitepp::transaction::mode::immediate);
  CheckReadAgainst(session, read_against);
  CheckAndWriteSettings(session, added.settings, replace);
  StatsTotals totals;
  if (replace) {
    CreateSetTables(session);
  } else {
    totals = LoadTotals(session, /*robots=*/false, /*refuse_repeats=*/false);  // robot rows stay
  }
  totals.Add(std::move(added));

  DropKeyIndexes(session);
  for (const char* table : {"common_stats", "page_stats", "referer_stats", "query_stats",
                            "day_sets", "analysed_logs"}) {
    session << "DELETE FROM " << table;
  }
  if (replace) session << "DELETE FROM robot_log";

  std::string text;
  int64_t a = 0, b = 0, c = 0;
  ReportPosition(observer, 1);
  WriteDays(session, totals.days);
  ReportPosition(observer, 2);
  {
    EngineTotals engines{};
    sqlitepp::statement insert(session);
    insert << kInsertPageStats, use(text), use(a), use(b), use(c), use(engines[0]),
        use(engines[1]), use(engines[2]), use(engines[3]), use(engines[4]), use(engines[5]);
    for (const auto& [page, stats] : totals.pages) {
      text = page;
      a = stats.visits;
      b = stats.searches;
      c = stats.bandwidth;
      engines = stats.engines;
      insert.exec();
    }
  }
  ReportPosition(observer, 3);
  {
    sqlitepp::statement insert(session);
    insert << kInsertRefererStats, use(text), use(a), use(b);
    a = 0;
    for (const auto& [host, count] : totals.refererHosts) {
      text = host;
      b = count;
      insert.exec();
    }
    a = 1;
    for (const auto& [referer, count] : totals.referers) {
      text = referer;
      b = count;
      insert.exec();
    }
  }
  ReportPosition(observer, 4);
  AppendRobotHits(session, totals.robotHits);
  ReportPosition(observer, 5);
  {
    EngineTotals engines{};
    sqlitepp::statement insert(session);
    insert << kInsertQueryStats, use(text), use(a), use(engines[0]), use(engines[1]),
        use(engines[2]), use(engines[3]), use(engines[4]), use(engines[5]);
    for (const auto& [phrase, counts] : totals.queries) {
      text = phrase;
      engines = counts;
      a = 0;
      for (int64_t count : counts) AddCount(a, count, "query_stats");
      insert.exec();
    }
  }
  ReplaceDimensions(session, totals.dimensions);
  WriteLogSources(session, sources);
  if (!rehearse) transaction.commit();
}

}  // namespace

void SaveTotals(sqlitepp::session& session, StatsTotals&& added,
                const std::vector<LogSource>& sources, bool replace,
                SaveProgressObserver* observer, const std::vector<LogSource>* read_against,
                bool rehearse) {
  if (!replace) {
    try {
      merge_internal::AddInPlace(session, added, sources, observer, read_against, rehearse);
      return;
    } catch (const merge_internal::StoredRowsIrregular&) {
      // Rolled back; the stored tables are summed and written again by loading them below.
    }
  }
  SaveByLoading(session, std::move(added), sources, replace, observer, read_against, rehearse);
}

}  // namespace hitsieve
