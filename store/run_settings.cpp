#include "store/run_settings.h"

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"

namespace hitsieve {

namespace {

using sqlitepp::into;
using sqlitepp::use;

constexpr const char kCrawlersName[] = "crawlers";
constexpr const char kCrawlerListName[] = "crawler list";

bool HasSettingsTable(sqlitepp::session& session) { return session.has_table("run_settings"); }

std::string Describe(const RunSettings& settings) {
  return "--crawlers " + settings.crawlers + " with " + settings.crawler_list;
}

}  // namespace

RunSettings RunSettings::For(CrawlerMode mode) {
  return RunSettings{std::string(CrawlerModeKey(mode)),
                     std::string(CrawlerList::Builtin().Version())};
}

RunSettings LoadRunSettings(sqlitepp::session& session) {
  RunSettings settings;
  if (!HasSettingsTable(session)) return settings;
  std::string name, value;
  sqlitepp::statement rows(session);
  rows << "SELECT name, value FROM run_settings ORDER BY rec_id", into(name), into(value);
  while (rows.exec()) {
    if (name == kCrawlersName) settings.crawlers = value;
    if (name == kCrawlerListName) settings.crawler_list = value;
  }
  return settings;
}

void WriteRunSettings(sqlitepp::session& session, const RunSettings& settings) {
  session << "CREATE TABLE IF NOT EXISTS run_settings (rec_id INTEGER PRIMARY KEY, name TEXT, "
             "value TEXT)";
  session << "DELETE FROM run_settings";
  std::string name, value;
  sqlitepp::statement insert(session);
  insert << "INSERT INTO run_settings(name, value) VALUES(:name, :value)", use(name), use(value);
  for (const auto& [key, text] : {std::pair<const char*, const std::string&>{kCrawlersName,
                                                                             settings.crawlers},
                                  {kCrawlerListName, settings.crawler_list}}) {
    name = key;
    value = text;
    insert.exec();
  }
}

std::string WhyNotAddable(const RunSettings& stored, const RunSettings& offered) {
  if (!offered.Recorded()) return {};
  if (!stored.Recorded()) {
    if (offered.crawlers == CrawlerModeKey(CrawlerMode::kDescribed)) return {};
    return "the stored statistics were counted before --crawlers existed, as --crawlers "
           "described counts them, the new ones with " + Describe(offered);
  }
  if (stored == offered) return {};
  return "the stored statistics were counted with " + Describe(stored) + ", the new ones with " +
         Describe(offered);
}

std::string RefusedAddMessage(const std::string& why, const RunSettings& offered) {
  return "cannot add: " + why + "; added together the counts would mix two definitions of a "
         "visitor. Run analyse again without --add over all the logs to count them all with " +
         Describe(offered);
}

}  // namespace hitsieve
