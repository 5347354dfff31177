// The dimensions' tables: written by a replacing save, loaded, added to in place, checked in a
// merge part; and the definitions (counted_dimensions) that keep two definitions from mixing.

#include <algorithm>
#include <array>
#include <deque>
#include <initializer_list>
#include <tuple>
#include <unordered_map>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/content_hash.h"
#include "engine/stats_collector.h"
#include "store/sqlitepp/query.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/row_writers.h"
#include "store/stats_merge.h"
#include "store/stats_merge_internal.h"

namespace hitsieve {

namespace {

using sqlitepp::into;
using sqlitepp::into_blob;
using sqlitepp::use;
using sqlitepp::use_blob;
using namespace merge_internal;

constexpr const char kDefinitions[] = "counted_dimensions";
constexpr const char kCreateDefinitions[] =
    "CREATE TABLE IF NOT EXISTS counted_dimensions (rec_id INTEGER PRIMARY KEY, name TEXT, "
    "version TEXT)";

const char kCountAgain[] =
    "; count them in one run to mix them (analyse without --add, or merge --replace)";

const DimensionShape& RequireShape(const std::string& name) {
  const DimensionShape* shape = FindDimensionShape(name);
  if (shape == nullptr)
    throw std::runtime_error("the statistics were counted with \"" + name.substr(0, 40) +
                             "\", which this version does not know");
  return *shape;
}

std::string CountColumns(const DimensionShape& shape) {
  std::string columns;
  for (std::string_view count : shape.counts) columns += ", " + std::string(count);
  return columns;
}

std::string CreateTable(const DimensionShape& shape) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + DimensionTableName(shape.name) +
                    " (rec_id INTEGER PRIMARY KEY, day TEXT, key TEXT, sub TEXT";
  for (std::string_view count : shape.counts) sql += ", " + std::string(count) + " INTEGER";
  if (shape.visitors) sql += ", visitors BLOB";
  return sql + ")";
}

std::string InsertRow(const DimensionShape& shape) {
  std::string sql = "INSERT INTO " + DimensionTableName(shape.name) + "(rec_id, day, key, sub" +
                    CountColumns(shape) + (shape.visitors ? ", visitors" : "") +
                    ") VALUES(:rec_id, :day, :key, :sub";
  for (size_t k = 0; k < shape.counts.size(); ++k) sql += ", :c" + std::to_string(k);
  if (shape.visitors) sql += ", :visitors";
  return sql + ")";
}

// Writes rows at the rec_ids given, 64 to a statement: a row waits until its batch is full or
// Flush, and its key's texts must stay unchanged until then.
class RowInserter {
 public:
  RowInserter(sqlitepp::session& session, const DimensionShape& shape)
      : rows_(session, InsertRow(shape), Blank(shape)) {}
  void Insert(int64_t id, const DimensionRowKey& key, const DimensionRowTotals& row) {
    Insert(id, {key.day, key.key, key.sub}, row.counts, row.visitors);
  }
  void Insert(int64_t id, const DimensionTable::Key& key,
              const std::array<int64_t, kDimensionCounts>& counts,
              const std::vector<uint64_t>& visitors) {
    row_writers::DimensionRow& next = rows_.Next();
    next.id = id;
    next.day = key.day;
    next.key = key.key;
    next.sub = key.sub;
    next.counts = counts;
    if (next.shape->visitors) next.visitors = Encode(visitors);
    rows_.Added();
  }
  void Flush() { rows_.Flush(); }

 private:
  static row_writers::DimensionRow Blank(const DimensionShape& shape) {
    row_writers::DimensionRow blank;
    blank.shape = &shape;
    return blank;
  }
  row_writers::Batch<row_writers::DimensionRow> rows_;
};

std::vector<uint64_t> SortedDistinct(std::vector<uint64_t> hashes) {
  std::sort(hashes.begin(), hashes.end());
  hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
  return hashes;
}

std::vector<uint64_t> United(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
  std::vector<uint64_t> united;
  united.reserve(a.size() + b.size());
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(united));
  return united;
}

std::string RowName(const DimensionRowKey& key);

// A row's visitors from their BLOB; a BLOB that is no sorted set of distinct hashes throws.
std::vector<uint64_t> DecodeVisitors(const std::string& blob, const std::string& table,
                                     const DimensionRowKey& key) {
  try {
    return Decode(blob, key.day);
  } catch (const std::runtime_error&) {
    throw std::runtime_error(table + ": the visitors of " + RowName(key) + " are damaged");
  }
}

// The name a message gives a row: its keys, cut short.
std::string RowName(const DimensionRowKey& key) {
  auto cut = [](const std::string& text) { return text.substr(0, 80); };
  std::string name = "\"" + cut(key.key) + "\"";
  if (!key.day.empty()) name += " of day \"" + cut(key.day) + "\"";
  if (!key.sub.empty()) name += " with \"" + cut(key.sub) + "\"";
  return name;
}

// True when the five statistics tables and every dimension table listed hold no row.
bool StoredHoldsNothing(sqlitepp::session& session,
                        const std::map<std::string, std::string>& definitions) {
  std::vector<std::string> tables = {"common_stats", "page_stats", "referer_stats", "robot_log",
                                     "query_stats"};
  for (const auto& [name, version] : definitions) {
    if (FindDimensionShape(name) != nullptr && session.has_table(DimensionTableName(name)))
      tables.push_back(DimensionTableName(name));
  }
  for (const std::string& table : tables) {
    int64_t any = 0;
    sqlitepp::statement rows(session);
    rows << "SELECT count(*) FROM (SELECT 1 FROM " + table + " LIMIT 1)", into(any);
    while (rows.exec()) {
    }
    if (any != 0) return false;
  }
  return true;
}

}  // namespace

namespace merge_internal {

void CheckDimensionsMatch(const std::map<std::string, DimensionTotals, std::less<>>& mine,
                          const std::map<std::string, DimensionTotals, std::less<>>& theirs,
                          const std::string& mine_name, const std::string& theirs_name) {
  for (const auto& [name, dimension] : mine) {
    const auto found = theirs.find(name);
    if (found == theirs.end())
      throw DimensionMismatchError(mine_name + " count \"" + name + "\", " + theirs_name +
                                   " were counted without it" + kCountAgain);
    if (found->second.version != dimension.version)
      throw DimensionMismatchError(mine_name + " count \"" + name + "\" with " +
                                   (dimension.version.empty() ? "no data" : dimension.version) +
                                   ", " + theirs_name + " with " +
                                   (found->second.version.empty() ? "no data"
                                                                  : found->second.version) +
                                   kCountAgain);
  }
}

void AddDimensionRows(const std::string& name, DimensionTotals& mine, DimensionTotals& theirs) {
  const std::string table = DimensionTableName(name);
  for (auto& [key, row] : theirs.rows) {
    DimensionRowTotals& sum = mine.rows[key];
    AddCounts(sum.counts, row.counts, table.c_str());
    if (row.visitors.empty()) continue;
    sum.visitors = sum.visitors.empty() ? std::move(row.visitors) : United(sum.visitors, row.visitors);
  }
  theirs.rows.clear();
}

std::map<std::string, DimensionTotals, std::less<>> LoadDimensions(sqlitepp::session& session,
                                                                   bool refuse_repeats) {
  std::map<std::string, DimensionTotals, std::less<>> dimensions;
  if (!session.has_table(kDefinitions)) return dimensions;
  std::vector<std::pair<std::string, std::string>> definitions;
  {
    std::string name, version;
    sqlitepp::statement rows(session);
    rows << "SELECT name, version FROM counted_dimensions ORDER BY rec_id", into_blob(name),
        into_blob(version);
    while (rows.exec()) definitions.emplace_back(name, version);
  }
  for (const auto& [name, version] : definitions) {
    const DimensionShape& shape = RequireShape(name);
    if (dimensions.count(name) != 0)
      throw std::runtime_error("counted_dimensions lists \"" + name + "\" twice");
    DimensionTotals& totals = dimensions[name];
    totals.version = version;
    const std::string table = DimensionTableName(name);
    DimensionRowKey key;
    std::array<int64_t, kDimensionCounts> counts{};
    std::string visitors;
    sqlitepp::statement rows(session);
    {
      sqlitepp::prepare_query query =
          rows << "SELECT day, key, sub" + CountColumns(shape) + (shape.visitors ? ", visitors" : "") +
                      " FROM " + table + " ORDER BY rec_id";
      query, into_blob(key.day), into_blob(key.key), into_blob(key.sub);
      for (size_t k = 0; k < shape.counts.size(); ++k) query, into(counts[k]);
      if (shape.visitors) query, into_blob(visitors);
    }
    while (rows.exec()) {
      const auto [at, added] = totals.rows.try_emplace(key);
      if (!added && refuse_repeats)
        throw std::runtime_error(table + " holds " + RowName(key) + " in more than one row");
      AddCounts(at->second.counts, counts, table.c_str());
      if (shape.visitors) {
        std::vector<uint64_t> set = DecodeVisitors(visitors, table, key);
        at->second.visitors = at->second.visitors.empty() ? std::move(set) : United(at->second.visitors, set);
      }
    }
  }
  return dimensions;
}

bool CheckAddedDimensions(sqlitepp::session& session, const StatsTotals& added) {
  const std::map<std::string, std::string> stored = StoredDimensions(session);
  if (StoredHoldsNothing(session, stored)) return true;
  if (added.Empty()) return false;
  std::map<std::string, DimensionTotals, std::less<>> counted;
  for (const auto& [name, version] : stored) counted[name].version = version;
  CheckDimensionsMatch(counted, added.dimensions, "the stored statistics", "the added ones");
  return false;
}

// The ids of the stored rows whose keys `adding` holds, into `ids`; returns the largest stored
// rec_id (0 at least). Few added rows onto many stored ones read only the stored rows of the
// added days (rows per day) or of the added keys and second keys (rows over the whole
// period), through an index that the first such add makes, so that an add of one day onto
// years of rows reads that day's; else every stored row is read once. A key held by two rows
// throws StoredRowsIrregular.
static int64_t StoredKeyIds(sqlitepp::session& session, const DimensionShape& shape,
                            const DimensionTotals& adding,
                            std::map<DimensionRowKey, int64_t>& ids) {
  const std::string table = DimensionTableName(shape.name);
  int64_t largest_id = 0;
  {
    sqlitepp::statement read(session);
    read << "SELECT max(coalesce(max(rec_id), 0), 0) FROM " + table, into(largest_id);
    while (read.exec()) {
    }
  }
  DimensionRowKey key;
  int64_t id = 0;
  auto take = [&](sqlitepp::statement& rows) {
    while (rows.exec()) {
      if (adding.rows.count(key) == 0) continue;
      // A row read by two look-ups is one row; two rows of one key are not.
      const auto [at, fresh] = ids.emplace(key, id);
      if (!fresh && at->second != id) throw StoredRowsIrregular{};
    }
  };
  const std::string select = "SELECT rec_id, day, key, sub FROM " + table;
  auto prepare = [&](sqlitepp::statement& rows, const std::string& where,
                     std::initializer_list<std::string*> parameters) {
    sqlitepp::prepare_query query = rows << select + " WHERE " + where;
    query, into(id), into_blob(key.day), into_blob(key.key), into_blob(key.sub);
    for (std::string* parameter : parameters) query, use(*parameter);
  };
  constexpr int64_t kRowsPerKey = 4;
  if (static_cast<int64_t>(adding.rows.size()) > largest_id / kRowsPerKey) {
    sqlitepp::statement rows(session);
    rows << select, into(id), into_blob(key.day), into_blob(key.key), into_blob(key.sub);
    take(rows);
    return largest_id;
  }
  // Texts only: a key of another type would be missed by a look-up of its bytes. An empty
  // text is stored as NULL, or by another writer as ''.
  std::string value, second;
  sqlitepp::statement rows(session), empty_rows(session);
  if (shape.daily) {
    session << "CREATE INDEX IF NOT EXISTS " + table + "_day ON " + table + "(day)";
    if (!KeyColumnHoldsTexts(session, table, "day")) throw StoredRowsIrregular{};
    prepare(rows, "day = :day", {&value});
    prepare(empty_rows, "day = '' OR day IS NULL", {});
    std::set<std::string> days;
    for (const auto& [added_key, row] : adding.rows) days.insert(added_key.day);
    for (const std::string& day : days) {
      value = day;
      take(day.empty() ? empty_rows : rows);
    }
    return largest_id;
  }
  session << "CREATE INDEX IF NOT EXISTS " + table + "_key_sub ON " + table + "(key, sub)";
  if (!KeyColumnHoldsTexts(session, table, "key")) throw StoredRowsIrregular{};
  sqlitepp::statement exact(session);
  prepare(exact, "key = :key AND sub = :sub", {&value, &second});
  prepare(rows, "key = :key", {&value});
  prepare(empty_rows, "key = '' OR key IS NULL", {});
  std::set<std::string> read_whole;  // keys whose every row was read
  for (const auto& [added_key, row] : adding.rows) {
    value = added_key.key;
    second = added_key.sub;
    if (!value.empty() && !second.empty()) {
      take(exact);
      continue;
    }
    // An empty key or second key may be stored as NULL or as '': every row of the key is read.
    if (!read_whole.insert(value).second) continue;
    take(value.empty() ? empty_rows : rows);
  }
  return largest_id;
}

void AddDimensionsInPlace(sqlitepp::session& session, const StatsTotals& added,
                          bool stored_held_nothing) {
  if (stored_held_nothing) {
    if (!added.Empty() || !added.dimensions.empty()) ReplaceDimensions(session, added.dimensions);
    return;
  }
  if (added.Empty()) return;
  const std::map<std::string, std::string> stored = StoredDimensions(session);

  for (const auto& [name, version] : stored) {
    const DimensionShape& shape = RequireShape(name);
    const DimensionTotals& adding = added.dimensions.at(name);
    const std::string table = DimensionTableName(name);
    // The stored keys with their rows' ids; the counts only of the rows added to.
    std::map<DimensionRowKey, int64_t> ids;
    int64_t largest_id = StoredKeyIds(session, shape, adding, ids);
    if (largest_id > std::numeric_limits<int64_t>::max() - static_cast<int64_t>(adding.rows.size()))
      throw StoredRowsIrregular{};
    int64_t id = 0;
    std::array<int64_t, kDimensionCounts> counts{};
    std::string visitors;
    sqlitepp::statement read(session), update(session);
    {
      sqlitepp::prepare_query query =
          read << "SELECT " + CountColumns(shape).substr(2) + (shape.visitors ? ", visitors" : "") +
                      " FROM " + table + " WHERE rec_id = :rec_id";
      for (size_t k = 0; k < shape.counts.size(); ++k) query, into(counts[k]);
      if (shape.visitors) query, into_blob(visitors);
      query, use(id);
    }
    std::string set_counts;
    for (size_t k = 0; k < shape.counts.size(); ++k)
      set_counts += (k ? ", " : "") + std::string(shape.counts[k]) + " = :c" + std::to_string(k);
    std::array<int64_t, kDimensionCounts> sums{};
    {
      sqlitepp::prepare_query query =
          update << "UPDATE " + table + " SET " + set_counts +
                        (shape.visitors ? ", visitors = :visitors" : "") + " WHERE rec_id = :rec_id";
      for (size_t k = 0; k < shape.counts.size(); ++k) query, use(sums[k]);
      if (shape.visitors) query, use_blob(visitors);
      query, use(id);
    }
    RowInserter insert(session, shape);
    for (const auto& [key, row] : adding.rows) {
      const auto found = ids.find(key);
      if (found == ids.end()) {
        insert.Insert(++largest_id, key, row);
        continue;
      }
      id = found->second;
      counts = {};
      visitors.clear();
      while (read.exec()) {
      }
      sums = counts;
      AddCounts(sums, row.counts, table.c_str());
      if (shape.visitors) visitors = Encode(United(DecodeVisitors(visitors, table, key), row.visitors));
      update.exec();
    }
    insert.Flush();
  }
}

}  // namespace merge_internal

std::map<std::string, std::string> StoredDimensions(sqlitepp::session& session) {
  std::map<std::string, std::string> definitions;
  if (!session.has_table(kDefinitions)) return definitions;
  std::string name, version;
  sqlitepp::statement rows(session);
  rows << "SELECT name, version FROM counted_dimensions ORDER BY rec_id", into_blob(name),
      into_blob(version);
  while (rows.exec()) definitions.emplace(name, version);
  return definitions;
}

std::vector<std::string> DimensionsLeftOut(sqlitepp::session& session, const StatsTotals& added) {
  std::vector<std::string> left_out;
  const std::map<std::string, std::string> stored = StoredDimensions(session);
  if (added.Empty() || StoredHoldsNothing(session, stored)) return left_out;
  for (const auto& [name, dimension] : added.dimensions) {
    if (stored.count(name) == 0) left_out.push_back(name);
  }
  return left_out;
}

namespace {

constexpr uint64_t kAddressSeed = 0x6469'6d5f'6164'6472ULL;  // "dim_addr"
constexpr uint64_t kAgentSeed = 0x6469'6d5f'6167'656eULL;    // "dim_agen"
constexpr uint64_t kVisitorSeed = 0x6469'6d5f'7669'7369ULL;  // "dim_visi"

// The hashes of a collector's address or agent texts, each text hashed once however many
// visitors hold it. A number the collector's table does not hold (a collector filled by hand)
// stands for itself.
class TextHashes {
 public:
  TextHashes(size_t count, uint64_t seed) : hashes_(count, 0), seed_(seed) {}
  template <typename TextOf>
  uint64_t Of(uint32_t id, TextOf text_of) {
    if (id >= hashes_.size()) return ContentHash::Of("#" + std::to_string(id), seed_);
    uint64_t& hash = hashes_[id];
    if (hash == 0) hash = ContentHash::Of(text_of(id), seed_);
    return hash;
  }

 private:
  std::vector<uint64_t> hashes_;  // 0: not hashed yet
  uint64_t seed_;
};

}  // namespace

// A visitor in the dimensions' sets: the hashes of its address and of its agent, hashed
// together. Stored, so it never changes.
uint64_t DimensionVisitorHash(std::string_view address, std::string_view agent) {
  return DimensionVisitorHash(ContentHash::Of(address, kAddressSeed),
                              ContentHash::Of(agent, kAgentSeed));
}

uint64_t DimensionVisitorHash(uint64_t address_hash, uint64_t agent_hash) {
  char bytes[16];
  for (int b = 0; b < 8; ++b) {
    bytes[b] = static_cast<char>(address_hash >> (8 * b));
    bytes[8 + b] = static_cast<char>(agent_hash >> (8 * b));
  }
  return ContentHash::Of(std::string_view(bytes, sizeof bytes), kVisitorSeed);
}

std::map<std::string, DimensionTotals, std::less<>> DimensionTotalsOf(
    const StatsCollector& collector) {
  std::map<std::string, DimensionTotals, std::less<>> dimensions;
  DimensionPreparer preparer(collector);
  for (size_t k = 0; k < preparer.size(); ++k) {
    PreparedDimension prepared = preparer.Prepare(k);
    DimensionTotals& totals = dimensions[std::string(prepared.shape->name)];
    totals.version = std::move(prepared.version);
    for (size_t row = 0; row < prepared.rows.size(); ++row) {  // in key order: each goes last
      const DimensionTable::Key key = prepared.KeyOf(row);
      totals.rows.emplace_hint(
          totals.rows.end(),
          DimensionRowKey{std::string(key.day), std::string(key.key), std::string(key.sub)},
          DimensionRowTotals{prepared.CountsOf(row).All(),
                             prepared.visitors.empty() ? std::vector<uint64_t>()
                                                       : std::move(prepared.visitors[row])});
    }
  }
  return dimensions;
}

void CreateDimensionTables(sqlitepp::session& session) {
  session << kCreateDefinitions;
  for (const DimensionShape* shape : KnownDimensionShapes()) {
    // A table of other columns (made by hand) is made again; otherwise the schema stays as it
    // is, so that other connections' statements do not go stale at every save.
    const std::string table = DimensionTableName(shape->name);
    std::string columns, column;
    {
      sqlitepp::statement read(session);
      read << "SELECT name FROM pragma_table_info('" + table + "') ORDER BY cid", into(column);
      while (read.exec()) columns += column + ",";
    }
    std::string wanted = "rec_id,day,key,sub,";
    for (std::string_view count : shape->counts) wanted += std::string(count) + ",";
    if (shape->visitors) wanted += "visitors,";
    if (!columns.empty() && columns != wanted) session << "DROP TABLE " + table;
    session << CreateTable(*shape);
  }
}

void StartReplacingDimensions(sqlitepp::session& session) {
  CreateDimensionTables(session);
  session << "DELETE FROM counted_dimensions";
  for (const DimensionShape* shape : KnownDimensionShapes())
    session << "DELETE FROM " + DimensionTableName(shape->name);
}


void ReplaceDimensions(sqlitepp::session& session,
                       const std::map<std::string, DimensionTotals, std::less<>>& dimensions) {
  StartReplacingDimensions(session);
  std::string name, version;
  sqlitepp::statement define(session);
  define << "INSERT INTO counted_dimensions(rec_id, name, version) VALUES(NULL, :name, :version)",
      use(name), use(version);
  for (const auto& [dimension_name, totals] : dimensions) {
    const DimensionShape& shape = RequireShape(dimension_name);
    RowInserter insert(session, shape);
    int64_t id = 0;
    for (const auto& [key, row] : totals.rows) insert.Insert(++id, key, row);
    insert.Flush();
    name = dimension_name;
    version = totals.version;
    define.exec();
  }
}

struct DimensionPreparer::Hashes {
  explicit Hashes(const StatsCollector& collector)
      : addresses(collector.AddressCount(), kAddressSeed),
        agents(collector.AgentCount(), kAgentSeed) {}
  TextHashes addresses, agents;
};

DimensionPreparer::DimensionPreparer(const StatsCollector& collector)
    : collector_(collector), hashes_(std::make_unique<Hashes>(collector)) {
  const auto& dimensions = collector.dimensions();
  for (size_t k = 0; k < dimensions.size(); ++k) order_.push_back(k);
  std::sort(order_.begin(), order_.end(), [&dimensions](size_t a, size_t b) {
    return dimensions[a].dimension->Shape().name < dimensions[b].dimension->Shape().name;
  });
}

DimensionPreparer::~DimensionPreparer() = default;

bool DimensionPreparer::KeepsVisitors(size_t k) const {
  const Dimension& dimension = *collector_.dimensions()[order_.at(k)].dimension;
  return dimension.Shape().visitors || dimension.VisitorsFrom() != Dimension::VisitorsBy::kRows;
}

uint64_t DimensionPreparer::VisitorHash(uint64_t visitor) {
  return DimensionVisitorHash(
      hashes_->addresses.Of(VisitorAddress(visitor),
                            [this](uint32_t id) { return collector_.AddressText(id); }),
      hashes_->agents.Of(VisitorAgent(visitor),
                         [this](uint32_t id) { return collector_.AgentText(id); }));
}

PreparedDimension DimensionPreparer::Prepare(size_t k) {
  const StatsCollector& collector = collector_;
  const StatsCollector::CountedDimension& counted = collector.dimensions()[order_.at(k)];
  PreparedDimension dimension;
  dimension.shape = &counted.dimension->Shape();
  dimension.version = counted.dimension->Version();
  const DimensionTable& table = counted.table;
  dimension.table = &table;
  const bool by_class = counted.dimension->VisitorsFrom() != Dimension::VisitorsBy::kRows;
  const bool keeps = dimension.shape->visitors || by_class;
  // Rows in key order, each going last.
  std::vector<size_t> prepared_of(by_class ? table.size() : 0);  // by the table's row number
  dimension.rows.reserve(table.size());
  for (const uint32_t number : table.SortedRows()) {
    dimension.rows.push_back({number, false});
    if (!keeps) continue;
    const RowVisitors& visitors = table.CellOf(number).visitors;
    std::vector<uint64_t>& hashes = dimension.visitors.emplace_back();
    hashes.reserve(visitors.size());
    visitors.ForEach([&](uint64_t visitor) { hashes.push_back(VisitorHash(visitor)); });
    hashes = SortedDistinct(std::move(hashes));
    if (by_class) prepared_of[number] = dimension.rows.size() - 1;
  }
  if (!by_class) return dimension;

  ForEachDayVisitorRow(collector, *counted.dimension,
                       [&](std::string_view day, std::string_view key, std::string_view sub,
                           const std::vector<uint64_t>& visitors) {
    size_t at = 0;
    if (const size_t number = table.RowOf(day, key, sub); number != DimensionTable::kNoRow) {
      at = prepared_of[number];
    } else {
      // Visitors of a row nothing was counted in: kept with no counts.
      dimension.extra.At(day, key, sub);
      dimension.rows.push_back({static_cast<uint32_t>(dimension.extra.RowOf(day, key, sub)), true});
      dimension.visitors.emplace_back();
      at = dimension.rows.size() - 1;
    }
    std::vector<uint64_t>& row = dimension.visitors[at];
    for (const uint64_t visitor : visitors) row.push_back(VisitorHash(visitor));
    row = SortedDistinct(std::move(row));
  });
  if (!dimension.extra.empty()) {
    std::vector<size_t> order(dimension.rows.size());
    for (size_t row = 0; row < order.size(); ++row) order[row] = row;
    std::sort(order.begin(), order.end(), [&dimension](size_t a, size_t b) {
      const DimensionTable::Key x = dimension.KeyOf(a), y = dimension.KeyOf(b);
      return std::tie(x.day, x.key, x.sub) < std::tie(y.day, y.key, y.sub);
    });
    std::vector<PreparedDimension::Row> rows;
    std::vector<std::vector<uint64_t>> visitors;
    for (const size_t row : order) {
      rows.push_back(dimension.rows[row]);
      visitors.push_back(std::move(dimension.visitors[row]));
    }
    dimension.rows = std::move(rows);
    dimension.visitors = std::move(visitors);
  }
  return dimension;
}

void WriteDimension(sqlitepp::session& session, const PreparedDimension& dimension) {
  static const std::vector<uint64_t> kNone;
  RowInserter insert(session, *dimension.shape);
  for (size_t row = 0; row < dimension.rows.size(); ++row) {
    insert.Insert(static_cast<int64_t>(row) + 1, dimension.KeyOf(row),
                  dimension.CountsOf(row).All(),
                  dimension.visitors.empty() ? kNone : dimension.visitors[row]);
  }
  insert.Flush();
  std::string name(dimension.shape->name), version = dimension.version;
  sqlitepp::statement define(session);
  define << "INSERT INTO counted_dimensions(rec_id, name, version) VALUES(NULL, :name, :version)",
      use(name), use(version);
  define.exec();
}

void CheckDimensionValues(sqlitepp::session& session) {
  if (!session.has_table(kDefinitions)) return;
  {
    int64_t rec_id = 0, bad = 0;
    sqlitepp::statement find(session);
    find << "SELECT rec_id, 1 FROM counted_dimensions WHERE NOT coalesce(typeof(name) = 'text' AND "
            "typeof(version) IN ('text', 'null'), 0) LIMIT 1",
        into(rec_id), into(bad);
    while (find.exec()) {
      throw std::runtime_error("counted_dimensions row " + std::to_string(rec_id) +
                               " is not a name and a version");
    }
  }
  std::set<std::string> seen;
  for (const auto& [name, version] : StoredDimensions(session)) seen.insert(name);
  int64_t listed = 0;
  {
    sqlitepp::statement count(session);
    count << "SELECT count(*) FROM counted_dimensions", into(listed);
    while (count.exec()) {
    }
  }
  if (listed != static_cast<int64_t>(seen.size()))
    throw std::runtime_error("counted_dimensions lists a dimension twice");
  for (const std::string& name : seen) {
    const DimensionShape& shape = RequireShape(name);
    const std::string table = DimensionTableName(name);
    if (!session.has_table(table))
      throw std::runtime_error("lists \"" + name + "\" but holds no table " + table);
    std::string broken = "NOT coalesce(typeof(day) IN ('text', 'null') AND typeof(key) IN "
                         "('text', 'null') AND typeof(sub) IN ('text', 'null')";
    for (std::string_view count : shape.counts)
      broken += " AND typeof(" + std::string(count) + ") = 'integer' AND " + std::string(count) +
                " >= 0";
    if (shape.visitors)
      broken += " AND (visitors IS NULL OR (typeof(visitors) = 'blob' AND length(visitors) % 8 = 0))";
    broken += ", 0)";
    int64_t rec_id = 0;
    sqlitepp::statement find(session);
    find << "SELECT rec_id FROM " + table + " WHERE " + broken + " LIMIT 1", into(rec_id);
    while (find.exec()) {
      throw std::runtime_error(table + " row " + std::to_string(rec_id) +
                               " holds a value that is no key, count or set of 8-byte hashes");
    }
  }
}

}  // namespace hitsieve
