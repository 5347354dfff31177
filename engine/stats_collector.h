// StatsCollector: the visit statistics of a run, counted record by record and merged from parts.
#ifndef HITSIEVE_ENGINE_STATS_COLLECTOR_H_
#define HITSIEVE_ENGINE_STATS_COLLECTOR_H_

#include <array>
#include <cstddef>
#include <iterator>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/counts_by_engine.h"
#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/dimension.h"
#include "engine/key_set.h"
#include "engine/page_filter.h"
#include "engine/record_sink.h"
#include "engine/search_engine.h"
#include "engine/text.h"

namespace hitsieve {

// A visitor of one day, (client address, user agent), as the two texts' numbers in the
// collector's tables: one 64-bit key instead of two strings.
inline uint64_t VisitorKey(uint32_t address, uint32_t agent) {
  return uint64_t{address} << 32 | agent;
}
inline uint32_t VisitorAddress(uint64_t key) { return static_cast<uint32_t>(key >> 32); }
inline uint32_t VisitorAgent(uint64_t key) { return static_cast<uint32_t>(key); }

// Who came on one day. Only the sizes of the two sets are ever reported; the sets hold numbers
// from the collector's address and agent tables (StatsCollector::AddressText, AgentText).
struct DayStats {
  KeySet visitors;  // VisitorKey(address, agent)
  KeySet ips;       // address numbers
  int32_t views = 0;
  int32_t searches = 0;
};

// Counters of one page (one distinct URL, query string included).
struct PageStats {
  int32_t visits = 0;
  int32_t searches = 0;
  int64_t bandwidth = 0;           // bytes; 64-bit so a popular download does not wrap
  CountsByEngine engineHits;  // engine id -> requests with an extracted phrase
};

// One request of a search engine's crawler.
struct RobotHit {
  std::string name;    // the engine's Name(), Windows-1251
  std::string action;  // the record's url
  int32_t code = 0;    // the record's status
  std::string ip;
  std::string date;    // the day key
};

// The crawler requests of a run in the order they came, packed: each text of the hits (crawler
// names, URLs, addresses, days) is kept once and a hit holds its texts' numbers, so that the
// hundreds of thousands of crawler requests of a large log take tens of megabytes, not
// hundreds. A hit is handed out as a RobotHit made on the spot.
class RobotHitList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = RobotHit;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = RobotHit;
    const_iterator() = default;
    const_iterator(const RobotHitList* list, size_t index) : list_(list), index_(index) {}
    RobotHit operator*() const { return (*list_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    const RobotHitList* list_ = nullptr;
    size_t index_ = 0;
  };

  void Add(std::string_view name, std::string_view action, int32_t code, std::string_view ip,
           std::string_view date);
  void push_back(const RobotHit& hit) { Add(hit.name, hit.action, hit.code, hit.ip, hit.date); }
  // Puts `later`'s hits after these; `later` is left empty.
  void Append(RobotHitList&& later);

  RobotHit operator[](size_t index) const;
  // A hit's texts as they are kept, without copies; valid while the list is unchanged.
  struct View {
    std::string_view name, action;
    int32_t code;
    std::string_view ip, date;
  };
  View ViewAt(size_t index) const;
  size_t size() const { return hits_.size(); }
  bool empty() const { return hits_.empty(); }
  void clear() { *this = RobotHitList(); }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, hits_.size()); }

 private:
  struct Packed {
    uint32_t name, action, ip, date;  // numbers in the tables below
    int32_t code;
  };
  std::vector<Packed> hits_;
  // A table each, so that the repeats in a row (one crawler, one day) cost a comparison only.
  TextTable names_, actions_, ips_, dates_;
};

using QueryCounts = CountsByEngine;  // engine id -> count

// Accumulates one run's statistics in memory. Owned by the run; lives on the worker thread only.
// Reads the engine registry, which must be filled before the first record.
class StatsCollector : public RecordSink {
 public:
  explicit StatsCollector(const SearchEngineRegistry& registry = SearchEngineRegistry::Instance());
  // Days hold numbers from the collector's own tables; a copy would mean nothing to another
  // collector's, so collectors are moved, never copied.
  StatsCollector(const StatsCollector&) = delete;
  StatsCollector& operator=(const StatsCollector&) = delete;
  StatsCollector(StatsCollector&&) = default;

  // The results. `pages`, `referers`, `refererHosts` and `queries` are complete once Finish has
  // run: ParseContent, ProcessFile and CollectFile call it after their last line.
  std::map<std::string, DayStats, std::less<>> days;
  std::map<std::string, PageStats, std::less<>> pages;
  std::map<std::string, int32_t, std::less<>> referers;
  std::map<std::string, int32_t, std::less<>> refererHosts;
  RobotHitList robotHits;
  std::map<std::string, QueryCounts, CaseInsensitiveLess> queries;  // keeps the first spelling
  ExtensionSet pageExtensions;
  // With kAll, the requests of every crawler the list knows and no described robot token
  // catches count nowhere in the tables above, as a described robot's (but are not logged).
  CrawlerMode crawlerMode = CrawlerMode::kDescribed;

  // The dimensions counted beside the tables above (none unless set), each with its rows.
  struct CountedDimension {
    std::unique_ptr<Dimension> dimension;
    DimensionTable table;
  };
  // REQUIRES: before the first record.
  void SetDimensions(std::vector<std::unique_ptr<Dimension>> dimensions);
  const std::vector<CountedDimension>& dimensions() const { return dimensions_; }
  // The rows of dimensions()[k], taken out of the collector (a save frees them once written).
  DimensionTable TakeDimensionRows(size_t k);

  // The texts behind the numbers in `days` and in the dimensions' visitor sets.
  std::string_view AddressText(uint32_t address) const { return addresses_.Text(address); }
  std::string_view AgentText(uint32_t agent) const { return agents_.Text(agent); }
  size_t AddressCount() const { return addresses_.size(); }
  size_t AgentCount() const { return agents_.size(); }

  // Number of records handed to OnRecord so far (for the command line's summary).
  int64_t records() const { return records_; }
  // Requests from crawlers the list knows that no described robot token catches: counted as
  // visitors by default, left out with CrawlerMode::kAll.
  int64_t otherCrawlerRequests() const { return otherCrawlerRequests_; }

  // `record` dies when this returns, so copy what you keep. Never fails.
  void OnRecord(const RequestRecord& record) override;

  // Puts the pages, referers, hosts and phrases counted since the last call into their maps.
  void Finish() override;

  // An empty collector that counts like this one (same registry, same extension set), for a
  // part of a file parsed on another thread.
  StatsCollector EmptyCopy() const;

  // Adds `later`'s statistics to these, as if its records had been handed to this collector
  // after all of its own: counts add up, address and visitor sets unite, robot hits follow
  // these, and a phrase already here keeps its spelling. `later` is left empty.
  void Absorb(StatsCollector&& later);

  // The same work in pieces, for collectors that are finished in parallel. The keyed tables,
  // each with its map and what is pending for it, are apart from each other and from the rest,
  // so that on one pair of collectors the calls for different tables, and AbsorbRest, may run
  // at the same time on different threads. The referers and their hosts are one: the hosts are
  // counted from the referers.
  enum class Keyed { kPages, kReferers, kPhrases };
  static constexpr Keyed kKeyed[] = {Keyed::kPages, Keyed::kReferers, Keyed::kPhrases};
  // What Finish does for one table.
  void Finish(Keyed table);
  // Absorb for one table. REQUIRES: that table finished in both collectors.
  void AbsorbTable(StatsCollector& later, Keyed table);
  // Absorb for all but the keyed tables: days, their texts, robot hits, counts.
  void AbsorbRest(StatsCollector& later);

  // Sorted runs, for the parts of a file or of a run counted apart (ranges, gzip segments,
  // whole files side by side): a part's keyed tables are sorted into arrays in key order, which
  // merge with the next parts' in one sequential pass each and go into the maps once, at the
  // end, instead of into maps of their own per part that are then merged node by node. Finish
  // goes through the run too: what is pending into the run, the run into the map. AbsorbTable
  // takes `later`'s run straight into this map.
  //
  // Puts what is pending of a keyed table into its run, after what the run holds.
  void FinishToRun(Keyed table);
  // FinishToRun for every keyed table.
  void FinishToRuns();
  // Puts `later`'s run of `table` after this collector's. REQUIRES: nothing pending for that
  // table in either collector, and `later`'s map of it empty (what this collector's map holds
  // comes before both runs).
  void AbsorbRun(StatsCollector& later, Keyed table);
  // The keys the runs hold.
  size_t RunKeys() const;

 private:
  const SearchEngineRegistry& registry_;
  int64_t records_ = 0;
  // Pages, referers and phrases counted since the last Finish. A log brings
  // hundreds of thousands of new keys; counted in hashed tables and sorted into the maps once,
  // in order, each costs one hash instead of a tree walk over keys that share long prefixes.
  // A phrase is found by its letters folded to lower case and keeps the spelling it was first
  // seen with.
  template <typename Value>
  using PendingTable = std::unordered_map<std::string, Value, ByteStringHash, std::equal_to<>>;
  struct PendingPhrase {
    std::string spelling;
    QueryCounts counts;
  };
  PendingTable<PageStats> pendingPages_;
  PendingTable<int32_t> pendingReferers_;
  PendingTable<PendingPhrase> pendingPhrases_;
  // The hosts of the pending referers, with their counts.
  PendingTable<int32_t> PendingHosts() const;
  // The runs (FinishToRuns), in key order; phrases by their folded letters.
  template <typename Value>
  using Run = std::vector<std::pair<std::string, Value>>;
  Run<PageStats> pageRun_;
  Run<int32_t> refererRun_;
  Run<int32_t> hostRun_;
  Run<PendingPhrase> phraseRun_;
  bool HoldsRun(Keyed table) const;
  bool MapEmpty(Keyed table) const;
  // Moves `from`'s run of `table` into this collector's map, after what the map holds.
  void TakeRun(StatsCollector& from, Keyed table);
  std::string folded_;  // reused for folding each phrase

  // Logs are written in time order, so nearly every record falls on the day of the one before.
  struct LastDay {
    std::string key;
    DayStats* day = nullptr;
    size_t days = 0;  // the size of `days` when `day` was found
  };
  LastDay lastDay_;
  DayStats& Day(std::string_view key);

  // Every client address and user agent seen on a counted line, kept once and numbered.
  TextTable addresses_;
  TextTable agents_;  // every user agent seen
  // The crawler of each agent (null for a browser), by agent number: a site sees a few thousand
  // agents over millions of lines, and one hash costs less than six substring searches.
  std::vector<const SearchEngine*> agentRobots_;
  // The list's crawler of each agent (null when the list knows none), by agent number.
  std::vector<const KnownCrawler*> agentCrawlers_;
  int64_t otherCrawlerRequests_ = 0;
  uint32_t AgentId(std::string_view user_agent);

  std::vector<CountedDimension> dimensions_;
  void CountDimensions(const DimensionInput& input);
  // Whether registry_ finds referers' engines as the dimensions' own list of the described
  // engines does, so that its findings can be handed to them.
  bool describedSearch_ = false;
  // Adds `later`'s dimension rows, its visitor numbers translated by `addresses` and `agents`.
  void AbsorbDimensions(StatsCollector& later, const std::vector<uint32_t>& addresses,
                        const std::vector<uint32_t>& agents);

  // Reused across records so that a repeated phrase costs no allocation.
  std::string phrase_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_STATS_COLLECTOR_H_
