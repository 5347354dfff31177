// RunSettings: what the statistics of a database were counted under, recorded beside them so
// that an add or a merge never mixes two definitions of a visitor.
#ifndef HITSIEVE_STORE_RUN_SETTINGS_H_
#define HITSIEVE_STORE_RUN_SETTINGS_H_

#include <string>

#include "engine/dimensions/crawler_list.h"

namespace sqlitepp {
class session;
}

namespace hitsieve {

// Kept in the table run_settings (name, value), one row each.
struct RunSettings {
  std::string crawlers;      // CrawlerModeKey: "described" or "all"; empty: not recorded
  std::string crawler_list;  // CrawlerList::Version() of the run; empty: not recorded

  // The settings of a run counting in `mode` with the built-in crawler list.
  static RunSettings For(CrawlerMode mode);
  bool Recorded() const { return !crawlers.empty(); }
  bool operator==(const RunSettings&) const = default;
};

// The database's settings; none recorded (an empty RunSettings) when it has no run_settings
// table, as a database written before the crawler list was.
RunSettings LoadRunSettings(sqlitepp::session& session);

// Replaces the recorded settings. REQUIRES: inside the caller's write transaction.
void WriteRunSettings(sqlitepp::session& session, const RunSettings& settings);

// Empty when statistics counted under `offered` may be added to those counted under `stored`;
// otherwise why not, in one sentence. Statistics recorded before the choice existed were
// counted as "described", whatever the list: they take more of the same.
std::string WhyNotAddable(const RunSettings& stored, const RunSettings& offered);

// The message of an add refused for `why`, saying how to count afresh.
std::string RefusedAddMessage(const std::string& why, const RunSettings& offered);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_RUN_SETTINGS_H_
