// How stored rows are merged in place: an add to a database whose keyed tables are in the
// order a save leaves them reads those tables and the added rows as two sorted runs and writes
// the merged rows over the stored ones, never holding all of them at once.

#include <algorithm>
#include <array>
#include <deque>
#include <limits>
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

// A save leaves page_stats, referer_stats (hosts, then referers) and query_stats in the order
// of their keys, so adding to them is a merge of two sorted runs: the stored rows, read in
// rec_id order, and the added ones. Row j of the result is written over rec_id j. Each stored
// row is read before a row is written over it, and the rows are never all held at once.

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

// The stored rows of one table in rec_id order, a chunk at a time, each checked to sort
// after the one before it.
class StoredRows {
 public:
  StoredRows(sqlitepp::session& session, Keyed table) : table_(table), first_(session), next_(session) {
    const std::string chunk = " ORDER BY rec_id LIMIT " + std::to_string(kChunk);
    switch (table) {
      case Keyed::kPages:
        Prepare("SELECT rec_id, page, visits, searches, bandwidth, google, yandex, rambler, mailru, "
                "aport, webalta FROM page_stats",
                chunk, kPageValues);
        break;
      case Keyed::kReferers:
        Prepare("SELECT rec_id, referer, type, cnt FROM referer_stats", chunk, 2);
        break;
      case Keyed::kQueries:
        Prepare("SELECT rec_id, query, google, yandex, rambler, mailru, aport, webalta FROM "
                "query_stats",
                chunk, kEngineCount);
        break;
    }
  }

  // Reads on until every stored row with a rec_id up to `id` is held (or none is left), and
  // at least one row is held while any is left.
  void ReadThrough(int64_t id) {
    while (!done_ && (rows_.empty() || last_id_ < id)) ReadChunk();
  }
  bool empty() const { return rows_.empty(); }
  const KeyedRow& front() const { return rows_.front(); }
  KeyedRow take_front() {
    KeyedRow row = std::move(rows_.front());
    rows_.pop_front();
    if (rows_.empty()) last_ = row;  // what the next chunk's first row must sort after
    return row;
  }

 private:
  static constexpr int kChunk = 4096;

  void Prepare(const std::string& select, const std::string& chunk, int values) {
    const std::string next = select + " WHERE rec_id > :after" + chunk;
    auto& v = row_.values;
    if (values == 2) {  // referer_stats: type, then the count
      first_ << select + chunk, into(id_), into_blob(row_.key), into(type_), into(v[0]);
      next_ << next, into(id_), into_blob(row_.key), into(type_), into(v[0]), use(after_);
    } else if (values == kEngineCount) {
      first_ << select + chunk, into(id_), into_blob(row_.key), into(v[0]), into(v[1]),
          into(v[2]), into(v[3]), into(v[4]), into(v[5]);
      next_ << next, into(id_), into_blob(row_.key), into(v[0]), into(v[1]), into(v[2]),
          into(v[3]), into(v[4]), into(v[5]), use(after_);
    } else {
      first_ << select + chunk, into(id_), into_blob(row_.key), into(v[0]), into(v[1]),
          into(v[2]), into(v[3]), into(v[4]), into(v[5]), into(v[6]), into(v[7]), into(v[8]);
      next_ << next, into(id_), into_blob(row_.key), into(v[0]), into(v[1]), into(v[2]),
          into(v[3]), into(v[4]), into(v[5]), into(v[6]), into(v[7]), into(v[8]), use(after_);
    }
  }

  void ReadChunk() {
    sqlitepp::statement& rows = started_ ? next_ : first_;
    started_ = true;
    after_ = last_id_;
    int count = 0;
    while (rows.exec()) {
      ++count;
      last_id_ = id_;
      if (table_ == Keyed::kReferers) row_.kind = type_ == 0 ? 0 : 1;
      const KeyedRow& before = rows_.empty() ? last_ : rows_.back();
      if (have_before_ && !KeyedLess(table_, before, row_)) throw StoredOrderBroken{};
      have_before_ = true;
      rows_.push_back(row_);
    }
    if (count < kChunk) done_ = true;
  }

  Keyed table_;
  sqlitepp::statement first_, next_;
  std::deque<KeyedRow> rows_;
  KeyedRow row_, last_;
  int64_t id_ = 0, type_ = 0, after_ = 0;
  int64_t last_id_ = std::numeric_limits<int64_t>::min();
  bool started_ = false, done_ = false, have_before_ = false;
};

// Writes rows at given rec_ids, over the rows there, if any, many to a statement. Rows wait in
// the writer until a batch is full or Flush is called.
class KeyedWriter {
 public:
  KeyedWriter(sqlitepp::session& session, Keyed table)
      : rows_(session, Insert(table), Blank(table)) {}

  void Write(int64_t id, KeyedRow& row) {
    row_writers::PlacedRow& slot = rows_.Next();
    slot.id = id;
    slot.key.swap(row.key);
    slot.kind = row.kind;
    slot.values = row.values;
    slot.total = 0;
    if (slot.table == Keyed::kQueries) {
      for (int e = 0; e < kEngineCount; ++e) AddCount(slot.total, slot.values[e], "query_stats");
    }
    rows_.Added();
  }
  void Flush() { rows_.Flush(); }

 private:
  static const char* Insert(Keyed table) {
    switch (table) {
      case Keyed::kPages:
        return "INSERT OR REPLACE INTO page_stats(rec_id, page, visits, searches, bandwidth, "
               "google, yandex, rambler, mailru, aport, webalta) VALUES(:rec_id, :page, :visits, "
               ":searches, :bandwidth, :google, :yandex, :rambler, :mailru, :aport, :webalta)";
      case Keyed::kReferers:
        return "INSERT OR REPLACE INTO referer_stats(rec_id, referer, type, cnt) VALUES(:rec_id, "
               ":referer, :type, :cnt)";
      case Keyed::kQueries:
        break;
    }
    return "INSERT OR REPLACE INTO query_stats(rec_id, query, total, google, yandex, rambler, "
           "mailru, aport, webalta) VALUES(:rec_id, :query, :total, :google, :yandex, :rambler, "
           ":mailru, :aport, :webalta)";
  }
  static row_writers::PlacedRow Blank(Keyed table) {
    row_writers::PlacedRow blank;
    blank.table = table;
    return blank;
  }

  row_writers::Batch<row_writers::PlacedRow> rows_;
};

const char* TableName(Keyed table) {
  switch (table) {
    case Keyed::kPages: return "page_stats";
    case Keyed::kReferers: return "referer_stats";
    case Keyed::kQueries: return "query_stats";
  }
  return "";
}

// The merge of the stored rows of `table` and `added` (sorted, keys distinct), written over
// them. A stored key keeps its spelling; equal keys add their values.
void MergeInPlace(sqlitepp::session& session, Keyed table, std::vector<KeyedRow>&& added) {
  StoredRows stored(session, table);
  KeyedWriter writer(session, table);
  int64_t id = 1;
  size_t next = 0;
  for (;; ++id) {
    stored.ReadThrough(id);
    const bool have_stored = !stored.empty(), have_added = next < added.size();
    if (have_stored && (!have_added || !KeyedLess(table, added[next], stored.front()))) {
      KeyedRow row = stored.take_front();
      if (have_added && !KeyedLess(table, row, added[next])) {
        AddCounts(row.values, added[next].values, TableName(table));
        ++next;
      }
      writer.Write(id, row);
    } else if (have_added) {
      writer.Write(id, added[next++]);
    } else {
      break;
    }
  }
  writer.Flush();
  // Rows the merge did not write over: rec_ids outside 1 to the row count.
  sqlitepp::statement rest(session);
  int64_t count = id - 1;
  rest << std::string("DELETE FROM ") + TableName(table) + " WHERE rec_id < 1 OR rec_id > :count",
      use(count);
  rest.exec();
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

// While it lives, the session's page cache holds at least 16 MiB, so that pages of a table being
// rewritten in place leave it (and are written out) far less often than with the default 2 MiB.
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

void AddInPlace(sqlitepp::session& session, const StatsTotals& added,
                const std::vector<LogSource>& sources, SaveProgressObserver* observer,
                const std::vector<LogSource>* read_against, bool rehearse) {
  sqlitepp::transaction transaction(session, sqlitepp::transaction::mode::immediate);
  CheckReadAgainst(session, read_against);
  Require(session);
  LargerPageCache cache(session);
  StatsTotals days;
  LoadDays(session, days.days, /*refuse_repeats=*/false);
  {
    StatsTotals added_days;
    added_days.days = added.days;
    days.Add(std::move(added_days));
  }
  for (const char* table : {"common_stats", "day_sets", "analysed_logs"}) {
    session << "DELETE FROM " << table;
  }
  ReportPosition(observer, 1);
  WriteDays(session, days.days);
  ReportPosition(observer, 2);
  MergeInPlace(session, Keyed::kPages, PageRows(added));
  ReportPosition(observer, 3);
  MergeInPlace(session, Keyed::kReferers, RefererRows(added));
  ReportPosition(observer, 4);
  AppendRobotHits(session, added.robotHits);
  ReportPosition(observer, 5);
  MergeInPlace(session, Keyed::kQueries, QueryRows(added));
  WriteLogSources(session, sources);
  if (!rehearse) transaction.commit();
}

}  // namespace hitsieve::merge_internal
