#include "store/stats_merge.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>
#include <set>
#include <utility>

#include "engine/content_hash.h"
#include "store/row_writers.h"
#include "store/save_progress.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"

namespace hitsieve {

namespace {

using sqlitepp::into;
using sqlitepp::into_blob;
using sqlitepp::use;
using sqlitepp::use_blob;

constexpr const char kCreateDaySets[] =
    "CREATE TABLE IF NOT EXISTS day_sets (rec_id INTEGER PRIMARY KEY, date TEXT, ips BLOB, "
    "visitors BLOB)";
constexpr const char kCreateAnalysedLogs[] =
    "CREATE TABLE IF NOT EXISTS analysed_logs (rec_id INTEGER PRIMARY KEY, name TEXT, "
    "bytes INTEGER, hash INTEGER, head_bytes INTEGER, head_hash INTEGER, first_line_hash INTEGER, "
    "lines INTEGER, time TEXT, first_day TEXT, last_day TEXT)";
constexpr const char kInsertDaySet[] =
    "INSERT INTO day_sets(rec_id, date, ips, visitors) VALUES(NULL, :date, :ips, :visitors)";
constexpr const char kInsertLogSource[] =
    "INSERT INTO analysed_logs(rec_id, name, bytes, hash, head_bytes, head_hash, first_line_hash, "
    "lines, time, first_day, last_day) VALUES(NULL, :name, :bytes, :hash, :head_bytes, "
    ":head_hash, :first_line_hash, :lines, :time, :first_day, :last_day)";

constexpr const char kNotExtendable[] =
    "the database was written without the tables that adding needs (by an earlier version, "
    "or by hand); run analyse once without --add to make it extendable";

// `count` added to `sum`; a sum past the largest 64-bit integer fails the whole add (it would
// turn negative) and names the table.
void AddCount(int64_t& sum, int64_t count, const char* table) {
  if (__builtin_add_overflow(sum, count, &sum)) throw CountOverflowError(table);
}

template <typename Values>
void AddCounts(Values& sums, const Values& counts, const char* table) {
  for (size_t k = 0; k < sums.size(); ++k) AddCount(sums[k], counts[k], table);
}

// The entry of `key`, which must be new when `refuse_repeats`: a database written by a save
// holds each key once, and one that holds a key twice was made by hand or is damaged.
template <typename Map>
typename Map::mapped_type& Entry(Map& map, const std::string& key, bool refuse_repeats,
                                 const char* table);

void ReportPosition(SaveProgressObserver* observer, int position) {
  if (observer != nullptr) observer->SetPosition(position);
}

// Sorted hashes <-> their BLOB form, 8 little-endian bytes each.
std::string Encode(const std::vector<uint64_t>& hashes) {
  std::string bytes(hashes.size() * 8, '\0');
  for (size_t i = 0; i < hashes.size(); ++i) {
    for (int b = 0; b < 8; ++b) bytes[i * 8 + b] = static_cast<char>(hashes[i] >> (8 * b));
  }
  return bytes;
}

std::vector<uint64_t> Decode(const std::string& bytes, const std::string& date) {
  if (bytes.size() % 8 != 0)
    throw std::runtime_error("day_sets: the sets of day \"" + date + "\" are damaged");
  std::vector<uint64_t> hashes(bytes.size() / 8);
  for (size_t i = 0; i < hashes.size(); ++i) {
    uint64_t h = 0;
    for (int b = 0; b < 8; ++b) {
      h |= uint64_t{static_cast<unsigned char>(bytes[i * 8 + b])} << (8 * b);
    }
    hashes[i] = h;
  }
  if (!std::is_sorted(hashes.begin(), hashes.end()) ||
      std::adjacent_find(hashes.begin(), hashes.end()) != hashes.end())
    throw std::runtime_error("day_sets: the sets of day \"" + date + "\" are damaged");
  return hashes;
}

void Unite(std::vector<uint64_t>& mine, std::vector<uint64_t>&& theirs) {
  if (theirs.empty()) return;
  if (mine.empty()) {
    mine = std::move(theirs);
    return;
  }
  std::vector<uint64_t> united;
  united.reserve(mine.size() + theirs.size());
  std::set_union(mine.begin(), mine.end(), theirs.begin(), theirs.end(),
                 std::back_inserter(united));
  mine = std::move(united);
}

std::vector<uint64_t> Sorted(std::vector<uint64_t> hashes) {
  std::sort(hashes.begin(), hashes.end());
  hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
  return hashes;
}

// The day's sets as hashes of their texts. A number the collector's tables do not hold (a
// collector filled by hand) stands for itself.
void DayHashes(const StatsCollector& collector, const DayStats& day, std::vector<uint64_t>& ips,
               std::vector<uint64_t>& visitors) {
  ips.clear();
  visitors.clear();
  ips.reserve(day.ips.size());
  visitors.reserve(day.visitors.size());
  std::string unknown;
  auto address = [&](uint32_t id) -> std::string_view {
    if (id < collector.AddressCount()) return collector.AddressText(id);
    return unknown = "#" + std::to_string(id);
  };
  std::string unknown_agent;
  auto agent = [&](uint32_t id) -> std::string_view {
    if (id < collector.AgentCount()) return collector.AgentText(id);
    return unknown_agent = "#" + std::to_string(id);
  };
  day.ips.ForEach([&](uint64_t id) { ips.push_back(AddressHash(address(static_cast<uint32_t>(id)))); });
  day.visitors.ForEach([&](uint64_t key) {
    visitors.push_back(VisitorHash(address(VisitorAddress(key)), agent(VisitorAgent(key))));
  });
  ips = Sorted(std::move(ips));
  visitors = Sorted(std::move(visitors));
}

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

int64_t AsInteger(uint64_t hash) { return static_cast<int64_t>(hash); }

void Require(sqlitepp::session& session) {
  if (!IsExtendable(session)) throw NotExtendableError(kNotExtendable);
}

}  // namespace

void StatsTotals::Add(StatsTotals&& later) {
  for (auto& [date, theirs] : later.days) {
    auto [it, inserted] = days.try_emplace(date);
    DayTotals& mine = it->second;
    AddCount(mine.views, theirs.views, "common_stats");
    AddCount(mine.searches, theirs.searches, "common_stats");
    Unite(mine.ips, std::move(theirs.ips));
    Unite(mine.visitors, std::move(theirs.visitors));
  }
  for (const auto& [page, theirs] : later.pages) {
    PageTotals& mine = pages[page];
    AddCount(mine.visits, theirs.visits, "page_stats");
    AddCount(mine.searches, theirs.searches, "page_stats");
    AddCount(mine.bandwidth, theirs.bandwidth, "page_stats");
    AddCounts(mine.engines, theirs.engines, "page_stats");
  }
  for (const auto& [referer, count] : later.referers)
    AddCount(referers[referer], count, "referer_stats");
  for (const auto& [host, count] : later.refererHosts)
    AddCount(refererHosts[host], count, "referer_stats");
  robotHits.insert(robotHits.end(), std::make_move_iterator(later.robotHits.begin()),
                   std::make_move_iterator(later.robotHits.end()));
  for (const auto& [phrase, theirs] : later.queries) {
    // try_emplace keeps the key already here, so the first spelling stays.
    EngineTotals& mine = queries.try_emplace(phrase).first->second;
    AddCounts(mine, theirs, "query_stats");
  }
  later = StatsTotals{};
}

StatsTotals StatsTotals::FromCollector(StatsCollector& collector) {
  StatsTotals totals;
  for (const auto& [date, day] : collector.days) {
    DayTotals& mine = AtEnd(totals.days, date);
    mine.views = day.views;
    mine.searches = day.searches;
    DayHashes(collector, day, mine.ips, mine.visitors);
  }
  for (const auto& [page, stats] : collector.pages) {
    PageTotals& mine = AtEnd(totals.pages, page);
    mine.visits = stats.visits;
    mine.searches = stats.searches;
    mine.bandwidth = stats.bandwidth;
    for (const auto& [engine, hits] : stats.engineHits) {
      if (engine >= 0 && engine < kEngineCount) mine.engines[engine] = hits;
    }
  }
  for (const auto& [referer, count] : collector.referers) AtEnd(totals.referers, referer) = count;
  for (const auto& [host, count] : collector.refererHosts) AtEnd(totals.refererHosts, host) = count;
  totals.robotHits.reserve(collector.robotHits.size());
  totals.robotHits.assign(collector.robotHits.begin(), collector.robotHits.end());
  collector.robotHits.clear();
  for (const auto& [phrase, counts] : collector.queries) {
    EngineTotals& mine = AtEnd(totals.queries, phrase);
    for (const auto& [engine, count] : counts) {
      if (engine >= 0 && engine < kEngineCount) mine[engine] = count;
    }
  }
  return totals;
}

bool IsExtendable(sqlitepp::session& session) {
  int found = 0;
  sqlitepp::statement count(session);
  count << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
           "('day_sets', 'analysed_logs')",
      into(found);
  while (count.exec()) {
  }
  return found == 2;
}

void CreateSetTables(sqlitepp::session& session) {
  session << kCreateDaySets;
  session << kCreateAnalysedLogs;
}

namespace {

// The days of common_stats with their sets from day_sets.
void LoadDays(sqlitepp::session& session, std::map<std::string, DayTotals, std::less<>>& days,
              bool refuse_repeats) {
  std::string text, blob_a, blob_b;
  int64_t a = 0, b = 0;
  {
    sqlitepp::statement rows(session);
    rows << "SELECT date, views, searches FROM common_stats ORDER BY rec_id", into_blob(text), into(a),
        into(b);
    while (rows.exec()) {
      DayTotals& day = Entry(days, text, refuse_repeats, "common_stats");
      AddCount(day.views, a, "common_stats");
      AddCount(day.searches, b, "common_stats");
    }
  }
  {
    size_t found = 0;
    std::set<std::string, std::less<>> seen;
    sqlitepp::statement rows(session);
    rows << "SELECT date, ips, visitors FROM day_sets ORDER BY rec_id", into_blob(text),
        into_blob(blob_a), into_blob(blob_b);
    while (rows.exec()) {
      auto it = days.find(text);
      if (it == days.end()) continue;  // a day without statistics adds nothing
      if (refuse_repeats && !seen.insert(text).second)
        throw std::runtime_error("day_sets holds the sets of day \"" + text + "\" twice");
      it->second.ips = Decode(blob_a, text);
      it->second.visitors = Decode(blob_b, text);
      ++found;
    }
    if (found != days.size())
      throw NotExtendableError(
          "day_sets does not hold the sets of every day in common_stats; run analyse once "
          "without --add to make the database extendable again");
  }
}

}  // namespace

// Texts are read whole (as BLOBs), so a key holding a NUL byte keeps every byte.
StatsTotals LoadTotals(sqlitepp::session& session, bool robots, bool refuse_repeats) {
  Require(session);
  StatsTotals totals;
  std::string text;
  int64_t a = 0, b = 0, c = 0;
  LoadDays(session, totals.days, refuse_repeats);
  {
    EngineTotals engines{};
    sqlitepp::statement rows(session);
    rows << "SELECT page, visits, searches, bandwidth, google, yandex, rambler, mailru, aport, "
            "webalta FROM page_stats ORDER BY rec_id",
        into_blob(text), into(a), into(b), into(c), into(engines[0]), into(engines[1]),
        into(engines[2]), into(engines[3]), into(engines[4]), into(engines[5]);
    while (rows.exec()) {
      PageTotals& page = Entry(totals.pages, text, refuse_repeats, "page_stats");
      AddCount(page.visits, a, "page_stats");
      AddCount(page.searches, b, "page_stats");
      AddCount(page.bandwidth, c, "page_stats");
      AddCounts(page.engines, engines, "page_stats");
    }
  }
  {
    sqlitepp::statement rows(session);
    rows << "SELECT referer, type, cnt FROM referer_stats ORDER BY rec_id", into_blob(text), into(a),
        into(b);
    while (rows.exec()) {
      AddCount(Entry(a == 0 ? totals.refererHosts : totals.referers, text, refuse_repeats,
                     "referer_stats"),
               b, "referer_stats");
    }
  }
  if (robots) {
    RobotHit hit;
    sqlitepp::statement rows(session);
    rows << "SELECT name, action, code, ip, date FROM robot_log ORDER BY rec_id", into_blob(hit.name),
        into_blob(hit.action), into(hit.code), into_blob(hit.ip), into_blob(hit.date);
    while (rows.exec()) totals.robotHits.push_back(hit);
  }
  {
    EngineTotals engines{};
    sqlitepp::statement rows(session);
    rows << "SELECT query, google, yandex, rambler, mailru, aport, webalta FROM query_stats "
            "ORDER BY rec_id",
        into_blob(text), into(engines[0]), into(engines[1]), into(engines[2]), into(engines[3]),
        into(engines[4]), into(engines[5]);
    while (rows.exec()) {
      AddCounts(Entry(totals.queries, text, refuse_repeats, "query_stats"), engines, "query_stats");
    }
  }
  return totals;
}

std::vector<LogSource> LoadLogSources(sqlitepp::session& session) {
  Require(session);
  std::vector<LogSource> sources;
  LogSource row;
  int64_t hash = 0, head_hash = 0, first_line_hash = 0;
  sqlitepp::statement rows(session);
  rows << "SELECT name, bytes, hash, head_bytes, head_hash, first_line_hash, lines, time, "
          "first_day, last_day FROM analysed_logs ORDER BY rec_id",
      into(row.name), into(row.bytes), into(hash), into(row.head_bytes), into(head_hash),
      into(first_line_hash), into(row.lines), into(row.time), into(row.first_day),
      into(row.last_day);
  while (rows.exec()) {
    row.hash = static_cast<uint64_t>(hash);
    row.head_hash = static_cast<uint64_t>(head_hash);
    row.first_line_hash = static_cast<uint64_t>(first_line_hash);
    sources.push_back(row);
  }
  return sources;
}

DaySetBlobs EncodeDaySets(const StatsCollector& collector) {
  DaySetBlobs blobs;
  blobs.ips.reserve(collector.days.size());
  blobs.visitors.reserve(collector.days.size());
  std::vector<uint64_t> ip_hashes, visitor_hashes;
  for (const auto& [key, day] : collector.days) {
    DayHashes(collector, day, ip_hashes, visitor_hashes);
    blobs.ips.push_back(Encode(ip_hashes));
    blobs.visitors.push_back(Encode(visitor_hashes));
  }
  return blobs;
}

void WriteDaySets(sqlitepp::session& session, const StatsCollector& collector,
                  DaySetBlobs&& blobs) {
  if (blobs.ips.size() != collector.days.size() || blobs.visitors.size() != collector.days.size())
    throw std::logic_error("day sets encoded for other days");
  std::string date, ips, visitors;
  sqlitepp::statement insert(session);
  insert << kInsertDaySet, use(date), use_blob(ips), use_blob(visitors);
  size_t k = 0;
  for (const auto& [key, day] : collector.days) {
    date = key;
    ips.swap(blobs.ips[k]);
    visitors.swap(blobs.visitors[k]);
    ++k;
    insert.exec();
  }
}

void WriteLogSources(sqlitepp::session& session, const std::vector<LogSource>& sources) {
  LogSource row;
  int64_t hash = 0, head_hash = 0, first_line_hash = 0;
  sqlitepp::statement insert(session);
  insert << kInsertLogSource, use(row.name), use(row.bytes), use(hash), use(row.head_bytes),
      use(head_hash), use(first_line_hash), use(row.lines), use(row.time), use(row.first_day),
      use(row.last_day);
  for (const LogSource& source : sources) {
    row = source;
    hash = AsInteger(source.hash);
    head_hash = AsInteger(source.head_hash);
    first_line_hash = AsInteger(source.first_line_hash);
    insert.exec();
  }
}

namespace {

// Unless `read_against` is null, the remembered logs must still be those the caller judged the
// new text by.
void CheckReadAgainst(sqlitepp::session& session, const std::vector<LogSource>* read_against) {
  if (read_against == nullptr) return;
  const std::vector<LogSource> stored = LoadLogSources(session);
  const bool same = std::equal(stored.begin(), stored.end(), read_against->begin(),
                               read_against->end(), [](const LogSource& a, const LogSource& b) {
                                 return a.bytes == b.bytes && a.hash == b.hash;
                               });
  if (!same)
    throw std::runtime_error(
        "another run added to the database meanwhile; nothing was added (run again)");
}

// common_stats and day_sets from `days`, into emptied tables.
void WriteDays(sqlitepp::session& session, const std::map<std::string, DayTotals, std::less<>>& days) {
  std::string text, blob_a, blob_b;
  int64_t a = 0, b = 0, c = 0, d = 0;
  sqlitepp::statement common(session);
  common << kInsertCommonStats, use(text), use(a), use(b), use(c), use(d);
  sqlitepp::statement sets(session);
  sets << kInsertDaySet, use(text), use_blob(blob_a), use_blob(blob_b);
  for (const auto& [date, day] : days) {
    text = date;
    a = static_cast<int64_t>(day.ips.size());
    b = static_cast<int64_t>(day.visitors.size());
    c = day.views;
    d = day.searches;
    common.exec();
    blob_a = Encode(day.ips);
    blob_b = Encode(day.visitors);
    sets.exec();
  }
}

// Robot hits after the rows robot_log holds.
void AppendRobotHits(sqlitepp::session& session, const std::vector<RobotHit>& hits) {
  RobotHit row;
  sqlitepp::statement insert(session);
  insert << kInsertRobotLog, use(row.name), use(row.action), use(row.code), use(row.ip),
      use(row.date);
  for (const RobotHit& hit : hits) {
    row = hit;
    insert.exec();
  }
}

// ---- Adding in place ----
// A save leaves page_stats, referer_stats (hosts, then referers) and query_stats in the order
// of their keys, so adding to them is a merge of two sorted runs: the stored rows, read in
// rec_id order, and the added ones. Row j of the result is written over rec_id j. Each stored
// row is read before a row is written over it, and the rows are never all held at once.

// Thrown when a stored table is not in the order a save leaves it (keys out of order or
// repeated, as a database edited by hand may hold): the add is rolled back and redone by
// loading the whole statistics, which sorts and sums whatever it finds.
struct StoredOrderBroken {};

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

// Adds to an extendable database without loading its statistics: only the days are read
// whole (to unite their sets); the keyed tables are merged in place and robot hits appended.
// `added` is left as it was, for a retry by loading.
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

// The whole statistics loaded, added to and written again: a replacing save, or an add to
// tables that are not in the order a save leaves them.
void SaveByLoading(sqlitepp::session& session, StatsTotals&& added,
                   const std::vector<LogSource>& sources, bool replace,
                   SaveProgressObserver* observer, const std::vector<LogSource>* read_against,
                   bool rehearse) {
  sqlitepp::transaction transaction(session, sqlitepp::transaction::mode::immediate);
  CheckReadAgainst(session, read_against);
  StatsTotals totals;
  if (replace) {
    CreateSetTables(session);
  } else {
    totals = LoadTotals(session, /*robots=*/false, /*refuse_repeats=*/false);  // robot rows stay
  }
  totals.Add(std::move(added));

  for (const char* table : {"common_stats", "page_stats", "referer_stats", "query_stats",
                            "day_sets", "analysed_logs"}) {
    session << "DELETE FROM " << table;
  }
  if (replace) session << "DELETE FROM robot_log";

  std::string text;
  int64_t a = 0, b = 0, c = 0;
  ReportPosition(observer, 1);
  WriteDays(session, totals.days);
  ReportPosition(observer, 2);
  {
    EngineTotals engines{};
    sqlitepp::statement insert(session);
    insert << kInsertPageStats, use(text), use(a), use(b), use(c), use(engines[0]),
        use(engines[1]), use(engines[2]), use(engines[3]), use(engines[4]), use(engines[5]);
    for (const auto& [page, stats] : totals.pages) {
      text = page;
      a = stats.visits;
      b = stats.searches;
      c = stats.bandwidth;
      engines = stats.engines;
      insert.exec();
    }
  }
  ReportPosition(observer, 3);
  {
    sqlitepp::statement insert(session);
    insert << kInsertRefererStats, use(text), use(a), use(b);
    a = 0;
    for (const auto& [host, count] : totals.refererHosts) {
      text = host;
      b = count;
      insert.exec();
    }
    a = 1;
    for (const auto& [referer, count] : totals.referers) {
      text = referer;
      b = count;
      insert.exec();
    }
  }
  ReportPosition(observer, 4);
  AppendRobotHits(session, totals.robotHits);
  ReportPosition(observer, 5);
  {
    EngineTotals engines{};
    sqlitepp::statement insert(session);
    insert << kInsertQueryStats, use(text), use(a), use(engines[0]), use(engines[1]),
        use(engines[2]), use(engines[3]), use(engines[4]), use(engines[5]);
    for (const auto& [phrase, counts] : totals.queries) {
      text = phrase;
      engines = counts;
      a = 0;
      for (int64_t count : counts) AddCount(a, count, "query_stats");
      insert.exec();
    }
  }
  WriteLogSources(session, sources);
  if (!rehearse) transaction.commit();
}

}  // namespace

void SaveTotals(sqlitepp::session& session, StatsTotals&& added,
                const std::vector<LogSource>& sources, bool replace,
                SaveProgressObserver* observer, const std::vector<LogSource>* read_against,
                bool rehearse) {
  if (!replace) {
    try {
      AddInPlace(session, added, sources, observer, read_against, rehearse);
      return;
    } catch (const StoredOrderBroken&) {
      // Rolled back; the stored tables are sorted and summed by loading them below.
    }
  }
  SaveByLoading(session, std::move(added), sources, replace, observer, read_against, rehearse);
}

}  // namespace hitsieve
