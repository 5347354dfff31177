// A part that holds the statistics of a byte range of one plain log rather than of whole logs,
// so that one large log can be read on several machines: the piece names its log and its
// range instead of remembering the log, and only the pieces of the whole log merged together
// make a part that remembers it.
#ifndef HITSIEVE_STORE_LOG_PIECE_H_
#define HITSIEVE_STORE_LOG_PIECE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sqlitepp {
class session;
}

namespace hitsieve {

struct LogPiece {
  std::string name;                      // the log's absolute path
  int64_t begin = 0, end = 0;            // the range asked for: the lines that begin in it
  int64_t text_begin = 0, text_end = 0;  // where their text lies
};

// True when the database holds the log_pieces table (with or without rows).
bool HasLogPieces(sqlitepp::session& session);

// Creates the log_pieces table and writes `piece` as its one row. A part with that row and
// no remembered logs is refused by older merges as one that remembers no logs.
void WriteLogPiece(sqlitepp::session& session, const LogPiece& piece);

// The rows of log_pieces in rec_id order; none when the table is missing. Throws
// std::runtime_error naming the row when a value is no text name or no consistent range.
std::vector<LogPiece> LoadLogPieces(sqlitepp::session& session);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_LOG_PIECE_H_
