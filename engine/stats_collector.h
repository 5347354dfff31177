#ifndef HITSIEVE_ENGINE_STATS_COLLECTOR_H_
#define HITSIEVE_ENGINE_STATS_COLLECTOR_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/page_filter.h"
#include "engine/record_sink.h"
#include "engine/search_engine.h"
#include "engine/text.h"

namespace hitsieve {

// Hashes byte strings; transparent, so a view can be looked up without making a string.
struct ByteStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

// A visitor of one day: (client address, user agent). The collector keeps each agent's text
// once (StatsCollector::agent) and visitors point at it, so that a visitor costs no copy of a
// long agent string and is hashed and compared by the address's bytes and the agent's address.
using Visitor = std::pair<std::string, const std::string*>;

// Transparent: a pair of an address view and an agent finds a stored visitor.
struct VisitorHash {
  using is_transparent = void;
  template <typename Pair>
  size_t operator()(const Pair& visitor) const {
    const size_t ip = ByteStringHash()(visitor.first);
    const size_t agent = std::hash<const void*>()(visitor.second);
    return ip ^ (agent + 0x9E3779B97F4A7C15ULL + (ip << 6) + (ip >> 2));
  }
};
struct VisitorEqual {
  using is_transparent = void;
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return a.second == b.second && std::string_view(a.first) == std::string_view(b.first);
  }
};

// Who came on one day. Only the sizes of the two sets are ever reported, so they are hashed
// sets: a busy day's thousands of addresses cost one hash each instead of a tree walk.
using VisitorSet = std::unordered_set<Visitor, VisitorHash, VisitorEqual>;

struct DayStats {
  VisitorSet visitors;
  std::unordered_set<std::string, ByteStringHash, std::equal_to<>> ips;
  int32_t views = 0;
  int32_t searches = 0;
};

// Counters of one page (one distinct URL, query string included).
struct PageStats {
  int32_t visits = 0;
  int32_t searches = 0;
  int64_t bandwidth = 0;           // bytes; 64-bit so a popular download does not wrap
  std::map<int, int32_t> engineHits;  // engine id -> requests with an extracted phrase
};

// One request of a search engine's crawler.
struct RobotHit {
  std::string name;    // the engine's Name(), Windows-1251
  std::string action;  // the record's url
  int32_t code = 0;    // the record's status
  std::string ip;
  std::string date;    // the day key
};

using QueryCounts = std::map<int, int32_t>;  // engine id -> count

// Accumulates one run's statistics in memory. Owned by the run; lives on the worker thread only.
// Reads the engine registry, which must be filled before the first record.
class StatsCollector : public RecordSink {
 public:
  explicit StatsCollector(const SearchEngineRegistry& registry = SearchEngineRegistry::Instance());
  // Visitors point into the collector's own agent table, so a copy could not be independent.
  StatsCollector(const StatsCollector&) = delete;
  StatsCollector& operator=(const StatsCollector&) = delete;
  StatsCollector(StatsCollector&&) = default;

  std::map<std::string, DayStats, std::less<>> days;
  std::map<std::string, PageStats, std::less<>> pages;
  std::map<std::string, int32_t, std::less<>> referers;
  std::map<std::string, int32_t, std::less<>> refererHosts;
  std::vector<RobotHit> robotHits;
  std::map<std::string, QueryCounts, CaseInsensitiveLess> queries;  // keeps the first spelling
  ExtensionSet pageExtensions;

  // Number of records handed to OnRecord so far (for the command line's summary).
  int64_t records() const { return records_; }

  // `record` dies when this returns, so copy what you keep. Never fails.
  void OnRecord(const RequestRecord& record) override;

  // An empty collector that counts like this one (same registry, same extension set), for a
  // part of a file parsed on another thread.
  StatsCollector EmptyCopy() const;

  // Adds `later`'s statistics to these, as if its records had been handed to this collector
  // after all of its own: counts add up, address and visitor sets unite, robot hits follow
  // these, and a phrase already here keeps its spelling. `later` is left empty.
  void Absorb(StatsCollector&& later);

 private:
  const SearchEngineRegistry& registry_;
  int64_t records_ = 0;
  // Hashed indexes over the keys of `pages`, `referers` and `refererHosts`, pointing into the
  // maps' own nodes, so that a known page or referer costs one hash instead of a walk over
  // keys that share long prefixes. The maps stay the record; an index whose size differs from
  // its map's is rebuilt before use. REQUIRES: nobody erases from these maps while records are
  // being fed (the store only reads them after the run).
  template <typename Value>
  struct KeyIndex {
    std::unordered_map<std::string_view, Value*, ByteStringHash, std::equal_to<>> entries;
  };
  KeyIndex<PageStats> pageIndex_;
  KeyIndex<int32_t> refererIndex_;
  KeyIndex<int32_t> refererHostIndex_;

  // Logs are written in time order, so nearly every record falls on the day of the one before.
  struct LastDay {
    std::string key;
    DayStats* day = nullptr;
    size_t days = 0;  // the size of `days` when `day` was found
  };
  LastDay lastDay_;
  DayStats& Day(std::string_view key);

  // Every user agent seen, kept once, with the crawler it belongs to (null for a browser): a
  // site sees a few thousand agents over millions of lines, and one hash costs less than six
  // substring searches. Nodes never move, so visitors point at the keys.
  using AgentMap = std::unordered_map<std::string, const SearchEngine*, ByteStringHash, std::equal_to<>>;
  AgentMap agents_;
  const AgentMap::value_type& Agent(std::string_view user_agent);

  // Reused across records so that a repeated phrase costs no allocation.
  std::string phrase_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_STATS_COLLECTOR_H_
