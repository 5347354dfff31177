// Dimensions: statistics beside the five described tables (status codes, pages not found,
// hours, and whatever is added later), each counted record by record into a table of its own
// that adds up exactly under --add and merge.
//
// A dimension is a small class (engine/dimensions/NAME.cpp) that says what it takes from a
// record: it adds counts, and where distinct visitors are reported a visitor, to rows keyed by
// (day, key, sub). Everything else, from the collector's parallel parts to the store, the
// merge checks and the reports, is done once for all of them by the framework.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_DIMENSION_H_
#define HITSIEVE_ENGINE_DIMENSIONS_DIMENSION_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/key_set.h"
#include "engine/request_record.h"

namespace hitsieve {

struct KnownCrawler;
class SearchEngine;

// The most counts a dimension's row holds (the crawlers' seven). Every row of a run carries this
// many, so it is kept no larger than a dimension needs.
inline constexpr size_t kDimensionCounts = 7;

// What a dimension is, independent of any run: its name (the report's name too; the table is
// "dim_" + name), its count columns, and whether a row keeps a day, a second key and the set of
// its distinct visitors.
struct DimensionShape {
  std::string_view name;                 // lower-case letters and '_' only
  std::vector<std::string_view> counts;  // column names, at most kDimensionCounts
  bool daily = true;                     // rows are per day (else over the whole period)
  bool sub = false;                      // rows have a second key
  bool visitors = false;                 // rows keep their distinct (address, agent) pairs
};

// The table name of a dimension.
std::string DimensionTableName(std::string_view name);

// The distinct visitors of a row: most rows of a run keep none (only dimensions that report
// visitors per row do), so the set is made when the first is inserted.
class RowVisitors {
 public:
  bool Insert(uint64_t key) { return Set().Insert(key); }
  void Reserve(size_t count) {
    if (count > 0) Set().Reserve(count);
  }
  size_t size() const { return set_ ? set_->size() : 0; }
  bool empty() const { return size() == 0; }
  template <typename Visit>
  void ForEach(Visit visit) const {
    if (set_) set_->ForEach(visit);
  }

 private:
  KeySet& Set() {
    if (!set_) set_ = std::make_unique<KeySet>();
    return *set_;
  }
  std::unique_ptr<KeySet> set_;
};

// a + b for counts that are never negative, stopping at the largest count instead of wrapping.
inline int64_t SaturatingAdd(int64_t a, int64_t b) {
  return b > INT64_MAX - a ? INT64_MAX : a + b;
}

// A row's counts. Most dimensions count one thing, so the first count lives in the row and the
// others (a crawler's pages, traffic and status classes) in a block made when one of them is
// first written through a non-const row; a count never written reads 0.
class RowCounts {
 public:
  int64_t& operator[](size_t k) { return k == 0 ? first_ : More()[k - 1]; }
  int64_t operator[](size_t k) const { return k == 0 ? first_ : more_ ? (*more_)[k - 1] : 0; }
  std::array<int64_t, kDimensionCounts> All() const {
    std::array<int64_t, kDimensionCounts> all{};
    for (size_t k = 0; k < kDimensionCounts; ++k) all[k] = (*this)[k];
    return all;
  }

 private:
  using More_ = std::array<int64_t, kDimensionCounts - 1>;
  More_& More() {
    if (!more_) more_ = std::make_unique<More_>();
    return *more_;
  }
  int64_t first_ = 0;
  std::unique_ptr<More_> more_;
};

// One row of a dimension in a collector.
struct DimensionCell {
  RowCounts counts;
  RowVisitors visitors;  // VisitorKey(address, agent) in the collector's numbers
};

// A dimension's rows in a collector, found by (day, key, sub). Each distinct text is kept once
// in the table (a day, an engine or a browser is shared by all its rows), and a row is the
// numbers of its three texts and its cell: a run with a million search arrivals holds them in a
// fraction of the memory that a key string per row takes, and sorts them by numbers.
class DimensionTable {
 public:
  DimensionTable() = default;
  DimensionTable(DimensionTable&&) = default;
  DimensionTable& operator=(DimensionTable&&) = default;

  // The row of (day, key, sub), made empty when new. A cell never moves while the table lives
  // (nor when the table is moved), so a dimension may keep its address.
  DimensionCell& At(std::string_view day, std::string_view key, std::string_view sub = {});
  // The number of the row of (day, key, sub) (see KeyOf), or kNoRow; the row's cell, or null.
  static constexpr size_t kNoRow = ~size_t{0};
  size_t RowOf(std::string_view day, std::string_view key, std::string_view sub = {}) const;
  const DimensionCell* Find(std::string_view day, std::string_view key,
                            std::string_view sub = {}) const {
    const size_t row = RowOf(day, key, sub);
    return row == kNoRow ? nullptr : &cells_[row];
  }

  struct Key {
    std::string_view day, key, sub;
  };
  size_t size() const { return keys_.size(); }
  bool empty() const { return keys_.empty(); }
  // Rows are numbered 0, 1, 2... in the order they were made.
  Key KeyOf(size_t row) const {
    const RowKey& key = keys_[row];
    return {texts_.Text(key.day), texts_.Text(key.key), texts_.Text(key.sub)};
  }
  const DimensionCell& CellOf(size_t row) const { return cells_[row]; }
  template <typename Visit>  // visit(const Key&, const DimensionCell&) for every row
  void ForEach(Visit visit) const {
    for (size_t row = 0; row < keys_.size(); ++row) visit(KeyOf(row), cells_[row]);
  }
  // The row numbers in the order of their keys: by day, then key, then sub, byte by byte.
  std::vector<uint32_t> SortedRows() const;

  // Adds `later`'s rows to these, as if counted here after these: counts add up (a sum that
  // reached the limit stays there) and visitors, numbered again by `renumber`, unite. `later`
  // is left empty.
  void Absorb(DimensionTable& later, const std::function<uint64_t(uint64_t)>& renumber);

 private:
  struct RowKey {
    uint32_t day, key, sub;
    bool operator==(const RowKey&) const = default;
  };
  static uint32_t Tag(const RowKey& key);
  // The slot of `key`, or of the free slot where it would go.
  size_t SlotOf(const RowKey& key, uint32_t tag) const;
  size_t AddRow(const RowKey& key, uint32_t tag, size_t slot);
  bool FindText(std::string_view text, uint32_t& id) const { return texts_.Find(text, id); }

  TextTable texts_;
  std::vector<RowKey> keys_;          // by row
  std::deque<DimensionCell> cells_;   // by row; a deque, so that cells never move
  // Open addressing, linear probing: row + 1 (0 = free), with 32 bits of the key's hash beside.
  struct Slot {
    uint32_t row = 0;
    uint32_t tag = 0;
  };
  std::vector<Slot> slots_;
  // The day and the key asked for last, with their numbers: a log comes in time order, and
  // most of a day's search arrivals come from one engine.
  uint32_t last_day_ = 0, last_key_ = 0;
  bool have_day_ = false, have_key_ = false;
};

// What a dimension sees of one record. `address` is a number of the collector's address table
// only when `counted`; the texts of the record die when OnRecord returns.
struct DimensionInput {
  const RequestRecord& record;
  uint32_t agent = 0;    // the collector's number of the user agent
  uint32_t address = 0;  // the collector's number of the client address (counted records)
  bool robot = false;    // a robot's request: a described crawler's (or an excluded one's)
  bool counted = false;  // no robot's and passed the page filter: counted in the daily views
  // The crawler list's crawler of the agent (whether or not the run leaves it out), or null.
  const KnownCrawler* crawler = nullptr;
  bool page = false;     // passed the page filter, whoever asked
  // For a counted record with a referer, when the collector's engines are the described ones:
  // what they found in it (`search_engine` null: no described engine's page; `search_query`
  // null: no phrase in that engine's own format), so that no dimension looks again.
  bool search_looked_up = false;
  const SearchEngine* search_engine = nullptr;
  const std::string* search_query = nullptr;
};

// One dimension in one collector: its classification caches live in the object (by agent or
// address number, which stay valid in the collector that absorbs later parts); its counts live
// in the table the collector hands it.
class Dimension {
 public:
  virtual ~Dimension() = default;
  virtual const DimensionShape& Shape() const = 0;
  // The data the counts depend on (a list's version, a database's build), recorded with the
  // statistics so that counts made with other data are never added to these. "" for none.
  virtual std::string Version() const { return {}; }
  // Never throws on any record.
  virtual void OnRecord(const DimensionInput& input, DimensionTable& table) = 0;
  // A dimension that counts like this one, with empty caches, for a part read on another thread.
  virtual std::unique_ptr<Dimension> EmptyCopy() const = 0;

  // A dimension whose rows split each day's visitors by a class of their agent or address (a
  // visitor in exactly one row of its day) keeps no visitors in its rows while counting: they
  // are taken from the collector's day sets when the rows are read (ForEachDayVisitorRow).
  enum class VisitorsBy { kRows, kAgent, kAddress };
  virtual VisitorsBy VisitorsFrom() const { return VisitorsBy::kRows; }
  // For such a dimension: the (key, sub) of the row of a visitor whose agent or address is
  // `text`. Safe to call from another thread than the one counting. Never throws.
  virtual void RowOfVisitor(std::string_view /*text*/, std::string& /*key*/,
                            std::string& /*sub*/) const {}
  // For such a dimension, what it learnt while counting, so that reading the rows need not
  // classify again: the class (a number of its own) of the collector's agent or address number
  // `number`, false when it never met that number; and the (key, sub) of such a class.
  virtual bool KnownClass(uint32_t /*number*/, uint32_t& /*number_class*/) const { return false; }
  virtual void ClassRow(uint32_t /*number_class*/, std::string& /*key*/,
                        std::string& /*sub*/) const {}
  // Takes over what `later` (of the same kind, counting for a collector that is being absorbed
  // into this one's) learnt, its numbers mapped to this collector's by `addresses` and `agents`.
  virtual void AbsorbKnown(const Dimension& /*later*/, const std::vector<uint32_t>& /*addresses*/,
                           const std::vector<uint32_t>& /*agents*/) {}
};

class StatsCollector;

// The visitors of the rows of `dimension` (whose VisitorsFrom is not kRows), in `collector`'s
// numbers: `visit` once for each day and row of it that holds visitors.
void ForEachDayVisitorRow(
    const StatsCollector& collector, const Dimension& dimension,
    const std::function<void(std::string_view day, std::string_view key, std::string_view sub,
                             const std::vector<uint64_t>& visitors)>& visit);

// A classification made once per agent or address number of a collector (a browser family,
// a country), kept in the dimension object: `classify()` runs for the first record of each
// number only, with the record's text at hand (input.record.user_agent, input.record.ip).
template <typename Value>
class PerNumber {
 public:
  template <typename Classify>
  const Value& Get(uint32_t number, Classify classify) {
    if (number >= known_.size()) {
      const size_t size = std::max<size_t>(number + 1, known_.size() * 2);
      values_.resize(size);
      known_.resize(size, false);
    }
    if (!known_[number]) {
      values_[number] = classify();
      known_[number] = true;
    }
    return values_[number];
  }

 private:
  std::vector<Value> values_;
  std::vector<bool> known_;
};

class CountryDatabase;

// What decides which dimensions a run counts and with which data.
struct DimensionOptions {
  bool builtin = true;  // status codes, pages not found, hours
  bool agents = true;   // browsers, systems and device classes
  // Countries of the client addresses, looked up in this database; none are counted without.
  std::shared_ptr<const CountryDatabase> countries;
};

// The one list of dimensions: those a run with `options` counts, in a fixed order.
std::vector<std::unique_ptr<Dimension>> MakeDimensions(const DimensionOptions& options);

// The shape of every dimension this program knows, in the list's order; nullptr when unknown.
const std::vector<const DimensionShape*>& KnownDimensionShapes();
const DimensionShape* FindDimensionShape(std::string_view name);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_DIMENSION_H_
