#include "store/log_piece.h"

#include <stdexcept>

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"

namespace hitsieve {

namespace {

using sqlitepp::into;
using sqlitepp::use;

// Each value as a piece writes it; anything else is damage or a hand-made file.
constexpr const char kBrokenRow[] =
    "SELECT rec_id FROM log_pieces WHERE NOT coalesce(typeof(name) = 'text' AND "
    "typeof(range_begin) = 'integer' AND typeof(range_end) = 'integer' AND "
    "typeof(text_begin) = 'integer' AND typeof(text_end) = 'integer' AND range_begin >= 0 AND "
    "range_end >= range_begin AND text_begin >= 0 AND text_end >= text_begin, 0) LIMIT 1";

}  // namespace

bool HasLogPieces(sqlitepp::session& session) { return session.has_table("log_pieces"); }

void WriteLogPiece(sqlitepp::session& session, const LogPiece& piece) {
  session << "CREATE TABLE log_pieces (rec_id INTEGER PRIMARY KEY, name TEXT, range_begin INTEGER, "
             "range_end INTEGER, text_begin INTEGER, text_end INTEGER)";
  LogPiece row = piece;
  sqlitepp::statement insert(session);
  insert << "INSERT INTO log_pieces(rec_id, name, range_begin, range_end, text_begin, text_end) "
            "VALUES(NULL, :name, :range_begin, :range_end, :text_begin, :text_end)",
      use(row.name), use(row.begin), use(row.end), use(row.text_begin), use(row.text_end);
  insert.exec();
}

std::vector<LogPiece> LoadLogPieces(sqlitepp::session& session) {
  std::vector<LogPiece> pieces;
  if (!HasLogPieces(session)) return pieces;
  {
    int64_t broken = -1;
    sqlitepp::statement find(session);
    find << kBrokenRow, into(broken);
    while (find.exec()) {
      throw std::runtime_error("log_pieces row " + std::to_string(broken) +
                               " is not a byte range of a log");
    }
  }
  LogPiece row;
  sqlitepp::statement rows(session);
  rows << "SELECT name, range_begin, range_end, text_begin, text_end FROM log_pieces "
          "ORDER BY rec_id",
      into(row.name), into(row.begin), into(row.end), into(row.text_begin), into(row.text_end);
  while (rows.exec()) pieces.push_back(row);
  return pieces;
}

}  // namespace hitsieve
