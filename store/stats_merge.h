// Statistics totals that add up exactly, and loading, saving and adding them to a database.

#ifndef HITSIEVE_STORE_STATS_MERGE_H_
#define HITSIEVE_STORE_STATS_MERGE_H_

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dimensions/dimension.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "engine/text.h"
#include "store/run_settings.h"

namespace sqlitepp {
class session;
}

// Statistics that add up exactly: what a database holds, or what new logs bring, in a form
// where two of them can be added as if one run had read both. Besides the five statistics
// tables an extendable database keeps two more:
//   day_sets       one row per common_stats day: the day's distinct client addresses and
//                  visitors as sorted 64-bit hashes (8 bytes each, little-endian, in a BLOB),
//                  so that a day spread over several runs counts each of them once;
//   analysed_logs  every log whose text the statistics hold, recognised by its content.
// The code lives in stats_totals.cpp, stats_loading.cpp, stats_writing.cpp, merge_in_place.cpp
// and remembered_logs.cpp (stats_merge_internal.h says which holds what).
namespace hitsieve {

class SaveProgressObserver;

// The first bytes of a log that serve to find it again under another name.
inline constexpr int64_t kLogHeadBytes = 64 << 10;

// A log whose first `bytes` bytes (decompressed) the statistics hold.
struct LogSource {
  std::string name;         // the path it was last read under
  int64_t bytes = 0;
  uint64_t hash = 0;        // ContentHash of those bytes
  int64_t head_bytes = 0;   // min(kLogHeadBytes, bytes)
  uint64_t head_hash = 0;   // ContentHash of the first head_bytes bytes
  // ContentHash of the first line, line feed included (of the whole head when it holds no
  // line feed): two remembered logs that share it are copies of one log, read to different
  // lengths, even when the shorter one is shorter than the head.
  uint64_t first_line_hash = 0;
  int64_t lines = 0;        // lines in those bytes
  std::string time;         // when it was last read, UTC "YYYY-MM-DD HH:MM:SS"
  // The period its records were counted for, YYYY-MM-DD; empty for no limit on that side.
  std::string first_day, last_day;
  std::string format;  // the log format its lines were read in (LogFormat::text()); empty: combined
};

// Thrown when a database lacks the day_sets and analysed_logs tables that adding needs.
class NotExtendableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown when adding counts would pass the largest 64-bit integer: the sum would turn
// negative. Nothing is added.
class CountOverflowError : public std::runtime_error {
 public:
  explicit CountOverflowError(const std::string& table)
      : std::runtime_error("the counts of " + table +
                           " would add up to more than 9223372036854775807 (the largest count)"),
        table_(table) {}
  const std::string& table() const { return table_; }

 private:
  std::string table_;
};

using EngineTotals = std::array<int64_t, kEngineCount>;

struct DayTotals {
  int64_t views = 0, searches = 0;
  std::vector<uint64_t> ips;       // AddressHash, sorted, distinct
  std::vector<uint64_t> visitors;  // VisitorHash, sorted, distinct
};

struct PageTotals {
  int64_t visits = 0, searches = 0, bandwidth = 0;
  EngineTotals engines{};
};

// Thrown when two statistics were counted with different dimensions, or with different data
// for one (another crawler list, another country database): adding them would mix two
// definitions. Nothing is added.
class DimensionMismatchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The row of one dimension: its counts (as many as the dimension's shape names) and, for a
// dimension that keeps visitors, their VisitorHash values, sorted and distinct.
struct DimensionRowTotals {
  std::array<int64_t, kDimensionCounts> counts{};
  std::vector<uint64_t> visitors;
};

// A dimension's row key: day ("" for rows over the whole period), key, sub ("" for none).
struct DimensionRowKey {
  std::string day, key, sub;
  auto operator<=>(const DimensionRowKey&) const = default;
};

// One dimension's statistics, and the data (version) they were counted with.
struct DimensionTotals {
  std::string version;
  std::map<DimensionRowKey, DimensionRowTotals> rows;
};

struct StatsTotals {
  std::map<std::string, DayTotals, std::less<>> days;
  std::map<std::string, PageTotals, std::less<>> pages;
  std::map<std::string, int64_t, std::less<>> referers;
  std::map<std::string, int64_t, std::less<>> refererHosts;
  std::vector<RobotHit> robotHits;
  std::map<std::string, EngineTotals, CaseInsensitiveLess> queries;  // keeps the first spelling
  // What the counts were counted under; a save records it when it is recorded, after checking
  // that the stored statistics were counted under the same.
  RunSettings settings;
  // The dimensions these statistics were counted with, by name (DimensionShape::name).
  std::map<std::string, DimensionTotals, std::less<>> dimensions;

  // True when these hold no statistics at all (every dimension without rows too): such totals
  // take the dimensions of whatever is added to them.
  bool Empty() const;

  // Adds `later` as if its records had come after all of these: counts add up, day sets
  // unite, robot hits follow, a phrase already here keeps its spelling. `later` is emptied.
  // Throws CountOverflowError (these then hold part of the sums: drop them).
  // Dimensions: empty totals take `later`'s; otherwise a dimension counted here must be counted
  // in `later` with the same version (else DimensionMismatchError, before anything is added),
  // and one that only `later` counted is left out: these were counted without it.
  void Add(StatsTotals&& later);

  // A finished collector's statistics (its robot hits are moved out).
  static StatsTotals FromCollector(StatsCollector& collector);
};

// True when the database holds day_sets and analysed_logs.
bool IsExtendable(sqlitepp::session& session);

// Creates day_sets and analysed_logs where missing.
void CreateSetTables(sqlitepp::session& session);

// Reads the statistics of an extendable database (throws NotExtendableError otherwise);
// robot hits only when `robots`. Rows that repeat a key are added up, or with
// `refuse_repeats` refused (for a database from elsewhere, which a save must have written).
StatsTotals LoadTotals(sqlitepp::session& session, bool robots, bool refuse_repeats = false);

// The remembered logs in the order they were first read (throws NotExtendableError).
std::vector<LogSource> LoadLogSources(sqlitepp::session& session);

// The day_sets blobs of a collector's days, in the order of `days`: the costly part of
// writing them (every address and visitor hashed and sorted), which touches no database and
// so may run on another thread while the other tables are written.
struct DaySetBlobs {
  std::vector<std::string> ips, visitors;
};
DaySetBlobs EncodeDaySets(const StatsCollector& collector);

// The day_sets rows of a collector's days (`blobs` from EncodeDaySets on it, used up) and the
// analysed_logs rows, for a replacing save; the caller has emptied both tables inside its
// transaction.
void WriteDaySets(sqlitepp::session& session, const StatsCollector& collector,
                  DaySetBlobs&& blobs);
void WriteLogSources(sqlitepp::session& session, const std::vector<LogSource>& sources);

// Adds `added` to the statistics of the database in one transaction, then remembers
// `sources` (the whole list, replacing the stored one). With `replace` the stored
// statistics are dropped first, as a replacing run does; without it the database must be
// extendable. On any failure the database keeps its previous contents. `observer` may be null
// and receives positions 1 to 5 as in a replacing save. With `read_against`, the remembered
// logs that the caller judged the new text by must still be the stored ones (another process
// may have added meanwhile); otherwise nothing is saved and the error says so. Counts that
// would add up past the largest 64-bit integer throw CountOverflowError. With `rehearse`
// everything is done but the commit: the database keeps its contents, and the caller learns
// whether the save would fail. An add changes the rows of the keys it brings where they are and
// appends the new keys after the stored rows, in key order: the keyed tables are in key order
// only after a replacing run, and the reports order rows of equal count by key.
void SaveTotals(sqlitepp::session& session, StatsTotals&& added,
                const std::vector<LogSource>& sources, bool replace,
                SaveProgressObserver* observer,
                const std::vector<LogSource>* read_against = nullptr, bool rehearse = false);

// ---- Dimensions in the database -----------------------------------------------------------
// Each counted dimension has a table "dim_NAME" (rec_id, day, key, sub, its count columns and,
// where it keeps visitors, a visitors BLOB in the day sets' form), and a row in
// counted_dimensions (name, version). A database without counted_dimensions (written before
// dimensions existed) counts none; a dimension missing there is not counted in its statistics.

// The dimensions the stored statistics were counted with: name -> version.
std::map<std::string, std::string> StoredDimensions(sqlitepp::session& session);

// The dimensions counted in `added` that an add to the stored statistics leaves out, because
// the stored statistics were counted without them (and hold something). For a note.
std::vector<std::string> DimensionsLeftOut(sqlitepp::session& session, const StatsTotals& added);

// The hash a visitor (client address, user agent) has in the dimensions' visitor sets: not
// that of the day sets, so that each text is hashed once per run, not once per set it is in.
uint64_t DimensionVisitorHash(std::string_view address, std::string_view agent);
uint64_t DimensionVisitorHash(uint64_t address_hash, uint64_t agent_hash);

// A collector's dimensions as totals (visitors hashed).
std::map<std::string, DimensionTotals, std::less<>> DimensionTotalsOf(const StatsCollector& collector);

// Creates counted_dimensions and every known dimension's table where missing.
void CreateDimensionTables(sqlitepp::session& session);

// Empties every dimension table and the definitions and writes `dimensions` instead (a
// replacing save).
void ReplaceDimensions(sqlitepp::session& session,
                       const std::map<std::string, DimensionTotals, std::less<>>& dimensions);

// A dimension of a replacing save taken straight from a collector, which must outlive it (the
// rows' texts are its own): its rows in key order with their visitors hashed, as
// DimensionTotalsOf and ReplaceDimensions above would write them, without copying every key
// into a tree first.
struct PreparedDimension {
  // A row of the collector's table, or of `extra`.
  struct Row {
    uint32_t number = 0;
    bool extra = false;
  };
  const DimensionShape* shape = nullptr;
  std::string version;
  std::vector<Row> rows;  // in key order
  // By place in `rows`, for a dimension that keeps visitors: hashed, sorted, distinct.
  std::vector<std::vector<uint64_t>> visitors;
  const DimensionTable* table = nullptr;
  DimensionTable extra;  // rows of visitors nothing was counted in (a collector filled by hand)

  DimensionTable::Key KeyOf(size_t k) const {
    return rows[k].extra ? extra.KeyOf(rows[k].number) : table->KeyOf(rows[k].number);
  }
  const RowCounts& CountsOf(size_t k) const {
    return (rows[k].extra ? extra : *table).CellOf(rows[k].number).counts;
  }
};
// A collector's dimensions prepared one at a time, in name order, so that one is written while
// the next is prepared. All on one thread; `collector` outlives the preparer and what it
// prepared.
class DimensionPreparer {
 public:
  explicit DimensionPreparer(const StatsCollector& collector);
  ~DimensionPreparer();
  DimensionPreparer(const DimensionPreparer&) = delete;
  DimensionPreparer& operator=(const DimensionPreparer&) = delete;

  size_t size() const { return order_.size(); }
  PreparedDimension Prepare(size_t k);  // the k-th in name order
  // Where the k-th in name order is in the collector's dimensions().
  size_t CollectorIndex(size_t k) const { return order_.at(k); }
  // Whether the k-th, prepared, holds visitor lists.
  bool KeepsVisitors(size_t k) const;

 private:
  struct Hashes;  // each address and agent hashed once for all dimensions
  uint64_t VisitorHash(uint64_t visitor);  // as the dimensions' tables store it
  const StatsCollector& collector_;
  std::vector<size_t> order_;  // indexes into the collector's dimensions(), in name order
  std::unique_ptr<Hashes> hashes_;
};

// A replacing save of prepared dimensions: StartReplacingDimensions empties every dimension's
// table and the definitions, then WriteDimension writes each, in name order.
void StartReplacingDimensions(sqlitepp::session& session);
void WriteDimension(sqlitepp::session& session, const PreparedDimension& dimension);

// Every value of the dimension tables a database lists, checked as a merge part's must be:
// known names listed once, counts whole numbers from 0 to 2^63-1, keys texts, visitor sets
// well formed. Throws std::runtime_error naming the table and row.
void CheckDimensionValues(sqlitepp::session& session);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_STATS_MERGE_H_
