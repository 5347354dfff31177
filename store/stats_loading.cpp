// Reading the statistics of an extendable database into totals: the days with their sets,
// then the keyed tables and, when asked, the robot log.

#include <set>

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/stats_merge.h"
#include "store/stats_merge_internal.h"

namespace hitsieve {

using sqlitepp::into;
using sqlitepp::into_blob;

namespace merge_internal {

void LoadDays(sqlitepp::session& session, std::map<std::string, DayTotals, std::less<>>& days,
              bool refuse_repeats) {
  std::string text, blob_a, blob_b;
  int64_t a = 0, b = 0;
  {
    sqlitepp::statement rows(session);
    rows << "SELECT date, views, searches FROM common_stats ORDER BY rec_id", into_blob(text), into(a),
        into(b);
    while (rows.exec()) {
      DayTotals& day = Entry(days, text, refuse_repeats, "common_stats");
      AddCount(day.views, a, "common_stats");
      AddCount(day.searches, b, "common_stats");
    }
  }
  {
    size_t found = 0;
    std::set<std::string, std::less<>> seen;
    sqlitepp::statement rows(session);
    rows << "SELECT date, ips, visitors FROM day_sets ORDER BY rec_id", into_blob(text),
        into_blob(blob_a), into_blob(blob_b);
    while (rows.exec()) {
      auto it = days.find(text);
      if (it == days.end()) continue;  // a day without statistics adds nothing
      if (refuse_repeats && !seen.insert(text).second)
        throw std::runtime_error("day_sets holds the sets of day \"" + text + "\" twice");
      it->second.ips = Decode(blob_a, text);
      it->second.visitors = Decode(blob_b, text);
      ++found;
    }
    if (found != days.size())
      throw NotExtendableError(
          "day_sets does not hold the sets of every day in common_stats; run analyse once "
          "without --add to make the database extendable again");
  }
}

}  // namespace merge_internal

// Texts are read whole (as BLOBs), so a key holding a NUL byte keeps every byte.
StatsTotals LoadTotals(sqlitepp::session& session, bool robots, bool refuse_repeats) {
  using namespace merge_internal;
  Require(session);
  StatsTotals totals;
  std::string text;
  int64_t a = 0, b = 0, c = 0;
  LoadDays(session, totals.days, refuse_repeats);
  {
    EngineTotals engines{};
    sqlitepp::statement rows(session);
    rows << "SELECT page, visits, searches, bandwidth, google, yandex, rambler, mailru, aport, "
            "webalta FROM page_stats ORDER BY rec_id",
        into_blob(text), into(a), into(b), into(c), into(engines[0]), into(engines[1]),
        into(engines[2]), into(engines[3]), into(engines[4]), into(engines[5]);
    while (rows.exec()) {
      PageTotals& page = Entry(totals.pages, text, refuse_repeats, "page_stats");
      AddCount(page.visits, a, "page_stats");
      AddCount(page.searches, b, "page_stats");
      AddCount(page.bandwidth, c, "page_stats");
      AddCounts(page.engines, engines, "page_stats");
    }
  }
  {
    sqlitepp::statement rows(session);
    rows << "SELECT referer, type, cnt FROM referer_stats ORDER BY rec_id", into_blob(text), into(a),
        into(b);
    while (rows.exec()) {
      AddCount(Entry(a == 0 ? totals.refererHosts : totals.referers, text, refuse_repeats,
                     "referer_stats"),
               b, "referer_stats");
    }
  }
  if (robots) {
    RobotHit hit;
    sqlitepp::statement rows(session);
    rows << "SELECT name, action, code, ip, date FROM robot_log ORDER BY rec_id", into_blob(hit.name),
        into_blob(hit.action), into(hit.code), into_blob(hit.ip), into_blob(hit.date);
    while (rows.exec()) totals.robotHits.push_back(hit);
  }
  {
    EngineTotals engines{};
    sqlitepp::statement rows(session);
    rows << "SELECT query, google, yandex, rambler, mailru, aport, webalta FROM query_stats "
            "ORDER BY rec_id",
        into_blob(text), into(engines[0]), into(engines[1]), into(engines[2]), into(engines[3]),
        into(engines[4]), into(engines[5]);
    while (rows.exec()) {
      AddCounts(Entry(totals.queries, text, refuse_repeats, "query_stats"), engines, "query_stats");
    }
  }
  totals.settings = LoadRunSettings(session);
  totals.dimensions = LoadDimensions(session, refuse_repeats);
  return totals;
}

}  // namespace hitsieve
