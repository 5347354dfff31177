// Collecting every report of a database as bytes, and shuffling the rows of its keyed tables.

#include "report_bytes.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "store/dimension_reports.h"
#include "tests/export/xlsx_reader.h"

namespace hitsieve::testing {

namespace {

// The page's data block: what its script turns into charts and tables. The rest of the page
// is the same for every database but for the time it was written.
std::string ReportPageData(const std::string& html) {
  const std::string open = "<script type=\"application/json\" id=\"report-data\">";
  const size_t begin = html.find(open);
  const size_t end = begin == std::string::npos ? begin : html.find("</script>", begin);
  if (end == std::string::npos) {
    ADD_FAILURE() << "no report data in the page";
    return {};
  }
  return html.substr(begin + open.size(), end - begin - open.size());
}

void Exec(sqlite3* connection, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + message);
  }
}

std::vector<int64_t> RecIds(sqlite3* connection, const std::string& table) {
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT rec_id FROM " + table;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    throw std::runtime_error(sql + ": " + sqlite3_errmsg(connection));
  std::vector<int64_t> ids;
  while (sqlite3_step(statement) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(statement, 0));
  sqlite3_finalize(statement);
  return ids;
}

}  // namespace

std::map<std::string, std::string> AllReportBytes(const TempDir& dir, const std::string& db) {
  std::map<std::string, std::string> bytes;
  auto run = [&](const std::vector<std::string>& args) {
    const CliResult result = RunCli(dir.path(), args);
    EXPECT_EQ(0, result.status) << args[0] << ' ' << args[1] << ": " << result.err;
    return result.out;
  };
  std::vector<std::string> kinds = {"common", "pages", "queries", "referers", "robots"};
  for (const DimensionReport& report : DimensionReports()) kinds.emplace_back(report.name);
  for (const std::string& kind : kinds) {
    bytes[kind + ".txt"] = run({"report", kind, "--db", db});
    bytes[kind + ".csv"] = run({"report", kind, "--db", db, "--format", "csv"});
    bytes[kind + ".raw.csv"] = run({"report", kind, "--db", db, "--format", "csv", "--raw"});
  }
  for (const std::string kind : {"common", "pages", "queries"}) {
    const fs::path workbook = dir / (kind + ".xlsx");
    run({"export", kind, "--db", db, "--xlsx", workbook.string(), "--force"});
    for (const std::string member : {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml"})
      bytes[kind + ".xlsx:" + member] = test::UnzipMember(workbook.string(), member);
    EXPECT_FALSE(bytes[kind + ".xlsx:xl/worksheets/sheet1.xml"].empty()) << kind;
  }
  for (const std::string language : {"ru", "en"}) {
    const fs::path page = dir / ("report." + language + ".html");
    run({"html", "--db", db, "--output", page.string(), "--force", "--lang", language});
    bytes["page." + language + ".json"] = ReportPageData(ReadFile(page));
  }
  return bytes;
}

std::vector<std::string> ReportDifferences(const std::map<std::string, std::string>& expected,
                                     const std::map<std::string, std::string>& actual) {
  std::vector<std::string> found;
  for (const auto& [name, bytes] : expected) {
    const auto other = actual.find(name);
    if (other == actual.end()) {
      found.push_back(name + ": missing");
      continue;
    }
    if (other->second == bytes) continue;
    size_t at = 0;
    while (at < bytes.size() && at < other->second.size() && bytes[at] == other->second[at]) ++at;
    const size_t line = bytes.rfind('\n', at) == std::string::npos ? 0 : bytes.rfind('\n', at) + 1;
    found.push_back(name + ": differs at byte " + std::to_string(at) + ", line starting \"" +
                    bytes.substr(line, 80) + "\" became \"" + other->second.substr(line, 80) +
                    "\"");
  }
  return found;
}

void ShuffleKeyedRows(const fs::path& db, unsigned seed) {
  sqlite3* connection = nullptr;
  if (sqlite3_open_v2(db.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(connection);
    throw std::runtime_error("cannot open " + db.string());
  }
  std::mt19937 rng(seed);
  try {
    Exec(connection, "BEGIN");
    std::vector<std::string> tables = {"common_stats", "page_stats", "referer_stats",
                                       "query_stats", "day_sets"};
    {
      sqlite3_stmt* statement = nullptr;
      sqlite3_prepare_v2(connection,
                         "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE "
                         "'dim\\_%' ESCAPE '\\'",
                         -1, &statement, nullptr);
      while (sqlite3_step(statement) == SQLITE_ROW)
        tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
      sqlite3_finalize(statement);
    }
    for (const std::string& table : tables) {
      const std::vector<int64_t> ids = RecIds(connection, table);
      std::vector<size_t> places(ids.size());
      std::iota(places.begin(), places.end(), 0);
      std::shuffle(places.begin(), places.end(), rng);
      Exec(connection, "UPDATE " + table + " SET rec_id = -rec_id");
      for (size_t k = 0; k < ids.size(); ++k) {
        // Ids with gaps between them, as rows deleted or never written would leave.
        const std::string id = std::to_string(3 * places[k] + 1 + rng() % 3);
        Exec(connection, "UPDATE " + table + " SET rec_id = " + id + " WHERE rec_id = " +
                             std::to_string(-ids[k]));
      }
    }
    Exec(connection, "COMMIT");
  } catch (...) {
    sqlite3_close(connection);
    throw;
  }
  sqlite3_close(connection);
}

}  // namespace hitsieve::testing
