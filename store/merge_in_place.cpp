// How an add or a merge changes stored rows in place: a stored key's row gets its counts
// added where it is, and the keys new to a table are appended after its stored rows. No row
// is rewritten that the add does not change, so an add costs what it brings, not what the
// database holds.

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "store/row_writers.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"
#include "store/stats_merge.h"
#include "store/stats_merge_internal.h"

namespace hitsieve::merge_internal {

namespace {

using sqlitepp::into;
using sqlitepp::into_blob;
using sqlitepp::use;
using sqlitepp::use_blob;

// Rows are in key order only after a replacing run. An add appends the keys new to a table in
// key order (pages and referers by their bytes, hosts before whole referers, phrases in the
// engine's case-insensitive order), under the rec_ids after the largest stored one; the report
// lists order rows of equal count by key, so where a row stands never shows.

using Keyed = row_writers::KeyedTable;

constexpr int kPageValues = 3 + kEngineCount;  // visits, searches, bandwidth, engines

struct KeyedRow {
  int kind = 0;  // referer_stats: 0 a host, 1 a referer; 0 in the other tables
  std::string key;
  std::array<int64_t, kPageValues> values{};
};

bool KeyedLess(Keyed table, const KeyedRow& a, const KeyedRow& b) {
  if (a.kind != b.kind) return a.kind < b.kind;
  if (table == Keyed::kQueries) return CaseInsensitiveLess{}(a.key, b.key);
  return a.key < b.key;
}

const char* TableName(Keyed table) {
  switch (table) {
    case Keyed::kPages: return "page_stats";
    case Keyed::kReferers: return "referer_stats";
    case Keyed::kQueries: return "query_stats";
  }
  return "";
}

// Every stored row of one table, read once in storage order, its key and counts into `row`.
// A row unlike those saves and adds write (a key that is no text, a count that is no integer,
// a referer type other than 0 or 1, a phrase total that is not the sum of its engines) throws
// StoredRowsIrregular: loading writes such rows again as a save would, an add in place would
// leave them as they are.
class StoredScan {
 public:
  StoredScan(sqlitepp::session& session, Keyed table) : table_(table), rows_(session) {
    auto& v = row.values;
    switch (table) {
      case Keyed::kPages:
        rows_ << std::string("SELECT rec_id, page, visits, searches, bandwidth, google, yandex, "
                             "rambler, mailru, aport, webalta, ") +
                     Regular("page", {"visits", "searches", "bandwidth"}) + " FROM page_stats",
            into(id), into_blob(row.key), into(v[0]), into(v[1]), into(v[2]), into(v[3]),
            into(v[4]), into(v[5]), into(v[6]), into(v[7]), into(v[8]), into(regular_);
        break;
      case Keyed::kReferers:
        rows_ << "SELECT rec_id, referer, type, cnt, " + Regular("referer", {"type", "cnt"}) +
                     " AND type IN (0, 1) FROM referer_stats",
            into(id), into_blob(row.key), into(type_), into(v[0]), into(regular_);
        break;
      case Keyed::kQueries:
        rows_ << "SELECT rec_id, query, google, yandex, rambler, mailru, aport, webalta, " +
                     Regular("query", {"total"}) +
                     " AND total = google + yandex + rambler + mailru + aport + webalta FROM "
                     "query_stats",
            into(id), into_blob(row.key), into(v[0]), into(v[1]), into(v[2]), into(v[3]),
            into(v[4]), into(v[5]), into(regular_);
        break;
    }
  }

  bool Next() {
    if (!rows_.exec()) return false;
    if (regular_ != 1) throw StoredRowsIrregular{};
    if (table_ == Keyed::kReferers) row.kind = type_ == 0 ? 0 : 1;
    return true;
  }

  int64_t id = 0;
  KeyedRow row;

 private:
  // 1 when `key` is text (or NULL, the empty key) and `counts` and the engines are integers.
  static std::string Regular(const char* key, std::initializer_list<const char*> counts) {
    std::string test = std::string("(typeof(") + key + ") IN ('text', 'null')";
    auto integer = [&test](const char* column) {
      test += std::string(" AND typeof(") + column + ") = 'integer'";
    };
    for (const char* column : counts) integer(column);
    if (std::string_view(key) != "referer") {
      for (const char* engine : {"google", "yandex", "rambler", "mailru", "aport", "webalta"})
        integer(engine);
    }
    return test + ")";
  }

  Keyed table_;
  int64_t type_ = 0, regular_ = 0;
  sqlitepp::statement rows_;
};

// The counts of the stored row `id` set to `row`'s; its key (and a phrase's spelling) stays.
class CountUpdater {
 public:
  CountUpdater(sqlitepp::session& session, Keyed table) : table_(table), update_(session) {
    auto& v = values_;
    switch (table) {
      case Keyed::kPages:
        update_ << "UPDATE page_stats SET visits = :visits, searches = :searches, bandwidth = "
                   ":bandwidth, google = :google, yandex = :yandex, rambler = :rambler, mailru = "
                   ":mailru, aport = :aport, webalta = :webalta WHERE rec_id = :rec_id",
            use(v[0]), use(v[1]), use(v[2]), use(v[3]), use(v[4]), use(v[5]), use(v[6]),
            use(v[7]), use(v[8]), use(id_);
        break;
      case Keyed::kReferers:
        update_ << "UPDATE referer_stats SET cnt = :cnt WHERE rec_id = :rec_id", use(v[0]),
            use(id_);
        break;
      case Keyed::kQueries:
        update_ << "UPDATE query_stats SET total = :total, google = :google, yandex = :yandex, "
                   "rambler = :rambler, mailru = :mailru, aport = :aport, webalta = :webalta "
                   "WHERE rec_id = :rec_id",
            use(total_), use(v[0]), use(v[1]), use(v[2]), use(v[3]), use(v[4]), use(v[5]),
            use(id_);
        break;
    }
  }

  void Update(int64_t id, const KeyedRow& row) {
    id_ = id;
    values_ = row.values;
    total_ = 0;
    if (table_ == Keyed::kQueries) {
      for (int e = 0; e < kEngineCount; ++e) AddCount(total_, values_[e], "query_stats");
    }
    update_.exec();
  }

 private:
  Keyed table_;
  int64_t id_ = 0, total_ = 0;
  std::array<int64_t, kPageValues> values_{};
  sqlitepp::statement update_;
};

constexpr int64_t kNoRow = std::numeric_limits<int64_t>::min();

// Phrases are one key whatever the case of their letters, which no index on query_stats.query
// can find. query_folds holds the rec_id of every phrase row with its phrase folded to lower
// case (Cp1251Lower, as bytes), indexed by the folded phrase. The add that first looks phrases
// up fills it from the whole table; every add and merge after it folds the rows it appends, and
// first the rows another writer appended meanwhile (those past the largest rec_id it holds). A
// replacing run drops it with the key indexes.
constexpr char kCreateFolds[] =
    "CREATE TABLE query_folds (rec_id INTEGER PRIMARY KEY, fold BLOB NOT NULL)";
constexpr char kIndexFolds[] =
    "CREATE INDEX IF NOT EXISTS query_folds_fold ON query_folds(fold)";

std::string FoldPhrase(std::string_view phrase) {
  std::string folded(phrase);
  for (char& c : folded) c = static_cast<char>(Cp1251Lower(static_cast<unsigned char>(c)));
  return folded;
}

bool SamePhrase(std::string_view a, std::string_view b) {
  return !CaseInsensitiveLess{}(a, b) && !CaseInsensitiveLess{}(b, a);
}

// Appends (rec_id, folded phrase) rows to query_folds.
class PhraseFoldWriter {
 public:
  explicit PhraseFoldWriter(sqlitepp::session& session) : insert_(session) {
    insert_ << "INSERT INTO query_folds(rec_id, fold) VALUES(:rec_id, :fold)", use(id_),
        use_blob(fold_);
  }
  void Add(int64_t id, std::string_view phrase) {
    id_ = id;
    fold_ = FoldPhrase(phrase);
    insert_.exec();
  }

 private:
  int64_t id_ = 0;
  std::string fold_;
  sqlitepp::statement insert_;
};

// False when the rows of query_folds with the smallest and the largest rec_id are not those of
// query_stats: a writer that keeps no folds wrote the table again (a replacing run of an
// earlier version, say).
bool FoldsAgreeAtTheEnds(sqlitepp::session& session) {
  std::string fold, phrase;
  int64_t found = 0;
  bool agree = true;
  sqlitepp::statement rows(session);
  rows << "SELECT f.fold, q.query, q.rec_id IS NOT NULL FROM query_folds f LEFT JOIN "
          "query_stats q ON q.rec_id = f.rec_id WHERE f.rec_id IN ((SELECT min(rec_id) FROM "
          "query_folds), (SELECT max(rec_id) FROM query_folds))",
      into_blob(fold), into_blob(phrase), into(found);
  while (rows.exec()) agree = agree && found != 0 && fold == FoldPhrase(phrase);
  return agree;
}

// Makes query_folds hold every row of query_stats: made and filled from the whole table when
// missing or written again by another writer, else given the rows past the largest rec_id it
// holds. A phrase that is no text throws StoredRowsIrregular, as reading the whole table would.
void FoldStoredPhrases(sqlitepp::session& session) {
  bool whole = !session.has_table("query_folds");
  if (whole) {
    session << kCreateFolds;
  } else if (!FoldsAgreeAtTheEnds(session)) {
    session << "DELETE FROM query_folds";
    whole = true;
  }
  std::string select =
      "SELECT rec_id, query, typeof(query) IN ('text', 'null') FROM query_stats";
  if (!whole) {
    // The largest rec_id, read at the end of the table's key: no scan.
    int64_t any = 0;
    sqlitepp::statement read(session);
    read << "SELECT max(rec_id) IS NOT NULL FROM query_folds", into(any);
    while (read.exec()) {
    }
    if (any != 0) select += " WHERE rec_id > (SELECT max(rec_id) FROM query_folds)";
  }
  PhraseFoldWriter folds(session);
  int64_t id = 0, regular = 0;
  std::string phrase;
  sqlitepp::statement rows(session);
  rows << select, into(id), into_blob(phrase), into(regular);
  while (rows.exec()) {
    if (regular != 1) throw StoredRowsIrregular{};
    folds.Add(id, phrase);
  }
  session << kIndexFolds;
}

// The stored rows of a few added keys, found through an index instead of by reading every
// stored row: an add of one day onto years of statistics touches the rows of that day's keys
// and no others. Pages and referers through an index on the key column; phrases through
// query_folds. The index is made by the first add that needs it and kept up by the adds after
// it; a replacing run drops it (DropKeyIndexes), so that writing every row in key order costs
// no index too.
class StoredLookup {
 public:
  // True when looking the keys up costs less than reading the table: few keys onto many rows.
  static bool Pays(sqlitepp::session& session, Keyed table, size_t added, int64_t& largest_id) {
    largest_id = LargestId(session, table);
    constexpr int64_t kRowsPerKey = 4;
    return static_cast<int64_t>(added) <= largest_id / kRowsPerKey;
  }

  StoredLookup(sqlitepp::session& session, Keyed table)
      : table_(table), rows_(session), empty_rows_(session) {
    if (table == Keyed::kPages) {
      session << "CREATE INDEX IF NOT EXISTS page_stats_page ON page_stats(page)";
      if (!KeyColumnHoldsTexts(session, "page_stats", "page")) throw StoredRowsIrregular{};
      const std::string columns =
          "SELECT rec_id, 0, visits, searches, bandwidth, google, yandex, rambler, mailru, "
          "aport, webalta, " +
          Regular("page", {"visits", "searches", "bandwidth", "google", "yandex", "rambler",
                           "mailru", "aport", "webalta"}) +
          " FROM page_stats WHERE ";
      Prepare(columns, "page");
    } else if (table == Keyed::kReferers) {
      session << "CREATE INDEX IF NOT EXISTS referer_stats_referer ON referer_stats(referer)";
      if (!KeyColumnHoldsTexts(session, "referer_stats", "referer")) throw StoredRowsIrregular{};
      const std::string columns =
          "SELECT rec_id, type, cnt, 0, 0, 0, 0, 0, 0, 0, 0, " +
          Regular("referer", {"type", "cnt"}) + " AND type IN (0, 1) FROM referer_stats WHERE ";
      Prepare(columns, "referer");
    } else {
      FoldStoredPhrases(session);
      auto& v = values_;
      // A row of query_folds whose query_stats row is gone, or whose phrase was changed by
      // another writer, is passed over: the phrase itself decides.
      rows_ << "SELECT q.rec_id, q.query, q.google, q.yandex, q.rambler, q.mailru, q.aport, "
               "q.webalta, " +
                   Regular("q.query", {"q.total", "q.google", "q.yandex", "q.rambler",
                                       "q.mailru", "q.aport", "q.webalta"}) +
                   " AND q.total = q.google + q.yandex + q.rambler + q.mailru + q.aport + "
                   "q.webalta FROM query_folds f JOIN query_stats q ON q.rec_id = f.rec_id "
                   "WHERE f.fold = :fold",
          into(id_), into_blob(stored_key_), into(v[0]), into(v[1]), into(v[2]), into(v[3]),
          into(v[4]), into(v[5]), into(regular_), use_blob(key_);
    }
  }

  // The stored row of `row`'s key and kind, its counts added to `row`'s; kNoRow when none.
  // Throws StoredRowsIrregular for a row unlike those saves and adds write, or a key held twice.
  int64_t AddStored(KeyedRow& row) {
    if (table_ == Keyed::kQueries) return AddStoredPhrase(row);
    sqlitepp::statement& rows = row.key.empty() ? empty_rows_ : rows_;
    key_ = row.key;
    int64_t found = kNoRow;
    while (rows.exec()) {
      if (regular_ != 1) throw StoredRowsIrregular{};
      if ((type_ == 0 ? 0 : 1) != row.kind) continue;
      if (found != kNoRow) throw StoredRowsIrregular{};
      found = id_;
      AddCounts(row.values, values_, TableName(table_));
    }
    return found;
  }

 private:
  int64_t AddStoredPhrase(KeyedRow& row) {
    key_ = FoldPhrase(row.key);
    int64_t found = kNoRow;
    values_.fill(0);
    while (rows_.exec()) {
      if (regular_ != 1) throw StoredRowsIrregular{};
      if (!SamePhrase(stored_key_, row.key)) continue;
      if (found != kNoRow) throw StoredRowsIrregular{};
      found = id_;
      AddCounts(row.values, values_, TableName(table_));
    }
    return found;
  }

  static int64_t LargestId(sqlitepp::session& session, Keyed table) {
    int64_t largest = 0;
    sqlitepp::statement read(session);
    read << std::string("SELECT coalesce(max(rec_id), 0) FROM ") + TableName(table),
        into(largest);
    while (read.exec()) {
    }
    return largest;
  }

  // 1 when `key` is text (or NULL, the empty key) and every count column is an integer.
  static std::string Regular(const char* key, std::initializer_list<const char*> counts) {
    std::string test = std::string("(typeof(") + key + ") IN ('text', 'null')";
    for (const char* column : counts) test += std::string(" AND typeof(") + column + ") = 'integer'";
    return test + ")";
  }

  void Prepare(const std::string& columns, const char* key) {
    auto& v = values_;
    rows_ << columns + key + " = :key", into(id_), into(type_), into(v[0]), into(v[1]),
        into(v[2]), into(v[3]), into(v[4]), into(v[5]), into(v[6]), into(v[7]), into(v[8]),
        into(regular_), use(key_);
    empty_rows_ << columns + key + " = '' OR " + key + " IS NULL", into(id_), into(type_),
        into(v[0]), into(v[1]), into(v[2]), into(v[3]), into(v[4]), into(v[5]), into(v[6]),
        into(v[7]), into(v[8]), into(regular_);
  }

  Keyed table_;
  std::string key_, stored_key_;
  int64_t id_ = 0, type_ = 0, regular_ = 0;
  std::array<int64_t, kPageValues> values_{};
  sqlitepp::statement rows_, empty_rows_;
};

// The stored rows of the added keys by reading the whole table once; fills `stored_ids` and
// `largest_id` and adds the stored counts to `added`'s.
void ScanStored(sqlitepp::session& session, Keyed table, std::vector<KeyedRow>& added,
                std::vector<int64_t>& stored_ids, int64_t& largest_id) {
  largest_id = 0;
  StoredScan stored(session, table);
  while (stored.Next()) {
    largest_id = std::max(largest_id, stored.id);
    const auto at = std::lower_bound(
        added.begin(), added.end(), stored.row,
        [table](const KeyedRow& a, const KeyedRow& b) { return KeyedLess(table, a, b); });
    if (at == added.end() || KeyedLess(table, stored.row, *at)) continue;
    const size_t k = static_cast<size_t>(at - added.begin());
    if (stored_ids[k] != kNoRow) throw StoredRowsIrregular{};
    stored_ids[k] = stored.id;
    AddCounts(at->values, stored.row.values, TableName(table));
  }
}

// Adds `added` (sorted by KeyedLess, keys distinct) to the stored rows of `table`: each stored
// row whose key is added gets its counts added in place, and the added keys that no row holds
// are appended in key order. The stored rows are found by reading the table once, or, for a
// few keys onto a large table, through the key's index. A key held by two stored rows (a
// database edited by hand) throws StoredRowsIrregular before anything is written.
void AddToKeyedTable(sqlitepp::session& session, Keyed table, std::vector<KeyedRow>&& added) {
  std::vector<int64_t> stored_ids(added.size(), kNoRow);
  int64_t largest_id = 0;
  // Whether query_folds is kept up by this add: when the lookup makes it, or it exists.
  bool folds = false;
  if (StoredLookup::Pays(session, table, added.size(), largest_id)) {
    StoredLookup lookup(session, table);
    folds = table == Keyed::kQueries;
    for (size_t k = 0; k < added.size(); ++k) stored_ids[k] = lookup.AddStored(added[k]);
  } else {
    ScanStored(session, table, added, stored_ids, largest_id);
    if (table == Keyed::kQueries && session.has_table("query_folds")) {
      FoldStoredPhrases(session);
      folds = true;
    }
  }
  const size_t fresh = static_cast<size_t>(std::count(stored_ids.begin(), stored_ids.end(), kNoRow));
  // Ids this large were not numbered by SQLite: loading numbers the rows afresh.
  if (largest_id > std::numeric_limits<int64_t>::max() - static_cast<int64_t>(fresh))
    throw StoredRowsIrregular{};

  CountUpdater updater(session, table);
  for (size_t k = 0; k < added.size(); ++k) {
    if (stored_ids[k] != kNoRow) updater.Update(stored_ids[k], added[k]);
  }
  row_writers::PlacedRow blank;
  blank.table = table;
  const char* insert =
      table == Keyed::kPages
          ? "INSERT INTO page_stats(rec_id, page, visits, searches, bandwidth, google, yandex, "
            "rambler, mailru, aport, webalta) VALUES(:rec_id, :page, :visits, :searches, "
            ":bandwidth, :google, :yandex, :rambler, :mailru, :aport, :webalta)"
      : table == Keyed::kReferers
          ? "INSERT INTO referer_stats(rec_id, referer, type, cnt) VALUES(:rec_id, :referer, "
            ":type, :cnt)"
          : "INSERT INTO query_stats(rec_id, query, total, google, yandex, rambler, mailru, "
            "aport, webalta) VALUES(:rec_id, :query, :total, :google, :yandex, :rambler, "
            ":mailru, :aport, :webalta)";
  row_writers::Batch<row_writers::PlacedRow> appended(session, insert, blank);
  int64_t id = largest_id;
  std::optional<PhraseFoldWriter> fold_writer;
  if (folds) fold_writer.emplace(session);
  for (size_t k = 0; k < added.size(); ++k) {
    if (stored_ids[k] != kNoRow) continue;
    row_writers::PlacedRow& row = appended.Next();
    row.id = ++id;
    if (fold_writer) fold_writer->Add(row.id, added[k].key);
    row.key.swap(added[k].key);
    row.kind = added[k].kind;
    row.values = added[k].values;
    row.total = 0;
    if (table == Keyed::kQueries) {
      for (int e = 0; e < kEngineCount; ++e) AddCount(row.total, row.values[e], "query_stats");
    }
    appended.Added();
  }
  appended.Flush();
}

// The days: common_stats and day_sets hold one row per day each. A stored day that is added
// gets its counts added and its sets united in place; new days are appended in date order.
// Every stored day must have its sets (else NotExtendableError, as loading would say); a day
// held twice, or sets without their day, throw StoredRowsIrregular.
void AddDays(sqlitepp::session& session,
             const std::map<std::string, DayTotals, std::less<>>& added) {
  struct StoredDay {
    int64_t common_id = 0, sets_id = 0;
    bool has_sets = false;
  };
  std::map<std::string, StoredDay, std::less<>> stored;
  std::string date;
  int64_t id = 0;
  {
    sqlitepp::statement rows(session);
    rows << "SELECT rec_id, date FROM common_stats", into(id), into_blob(date);
    while (rows.exec()) {
      if (!stored.try_emplace(date, StoredDay{id, 0, false}).second) throw StoredRowsIrregular{};
    }
  }
  {
    // Only the dates: the sets of days not added are never read. A day's sets fill pages of
    // their own, so the dates are read from an index on them (made by the first add, dropped
    // by a replacing run), which holds every date in a few pages.
    session << "CREATE INDEX IF NOT EXISTS day_sets_date ON day_sets(date)";
    sqlitepp::statement rows(session);
    rows << "SELECT rec_id, date FROM day_sets INDEXED BY day_sets_date", into(id),
        into_blob(date);
    while (rows.exec()) {
      const auto it = stored.find(date);
      if (it == stored.end() || it->second.has_sets) throw StoredRowsIrregular{};
      it->second.sets_id = id;
      it->second.has_sets = true;
    }
  }
  for (const auto& [day, ids] : stored) {
    if (!ids.has_sets)
      throw NotExtendableError(
          "day_sets does not hold the sets of every day in common_stats; run analyse once "
          "without --add to make the database extendable again");
  }

  std::string ips, visitors;
  int64_t views = 0, searches = 0, ip_count = 0, visitor_count = 0, common_id = 0, sets_id = 0;
  sqlitepp::statement read_counts(session), read_sets(session), update_counts(session),
      update_sets(session);
  read_counts << "SELECT views, searches FROM common_stats WHERE rec_id = :rec_id", into(views),
      into(searches), use(common_id);
  read_sets << "SELECT ips, visitors FROM day_sets WHERE rec_id = :rec_id", into_blob(ips),
      into_blob(visitors), use(sets_id);
  update_counts << "UPDATE common_stats SET ips = :ips, visitors = :visitors, views = :views, "
                   "searches = :searches WHERE rec_id = :rec_id",
      use(ip_count), use(visitor_count), use(views), use(searches), use(common_id);
  update_sets << "UPDATE day_sets SET ips = :ips, visitors = :visitors WHERE rec_id = :rec_id",
      use_blob(ips), use_blob(visitors), use(sets_id);
  sqlitepp::statement insert_counts(session), insert_sets(session);
  insert_counts << kInsertCommonStats, use(date), use(ip_count), use(visitor_count), use(views),
      use(searches);
  insert_sets << kInsertDaySet, use(date), use_blob(ips), use_blob(visitors);

  for (const auto& [day, more] : added) {
    const auto it = stored.find(day);
    StatsTotals sum;
    DayTotals& totals = sum.days[day];
    if (it != stored.end()) {
      common_id = it->second.common_id;
      sets_id = it->second.sets_id;
      views = searches = 0;
      while (read_counts.exec()) {
      }
      while (read_sets.exec()) {
      }
      totals.views = views;
      totals.searches = searches;
      totals.ips = Decode(ips, day);
      totals.visitors = Decode(visitors, day);
    }
    StatsTotals adding;
    adding.days[day] = more;
    sum.Add(std::move(adding));
    date = day;
    ip_count = static_cast<int64_t>(totals.ips.size());
    visitor_count = static_cast<int64_t>(totals.visitors.size());
    views = totals.views;
    searches = totals.searches;
    ips = Encode(totals.ips);
    visitors = Encode(totals.visitors);
    if (it != stored.end()) {
      update_counts.exec();
      update_sets.exec();
    } else {
      // Days come in date order, and SQLite numbers each row after the largest rec_id.
      insert_counts.exec();
      insert_sets.exec();
    }
  }
}

std::vector<KeyedRow> PageRows(const StatsTotals& added) {
  std::vector<KeyedRow> rows(added.pages.size());
  size_t k = 0;
  for (const auto& [page, stats] : added.pages) {
    KeyedRow& row = rows[k++];
    row.key = page;
    row.values[0] = stats.visits;
    row.values[1] = stats.searches;
    row.values[2] = stats.bandwidth;
    std::copy(stats.engines.begin(), stats.engines.end(), row.values.begin() + 3);
  }
  return rows;
}

std::vector<KeyedRow> RefererRows(const StatsTotals& added) {
  std::vector<KeyedRow> rows;
  rows.reserve(added.refererHosts.size() + added.referers.size());
  for (const auto* list : {&added.refererHosts, &added.referers}) {
    for (const auto& [text, count] : *list) {
      KeyedRow& row = rows.emplace_back();
      row.kind = list == &added.refererHosts ? 0 : 1;
      row.key = text;
      row.values[0] = count;
    }
  }
  return rows;
}

std::vector<KeyedRow> QueryRows(const StatsTotals& added) {
  std::vector<KeyedRow> rows(added.queries.size());
  size_t k = 0;
  for (const auto& [phrase, counts] : added.queries) {
    KeyedRow& row = rows[k++];
    row.key = phrase;
    std::copy(counts.begin(), counts.end(), row.values.begin());
  }
  return rows;
}

// While it lives, the session's page cache holds at least 16 MiB, so that the pages of a table
// whose rows are updated leave it (and are written out) far less often than with the default
// 2 MiB.
class LargerPageCache {
 public:
  explicit LargerPageCache(sqlitepp::session& session) : session_(session) {
    sqlitepp::statement read(session);
    read << "PRAGMA cache_size", into(before_);
    while (read.exec()) {
    }
    if (before_ > -kKib && before_ < kKib / 4) session << "PRAGMA cache_size = " << -kKib;
  }
  ~LargerPageCache() {
    try {
      session_ << "PRAGMA cache_size = " << before_;
    } catch (...) {
      // The cache only keeps its larger size.
    }
  }

 private:
  static constexpr int64_t kKib = 16 << 10;
  sqlitepp::session& session_;
  int64_t before_ = -2000;
};

}  // namespace

bool KeyColumnHoldsTexts(sqlitepp::session& session, const std::string& table,
                         const std::string& column) {
  // Texts sort after numbers and before BLOBs, so the index's two ends tell.
  for (const char* end : {"", " DESC"}) {
    std::string type;
    sqlitepp::statement read(session);
    read << "SELECT typeof(" + column + ") FROM " + table + " WHERE " + column +
                " IS NOT NULL ORDER BY " + column + end + " LIMIT 1",
        into(type);
    while (read.exec()) {
    }
    if (!type.empty() && type != "text") return false;
  }
  return true;
}

void DropKeyIndexes(sqlitepp::session& session) {
  session << "DROP INDEX IF EXISTS page_stats_page";
  session << "DROP INDEX IF EXISTS referer_stats_referer";
  session << "DROP TABLE IF EXISTS query_folds";
  session << "DROP INDEX IF EXISTS day_sets_date";
  for (const DimensionShape* shape : KnownDimensionShapes()) {
    const std::string table = DimensionTableName(shape->name);
    session << "DROP INDEX IF EXISTS " + table + "_day";
    session << "DROP INDEX IF EXISTS " + table + "_key_sub";
  }
}

void AddInPlace(sqlitepp::session& session, const StatsTotals& added,
                const std::vector<LogSource>& sources, SaveProgressObserver* observer,
                const std::vector<LogSource>* read_against, bool rehearse) {
  sqlitepp::transaction transaction(session, sqlitepp::transaction::mode::immediate);
  CheckReadAgainst(session, read_against);
  Require(session);
  CheckAndWriteSettings(session, added.settings, /*replace=*/false);
  // Refused before anything is written.
  const bool stored_held_nothing = CheckAddedDimensions(session, added);
  LargerPageCache cache(session);
  ReportPosition(observer, 1);
  AddDays(session, added.days);
  ReportPosition(observer, 2);
  AddToKeyedTable(session, Keyed::kPages, PageRows(added));
  ReportPosition(observer, 3);
  AddToKeyedTable(session, Keyed::kReferers, RefererRows(added));
  ReportPosition(observer, 4);
  AppendRobotHits(session, added.robotHits);
  ReportPosition(observer, 5);
  AddToKeyedTable(session, Keyed::kQueries, QueryRows(added));
  AddDimensionsInPlace(session, added, stored_held_nothing);
  session << "DELETE FROM analysed_logs";
  WriteLogSources(session, sources);
  if (!rehearse) transaction.commit();
}

}  // namespace hitsieve::merge_internal
