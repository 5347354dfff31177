// Reading a merge part that nothing vouches for: the file's kind, the schema, every value,
// then the statistics themselves, all before the caller writes anything.

#include "store/merge_part.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/log_piece.h"
#include "store/sqlitepp/transaction.h"

namespace hitsieve {

namespace {

using sqlitepp::into;

constexpr const char* kStatsTables[] = {"common_stats", "page_stats", "referer_stats",
                                        "robot_log", "query_stats"};
constexpr const char* kSetTables[] = {"day_sets", "analysed_logs"};
constexpr const char kPieceTable[] = "log_pieces";  // only in a piece of a log

// A stat() of the path, which never opens it: opening a FIFO would wait for a writer.
void RequireRegularFile(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw std::runtime_error("no such database file");
    throw std::runtime_error(std::string("cannot be read: ") + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) throw std::runtime_error("not a regular file");
}

bool IsStatsName(const std::string& name) {
  if (name == "counted_dimensions" || name.rfind("dim_", 0) == 0) return true;
  for (const char* table : kStatsTables)
    if (name == table) return true;
  for (const char* table : kSetTables)
    if (name == table) return true;
  return name == kPieceTable;
}

bool BeginsWithCreateTable(const std::string& sql) {
  std::string words;
  for (char c : sql) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!words.empty() && words.back() != ' ') words += ' ';
    } else {
      words += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (words.size() >= 13) break;
  }
  return words.rfind("create table ", 0) == 0;
}

// Every statistics object must be a plain table: reading a view runs its SQL (which can take
// forever), a virtual table runs its module, and computed columns run their expressions. A
// trigger cannot fire in a read-only file, but one named like or set on a statistics table
// says the file was not written by a save. Indexes are harmless and allowed.
void CheckSchema(sqlitepp::session& session) {
  std::set<std::string> tables;
  std::string type, name, table, sql;
  {
    sqlitepp::statement rows(session);
    rows << "SELECT type, lower(name), lower(tbl_name), coalesce(sql, '') FROM sqlite_master",
        into(type), into(name), into(table), into(sql);
    while (rows.exec()) {
      if (!IsStatsName(name) && !IsStatsName(table)) continue;
      if (type == "index") continue;
      if (type == "table" && IsStatsName(name) && BeginsWithCreateTable(sql)) {
        tables.insert(name);
        continue;
      }
      const std::string& stats = IsStatsName(name) ? name : table;
      if (type == "table" || type == "view")
        throw std::runtime_error("its " + stats + " is a " +
                                 (type == "view" ? "view" : "virtual table") + ", not a plain table");
      throw std::runtime_error("holds a " + type + " on or named like " + stats +
                               "; only plain tables are merged");
    }
  }
  for (const char* wanted : kStatsTables) {
    if (tables.count(wanted) == 0)
      throw std::runtime_error("does not hold the statistics tables (" + std::string(wanted) +
                               " is missing)");
  }
  for (const char* wanted : kSetTables) {
    if (tables.count(wanted) == 0)
      throw std::runtime_error(
          "written without the tables that merging needs (by an earlier version, or by hand); "
          "analyse its logs again to merge them");
  }
  for (const std::string& name : tables) {
    int64_t computed = 0;
    sqlitepp::statement count(session);
    count << "SELECT count(*) FROM pragma_table_xinfo('" + name + "') WHERE hidden != 0",
        into(computed);
    while (count.exec()) {
    }
    if (computed != 0)
      throw std::runtime_error("its " + name +
                               " has computed or hidden columns, not a plain table");
  }
}

// A rule that each value of a column must meet, as an SQL condition on `@` (the column), and
// what a value that breaks it is not.
struct Rule {
  const char* condition;
  const char* broken;
};

constexpr Rule kCount = {"typeof(@) = 'integer' AND @ >= 0",
                         "is not a count (a whole number from 0 to 9223372036854775807)"};
constexpr Rule kWhole = {"typeof(@) = 'integer'", "is not a whole number"};
constexpr Rule kStatus = {"typeof(@) = 'integer' AND @ BETWEEN -2147483648 AND 2147483647",
                          "is not a status code"};
constexpr Rule kKind = {"typeof(@) = 'integer' AND @ IN (0, 1)", "is neither 0 nor 1"};
constexpr Rule kSet = {"typeof(@) = 'blob' AND length(@) % 8 = 0",
                       "is not a set of 8-byte hashes"};
constexpr Rule kText = {"typeof(@) = 'text'", "is not a text"};
constexpr Rule kTextOrNone = {"typeof(@) IN ('text', 'null')", "is not a text"};
constexpr Rule kHead = {"typeof(@) = 'integer' AND @ = min(bytes, 65536)",
                        "does not agree with bytes"};
static_assert(kLogHeadBytes == 65536, "kHead names the head's length");

struct ColumnRule {
  const char* table;
  const char* column;
  const Rule* rule;
};

constexpr ColumnRule kColumnRules[] = {
    {"common_stats", "ips", &kCount},        {"common_stats", "visitors", &kCount},
    {"common_stats", "views", &kCount},      {"common_stats", "searches", &kCount},
    {"page_stats", "visits", &kCount},       {"page_stats", "searches", &kCount},
    {"page_stats", "bandwidth", &kCount},    {"page_stats", "google", &kCount},
    {"page_stats", "yandex", &kCount},       {"page_stats", "rambler", &kCount},
    {"page_stats", "mailru", &kCount},       {"page_stats", "aport", &kCount},
    {"page_stats", "webalta", &kCount},      {"referer_stats", "type", &kKind},
    {"referer_stats", "cnt", &kCount},       {"robot_log", "code", &kStatus},
    {"query_stats", "total", &kCount},       {"query_stats", "google", &kCount},
    {"query_stats", "yandex", &kCount},      {"query_stats", "rambler", &kCount},
    {"query_stats", "mailru", &kCount},      {"query_stats", "aport", &kCount},
    {"query_stats", "webalta", &kCount},     {"day_sets", "ips", &kSet},
    {"day_sets", "visitors", &kSet},         {"analysed_logs", "name", &kText},
    {"analysed_logs", "bytes", &kCount},     {"analysed_logs", "hash", &kWhole},
    {"analysed_logs", "head_bytes", &kHead}, {"analysed_logs", "head_hash", &kWhole},
    {"analysed_logs", "first_line_hash", &kWhole}, {"analysed_logs", "lines", &kCount},
    {"analysed_logs", "time", &kTextOrNone}, {"analysed_logs", "first_day", &kTextOrNone},
    {"analysed_logs", "last_day", &kTextOrNone},
};

// The rule's condition on the column; a NULL outcome counts as broken.
std::string Condition(const ColumnRule& rule) {
  std::string condition = rule.rule->condition;
  for (size_t at = condition.find('@'); at != std::string::npos; at = condition.find('@', at))
    condition.replace(at, 1, rule.column);
  return "coalesce((" + condition + "), 0)";
}

// One pass over each table finds the first value that breaks its column's rule.
void CheckValues(sqlitepp::session& session) {
  for (size_t first = 0; first < std::size(kColumnRules);) {
    const std::string table = kColumnRules[first].table;
    size_t end = first;
    std::string which = "CASE", broken;
    for (; end < std::size(kColumnRules) && table == kColumnRules[end].table; ++end) {
      const std::string condition = Condition(kColumnRules[end]);
      which += " WHEN NOT " + condition + " THEN " + std::to_string(end);
      broken += (broken.empty() ? "NOT " : " OR NOT ") + condition;
    }
    int64_t rec_id = 0, rule = -1;
    sqlitepp::statement find(session);
    find << "SELECT rec_id, " + which + " END FROM " + table + " WHERE " + broken + " LIMIT 1",
        into(rec_id), into(rule);
    while (find.exec()) {
      if (rule < static_cast<int64_t>(first) || rule >= static_cast<int64_t>(end)) continue;
      const ColumnRule& column = kColumnRules[rule];
      throw std::runtime_error(table + "." + column.column + " of row " + std::to_string(rec_id) +
                               " " + column.rule->broken);
    }
    first = end;
  }
  // The format a log was read in: a column that parts written before logs remembered their
  // format do not have. A text, or NULL for the default reading.
  int64_t has_format = 0;
  {
    sqlitepp::statement count(session);
    count << "SELECT count(*) FROM pragma_table_info('analysed_logs') WHERE name = 'format'",
        into(has_format);
    while (count.exec()) {
    }
  }
  if (has_format != 0) {
    int64_t rec_id = 0;
    sqlitepp::statement find(session);
    find << "SELECT rec_id FROM analysed_logs WHERE typeof(format) NOT IN ('text', 'null') "
            "LIMIT 1",
        into(rec_id);
    while (find.exec())
      throw std::runtime_error("analysed_logs.format of row " + std::to_string(rec_id) +
                               " is not a text");
  }
}

}  // namespace

MergePart ReadMergePart(const std::string& path, bool piece_wanted) {
  RequireRegularFile(path);
  sqlitepp::session session(path, /*read_only=*/true);
  session.distrust_schema();
  // One snapshot: a process writing the part meanwhile cannot make the checks and the reading
  // see different rows.
  sqlitepp::transaction snapshot(session);
  CheckSchema(session);
  CheckValues(session);
  CheckDimensionValues(session);
  MergePart part;
  part.logs = LoadLogSources(session);
  const std::vector<LogPiece> pieces = LoadLogPieces(session);
  if (pieces.size() > 1 || (!pieces.empty() && !part.logs.empty()))
    throw std::runtime_error("holds several pieces of logs, or pieces beside whole logs, which "
                             "nothing writes");
  if (!pieces.empty()) {
    const LogPiece& piece = pieces.front();
    if (!piece_wanted)
      throw std::runtime_error(
          "holds the lines of " + piece.name + " that begin in bytes [" +
          std::to_string(piece.begin) + ", " + std::to_string(piece.end) +
          "), a piece of that log, not whole logs; merge all its pieces at once with "
          "--pieces-of");
    part.piece = piece;
  } else if (piece_wanted) {
    throw std::runtime_error("holds whole logs, not a piece of one");
  } else if (part.logs.empty())
    throw std::runtime_error(
        "remembers no logs, so it cannot be checked against counting a log twice (merged again, "
        "its statistics would be added again); analyse its logs again to merge them");
  part.totals = LoadTotals(session, /*robots=*/true, /*refuse_repeats=*/true);
  return part;
}

}  // namespace hitsieve
