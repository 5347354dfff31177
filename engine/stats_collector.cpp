#include "engine/stats_collector.h"

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

}  // namespace

StatsCollector::StatsCollector(const SearchEngineRegistry& registry) : registry_(registry) {}

void StatsCollector::OnRecord(const RequestRecord& record) {
  ++records_;
  if (const SearchEngine* robot = registry_.FindRobot(record.user_agent)) {
    robotHits.push_back({robot->Name(), record.url, record.status, record.ip, record.date});
    return;
  }
  if (!PassesPageFilter(record.url, pageExtensions)) return;

  DayStats& day = FindOrAdd(days, record.date);
  PageStats& page = FindOrAddIndexed(pages, pageIndex_, record.url);
  // Looked up first, so that an address or visitor already seen costs no allocation.
  if (day.ips.find(std::string_view(record.ip)) == day.ips.end()) day.ips.insert(record.ip);
  const std::pair<std::string_view, std::string_view> visitor(record.ip, record.user_agent);
  if (day.visitors.find(visitor) == day.visitors.end()) {
    day.visitors.emplace(record.ip, record.user_agent);
  }
  ++day.views;
  ++page.visits;
  // bytes is never negative; a log line can claim any size, so the sum stops at the limit
  // instead of overflowing.
  page.bandwidth = record.bytes > std::numeric_limits<int64_t>::max() - page.bandwidth
                       ? std::numeric_limits<int64_t>::max()
                       : page.bandwidth + record.bytes;

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
