#ifndef HITSIEVE_STORE_MERGE_PART_H_
#define HITSIEVE_STORE_MERGE_PART_H_

#include <optional>
#include <string>
#include <vector>

#include "store/log_piece.h"
#include "store/stats_merge.h"

// A statistics database from elsewhere (another machine's run, a cluster worker's part),
// offered to be merged. Nothing in it is trusted: it is opened read-only with a schema that
// may not run code, and its tables and every value are checked before any of it is used, so
// that a damaged or hostile part is refused before the target is touched.
namespace hitsieve {

// What a part brings: the logs it has counted and its statistics; or, for a piece of a log,
// no logs and the piece.
struct MergePart {
  std::vector<LogSource> logs;
  StatsTotals totals;
  std::optional<LogPiece> piece;
};

// Reads the part at `path` in one read transaction. Throws std::runtime_error (or
// sqlitepp::exception) when it is no regular file, no SQLite database, when its statistics
// are not plain tables, when a count is no whole number from 0 to 2^63-1, a key repeats, a
// day set is damaged, or it remembers no logs. A piece of a log (store/log_piece.h) is read
// only when `piece_wanted`, and then nothing else is. The messages do not name the file: the
// caller does. Never blocks on a pipe put in the part's place.
MergePart ReadMergePart(const std::string& path, bool piece_wanted = false);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_MERGE_PART_H_
