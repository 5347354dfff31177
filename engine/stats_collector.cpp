#include "engine/stats_collector.h"

#include <iterator>
#include <limits>

#include "engine/referer.h"

namespace hitsieve {

namespace {

// The entry for `key`, created with a default value when missing. Looks up with the view
// first, so a key that is already present costs no allocation.
template <typename Map>
typename Map::mapped_type& FindOrAdd(Map& map, std::string_view key) {
  auto it = map.lower_bound(key);
  if (it == map.end() || map.key_comp()(key, it->first)) {
    it = map.emplace_hint(it, std::string(key), typename Map::mapped_type{});
  }
  return it->second;
}

// As FindOrAdd, through a hashed index of the map's keys (see StatsCollector's members).
template <typename Map, typename Index>
typename Map::mapped_type& FindOrAddIndexed(Map& map, Index& key_index, std::string_view key) {
  auto& index = key_index.entries;
  if (index.size() != map.size()) {
    index.clear();
    for (auto& [stored, value] : map) index.emplace(stored, &value);
  }
  if (const auto found = index.find(key); found != index.end()) return *found->second;
  auto& entry = *map.emplace(std::string(key), typename Map::mapped_type{}).first;
  index.emplace(entry.first, &entry.second);
  return entry.second;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  return b > std::numeric_limits<int64_t>::max() - a ? std::numeric_limits<int64_t>::max() : a + b;
}

// Moves the entries of `later` whose keys `map` lacks into `map`, then hands each pair of
// entries that share a key to `combine(mine, theirs)`. std::map::merge keeps the entry already
// present, so a key keeps the spelling it had here: the earlier one in file order.
template <typename Map, typename Combine>
void MergeMap(Map& map, Map& later, Combine combine) {
  map.merge(later);
  for (auto& [key, theirs] : later) combine(map.find(key)->second, theirs);
  later.clear();
}

void AddCounts(std::map<int, int32_t>& mine, const std::map<int, int32_t>& theirs) {
  for (const auto& [id, count] : theirs) mine[id] += count;
}

}  // namespace

StatsCollector StatsCollector::EmptyCopy() const {
  StatsCollector copy(registry_);
  copy.pageExtensions = pageExtensions;
  return copy;
}

void StatsCollector::Absorb(StatsCollector&& later) {
  if (&later == this) return;
  records_ += later.records_;
  later.records_ = 0;
  // Agents new here move over with their nodes, so visitors pointing at them stay valid; the
  // visitors of agents known on both sides are pointed at this collector's copy.
  agents_.merge(later.agents_);
  if (!later.agents_.empty()) {
    std::unordered_map<const std::string*, const std::string*> mine;
    mine.reserve(later.agents_.size());
    for (const auto& [agent, robot] : later.agents_) mine.emplace(&agent, &agents_.find(agent)->first);
    for (auto& [date, day] : later.days) {
      VisitorSet repointed;
      repointed.reserve(day.visitors.size());
      while (!day.visitors.empty()) {
        auto node = day.visitors.extract(day.visitors.begin());
        if (const auto found = mine.find(node.value().second); found != mine.end()) {
          node.value().second = found->second;
        }
        repointed.insert(std::move(node));
      }
      day.visitors.swap(repointed);
    }
    later.agents_.clear();
  }
  MergeMap(days, later.days, [](DayStats& mine, DayStats& theirs) {
    mine.ips.merge(theirs.ips);  // moves the nodes; no string is copied
    mine.visitors.merge(theirs.visitors);
    mine.views += theirs.views;
    mine.searches += theirs.searches;
  });
  MergeMap(pages, later.pages, [](PageStats& mine, const PageStats& theirs) {
    mine.visits += theirs.visits;
    mine.searches += theirs.searches;
    mine.bandwidth = SaturatingAdd(mine.bandwidth, theirs.bandwidth);
    AddCounts(mine.engineHits, theirs.engineHits);
  });
  auto add = [](int32_t& mine, int32_t theirs) { mine += theirs; };
  MergeMap(referers, later.referers, add);
  MergeMap(refererHosts, later.refererHosts, add);
  MergeMap(queries, later.queries, [](QueryCounts& mine, const QueryCounts& theirs) { AddCounts(mine, theirs); });
  robotHits.insert(robotHits.end(), std::make_move_iterator(later.robotHits.begin()),
                   std::make_move_iterator(later.robotHits.end()));
  later.robotHits.clear();
  // The indexes are rebuilt from the maps on their next use.
  later.lastDay_.day = nullptr;  // its node may be here now
  lastDay_.day = nullptr;
  for (StatsCollector* collector : {this, &later}) {
    collector->pageIndex_.entries.clear();
    collector->refererIndex_.entries.clear();
    collector->refererHostIndex_.entries.clear();
  }
}

StatsCollector::StatsCollector(const SearchEngineRegistry& registry) : registry_(registry) {}

DayStats& StatsCollector::Day(std::string_view key) {
  // The map is public: a size that changed means the remembered node may be gone.
  if (lastDay_.day == nullptr || lastDay_.days != days.size() || lastDay_.key != key) {
    lastDay_.day = &FindOrAdd(days, key);
    lastDay_.key.assign(key);
    lastDay_.days = days.size();
  }
  return *lastDay_.day;
}

const StatsCollector::AgentMap::value_type& StatsCollector::Agent(std::string_view user_agent) {
  if (const auto known = agents_.find(user_agent); known != agents_.end()) return *known;
  return *agents_.emplace(user_agent, registry_.FindRobot(user_agent)).first;
}

void StatsCollector::OnRecord(const RequestRecord& record) {
  ++records_;
  const auto& [agent, robot] = Agent(record.user_agent);
  if (robot != nullptr) {
    robotHits.push_back({robot->Name(), std::string(record.url), record.status,
                         std::string(record.ip), std::string(record.date)});
    return;
  }
  if (!PassesPageFilter(record.url, pageExtensions)) return;

  DayStats& day = Day(record.date);
  PageStats& page = FindOrAddIndexed(pages, pageIndex_, record.url);
  // Looked up first, so that an address or visitor already seen costs no allocation.
  if (day.ips.find(record.ip) == day.ips.end()) day.ips.emplace(record.ip);
  const std::pair<std::string_view, const std::string*> visitor(record.ip, &agent);
  if (day.visitors.find(visitor) == day.visitors.end()) day.visitors.emplace(record.ip, &agent);
  ++day.views;
  ++page.visits;
  // bytes is never negative; a log line can claim any size, so the sum stops at the limit
  // instead of overflowing.
  page.bandwidth = SaturatingAdd(page.bandwidth, record.bytes);

  if (record.referer.empty() || record.referer == "-") return;
  ++FindOrAddIndexed(referers, refererIndex_, record.referer);
  ++FindOrAddIndexed(refererHosts, refererHostIndex_, RefererHost(record.referer));

  const SearchEngine* engine = registry_.FindByReferer(record.referer);
  if (engine == nullptr) return;
  ++day.searches;
  ++page.searches;

  if (!engine->ExtractQuery(record.referer, phrase_)) return;
  ++page.engineHits[engine->Id()];
  ++FindOrAdd(queries, TrimWhitespace(phrase_))[engine->Id()];
}

}  // namespace hitsieve
