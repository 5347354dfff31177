#ifndef HITSIEVE_STORE_STATS_MERGE_INTERNAL_H_
#define HITSIEVE_STORE_STATS_MERGE_INTERNAL_H_

// What the files behind stats_merge.h share and nobody else uses: checked adding of counts,
// the day sets' BLOB form, and the steps that loading, writing and adding in place have in
// common. Files: stats_totals.cpp (totals in memory), stats_loading.cpp (reading a database's
// statistics), stats_writing.cpp (saving: replacing, or adding by loading), merge_in_place.cpp
// (how stored rows are merged in place), remembered_logs.cpp (the set tables and the logs
// they remember).

#include <cstdint>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/save_progress.h"
#include "store/stats_merge.h"

namespace hitsieve::merge_internal {

inline constexpr const char kInsertDaySet[] =
    "INSERT INTO day_sets(rec_id, date, ips, visitors) VALUES(NULL, :date, :ips, :visitors)";

// `count` added to `sum`; a sum past the largest 64-bit integer fails the whole add (it would
// turn negative) and names the table.
inline void AddCount(int64_t& sum, int64_t count, const char* table) {
  if (__builtin_add_overflow(sum, count, &sum)) throw CountOverflowError(table);
}

template <typename Values>
void AddCounts(Values& sums, const Values& counts, const char* table) {
  for (size_t k = 0; k < sums.size(); ++k) AddCount(sums[k], counts[k], table);
}

inline void ReportPosition(SaveProgressObserver* observer, int position) {
  if (observer != nullptr) observer->SetPosition(position);
}

// Sorted hashes <-> their BLOB form, 8 little-endian bytes each. Decode throws when the BLOB
// is no such form (`date` names the day in the message).
std::string Encode(const std::vector<uint64_t>& hashes);
std::vector<uint64_t> Decode(const std::string& bytes, const std::string& date);

// The entry of `key` in a map filled in key order: found or added at the end without a walk
// down the tree (keys of one site share long prefixes). Falls back to a lookup when the key
// does not sort last.
template <typename Map>
typename Map::mapped_type& AtEnd(Map& map, const std::string& key) {
  if (!map.empty()) {
    auto last = std::prev(map.end());
    if (!map.key_comp()(last->first, key)) {
      if (!map.key_comp()(key, last->first)) return last->second;
      return map[key];
    }
  }
  return map.emplace_hint(map.end(), key, typename Map::mapped_type{})->second;
}

// The entry of `key`, which must be new when `refuse_repeats`: a database written by a save
// holds each key once, and one that holds a key twice was made by hand or is damaged.
template <typename Map>
typename Map::mapped_type& Entry(Map& map, const std::string& key, bool refuse_repeats,
                                 const char* table) {
  const size_t before = map.size();
  typename Map::mapped_type& entry = AtEnd(map, key);
  if (refuse_repeats && map.size() == before) {
    constexpr size_t kShown = 80;
    throw std::runtime_error(std::string(table) + " holds \"" + key.substr(0, kShown) +
                             (key.size() > kShown ? "..." : "") + "\" in more than one row");
  }
  return entry;
}

// Throws NotExtendableError unless the database holds day_sets and analysed_logs.
void Require(sqlitepp::session& session);

// The days of common_stats with their sets from day_sets (repeated days added up, or with
// `refuse_repeats` refused).
void LoadDays(sqlitepp::session& session, std::map<std::string, DayTotals, std::less<>>& days,
              bool refuse_repeats);

// Unless `read_against` is null, the remembered logs must still be those the caller judged the
// new text by.
void CheckReadAgainst(sqlitepp::session& session, const std::vector<LogSource>* read_against);

// Records `settings`, when recorded; unless `replace`, first throws when the stored statistics
// were counted under other settings. REQUIRES: inside the save's transaction.
void CheckAndWriteSettings(sqlitepp::session& session, const RunSettings& settings, bool replace);

// common_stats and day_sets from `days`, into emptied tables.
void WriteDays(sqlitepp::session& session, const std::map<std::string, DayTotals, std::less<>>& days);

// Robot hits after the rows robot_log holds.
void AppendRobotHits(sqlitepp::session& session, const std::vector<RobotHit>& hits);

// Thrown when stored rows are not as saves and adds leave them (a key or a day held by two
// rows, a day's sets without the day, rec_ids at the top of their range), as a database edited
// by hand may hold: the add is rolled back and redone by loading the whole statistics, which
// sums repeated keys and writes every table again in key order.
struct StoredRowsIrregular {};

// Adds to an extendable database without loading its statistics: each keyed table (the days
// included) is read once, the rows of stored keys get their counts added in place, the new
// keys are appended after the stored rows in key order, and robot hits are appended. Only the
// sets of the days added are read. `added` is left as it was, for a retry by loading. Throws
// StoredRowsIrregular (rolled back).
void AddInPlace(sqlitepp::session& session, const StatsTotals& added,
                const std::vector<LogSource>& sources, SaveProgressObserver* observer,
                const std::vector<LogSource>* read_against, bool rehearse);

// Drops the key indexes (and the folded phrases) that adds in place make; a replacing save
// calls it before writing every row again, so that it keeps no index up.
void DropKeyIndexes(sqlitepp::session& session);

// False when `column` of `table`, which has an index on it, holds a value that is neither
// text nor NULL: a lookup of a key's bytes would miss such a row.
bool KeyColumnHoldsTexts(sqlitepp::session& session, const std::string& table,
                         const std::string& column);

// Throws DimensionMismatchError unless statistics counted with `mine` (called `mine_name` in
// the message) may take statistics counted with `theirs`: every dimension of `mine` counted in
// `theirs` too, with the same version. Dimensions only `theirs` counted are left out.
void CheckDimensionsMatch(const std::map<std::string, DimensionTotals, std::less<>>& mine,
                          const std::map<std::string, DimensionTotals, std::less<>>& theirs,
                          const std::string& mine_name, const std::string& theirs_name);

// Adds the rows of `theirs` to those of `mine` (counts checked, visitor sets united).
void AddDimensionRows(const std::string& name, DimensionTotals& mine, DimensionTotals& theirs);

// The stored dimensions with their rows (repeated keys added up, or with `refuse_repeats`
// refused). Throws when a listed dimension is unknown to this program or listed twice.
std::map<std::string, DimensionTotals, std::less<>> LoadDimensions(sqlitepp::session& session,
                                                                   bool refuse_repeats);

// The dimensions of `added` into the stored statistics in place: stored rows get their counts
// added where they are, new keys are appended. Stored statistics that hold nothing take
// `added`'s dimensions. Throws DimensionMismatchError as StatsTotals::Add does, and
// StoredRowsIrregular on a key held by two rows.
// REQUIRES: `stored_held_nothing` from CheckAddedDimensions, before anything was added.
void AddDimensionsInPlace(sqlitepp::session& session, const StatsTotals& added,
                          bool stored_held_nothing);
// The check of AddDimensionsInPlace, made before anything is written; true when the stored
// statistics hold nothing (they then take `added`'s dimensions).
bool CheckAddedDimensions(sqlitepp::session& session, const StatsTotals& added);

}  // namespace hitsieve::merge_internal

#endif  // HITSIEVE_STORE_STATS_MERGE_INTERNAL_H_
