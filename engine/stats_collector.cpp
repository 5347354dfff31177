// StatsCollector: the statistics of a run (days, pages, referers, phrases, hosts, robot hits)
// counted record by record, and merged exactly from parts read apart.
#include "engine/stats_collector.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/key_sort.h"
#include "engine/dimensions/search_referers.h"
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

// The entry for `key` in a hashed table, created with a default value when missing. Looks up
// with the view first, so a key that is already present costs no allocation.
template <typename Table>
typename Table::mapped_type& Entry(Table& table, std::string_view key) {
  if (const auto found = table.find(key); found != table.end()) return found->second;
  return table.emplace(key, typename Table::mapped_type{}).first->second;
}

// Puts the entries of `later` into `map`, handing each pair of entries that share a key to
// `combine(mine, theirs)`; the entry of `map` stays, so a key keeps the spelling it had here,
// the earlier one in file order. No entry is copied: nodes move from map to map.
// For a hashed table, or a few keys into a large map: one search each.
template <typename Table, typename Combine>
void MergeInto(Table& table, Table& later, Combine combine) {
  table.merge(later);
  for (auto& [key, theirs] : later) combine(table.find(key)->second, theirs);
  later.clear();
}

// As MergeInto, for ordered maps: maps of like sizes are merged in one pass.
template <typename Map, typename Combine>
void MergeMap(Map& map, Map& later, Combine combine) {
  if (later.empty()) return;
  if (map.empty()) {
    map.swap(later);
    return;
  }
  if (later.size() * 16 < map.size()) return MergeInto(map, later, combine);
  // Maps of like sizes: one pass over both in key order. `later`'s nodes go in just before the
  // first key of `map` not below theirs, found by walking forward: no search, and the nodes
  // of `map` stay where they are.
  const auto less = map.key_comp();
  auto at = map.begin();
  while (!later.empty()) {
    const auto theirs = later.begin();
    while (at != map.end() && less(at->first, theirs->first)) ++at;
    if (at != map.end() && !less(theirs->first, at->first)) {
      combine(at->second, theirs->second);
      later.erase(theirs);
    } else {
      map.insert(at, later.extract(theirs));
    }
  }
}

void AddCounts(CountsByEngine& mine, const CountsByEngine& theirs) {
  for (const auto& [id, count] : theirs) mine[id] += count;
}

void AddPage(PageStats& mine, const PageStats& theirs) {
  mine.visits += theirs.visits;
  mine.searches += theirs.searches;
  mine.bandwidth = SaturatingAdd(mine.bandwidth, theirs.bandwidth);
  AddCounts(mine.engineHits, theirs.engineHits);
}

void AddCount(int32_t& mine, int32_t theirs) { mine += theirs; }

void AddPhrase(QueryCounts& mine, const QueryCounts& theirs) { AddCounts(mine, theirs); }

// For phrases not yet in a map: the entry that stays keeps its spelling.
constexpr auto AddPhraseCounts = [](auto& mine, const auto& theirs) {
  AddCounts(mine.counts, theirs.counts);
};

// The nodes of a hashed table taken out of it, and the order that sorts them by key. Run on
// the largest tables of a run at once: nothing else is held for each key meanwhile.
template <typename Table>
struct SortedNodes {
  std::vector<typename Table::node_type> nodes;
  std::vector<size_t> order;
};
template <typename Table>
SortedNodes<Table> ExtractSorted(Table& table) {
  SortedNodes<Table> sorted;
  sorted.nodes.reserve(table.size());
  while (!table.empty()) sorted.nodes.push_back(table.extract(table.begin()));
  sorted.order = SortedOrder(sorted.nodes.size(),
                             [&sorted](size_t i) { return std::string_view(sorted.nodes[i].key()); });
  return sorted;
}

// Where each key goes in `map` when the keys come in ascending order: the first entry not
// below it. The keys walk forward from the previous answer (an entry put in before it changes
// nothing for the keys after), so that filling a map from sorted keys, or adding them to about
// as many already there, costs no search; only a few keys among many more look theirs up.
template <typename Map>
class SortedHint {
 public:
  SortedHint(Map& map, size_t incoming)
      : map_(map), at_(map.begin()), walk_(incoming * 16 >= map.size()) {}
  template <typename Key>
  typename Map::iterator Find(const Key& key) {
    if (!walk_) return map_.lower_bound(key);
    const auto less = map_.key_comp();
    while (at_ != map_.end() && less(at_->first, key)) ++at_;
    return at_;
  }
 private:
  Map& map_;
  typename Map::iterator at_;
  bool walk_;
};

// The entries of a hashed table in key order, as a run; the table is left empty. Each node is
// freed as soon as its entry is in the run.
template <typename Table>
std::vector<std::pair<std::string, typename Table::mapped_type>> SortedRun(Table& table) {
  SortedNodes<Table> sorted = ExtractSorted(table);
  std::vector<std::pair<std::string, typename Table::mapped_type>> run;
  run.reserve(sorted.nodes.size());
  for (size_t index : sorted.order) {
    auto& node = sorted.nodes[index];
    run.emplace_back(std::move(node.key()), std::move(node.mapped()));
    node = {};
  }
  return run;
}

// Puts the entries of `later` after those of `run`, both in key order, in one pass: an entry
// of a key both hold is handed to `combine(mine, theirs)` and stays, with its key. `later` is
// left empty.
template <typename Run, typename Combine>
void MergeRuns(Run& run, Run&& later, Combine combine) {
  if (later.empty()) return;
  if (run.empty()) {
    run.swap(later);
    return;
  }
  Run merged;
  merged.reserve(run.size() + later.size());
  auto mine = run.begin();
  auto theirs = later.begin();
  while (mine != run.end() && theirs != later.end()) {
    const int order = mine->first.compare(theirs->first);
    if (order > 0) {
      merged.push_back(std::move(*theirs++));
      continue;
    }
    if (order == 0) combine(mine->second, (theirs++)->second);
    merged.push_back(std::move(*mine++));
  }
  std::move(mine, run.end(), std::back_inserter(merged));
  std::move(theirs, later.end(), std::back_inserter(merged));
  run.swap(merged);
  Run().swap(later);
}

// Moves the entries of a run into `map`, combining an entry with one the map already holds.
// The run is left empty.
template <typename Run, typename Map, typename Combine>
void MoveRunInto(Run& run, Map& map, Combine combine) {
  SortedHint<Map> hint(map, run.size());
  for (auto& [key, value] : run) {
    const auto at = hint.Find(key);
    if (at != map.end() && at->first == key) {
      combine(at->second, value);
    } else {
      map.emplace_hint(at, std::move(key), std::move(value));
    }
  }
  Run().swap(run);
}

}  // namespace

void RobotHitList::Add(std::string_view name, std::string_view action, int32_t code,
                       std::string_view ip, std::string_view date) {
  hits_.push_back({names_.Id(name), actions_.Id(action), ips_.Id(ip), dates_.Id(date), code});
}

RobotHit RobotHitList::operator[](size_t index) const {
  const Packed& hit = hits_[index];
  return RobotHit{std::string(names_.Text(hit.name)), std::string(actions_.Text(hit.action)),
                  hit.code, std::string(ips_.Text(hit.ip)), std::string(dates_.Text(hit.date))};
}

RobotHitList::View RobotHitList::ViewAt(size_t index) const {
  const Packed& hit = hits_[index];
  return View{names_.Text(hit.name), actions_.Text(hit.action), hit.code, ips_.Text(hit.ip),
              dates_.Text(hit.date)};
}

void RobotHitList::Append(RobotHitList&& later) {
  if (&later == this || later.empty()) return;
  if (empty()) {
    *this = std::move(later);
    later.clear();
    return;
  }
  auto numbers = [](TextTable& mine, const TextTable& theirs) {
    std::vector<uint32_t> ids(theirs.size());
    for (uint32_t id = 0; id < ids.size(); ++id) ids[id] = mine.Id(theirs.Text(id));
    return ids;
  };
  const std::vector<uint32_t> names = numbers(names_, later.names_);
  const std::vector<uint32_t> actions = numbers(actions_, later.actions_);
  const std::vector<uint32_t> ips = numbers(ips_, later.ips_);
  const std::vector<uint32_t> dates = numbers(dates_, later.dates_);
  // Grown as push_back grows it: a run appends hundreds of days' lists one after another.
  const size_t needed = hits_.size() + later.hits_.size();
  if (needed > hits_.capacity()) hits_.reserve(std::max(needed, hits_.capacity() * 2));
  for (const Packed& hit : later.hits_) {
    hits_.push_back({names[hit.name], actions[hit.action], ips[hit.ip], dates[hit.date], hit.code});
  }
  later.clear();
}

StatsCollector StatsCollector::EmptyCopy() const {
  StatsCollector copy(registry_);
  copy.pageExtensions = pageExtensions;
  copy.crawlerMode = crawlerMode;
  for (const CountedDimension& counted : dimensions_)
    copy.dimensions_.push_back({counted.dimension->EmptyCopy(), {}});
  copy.SetLogFormat(log_format());
  return copy;
}

void StatsCollector::Absorb(StatsCollector&& later) {
  if (&later == this) return;
  if (RunKeys() > 0 || later.RunKeys() > 0) {
    // Rare: each collector's runs join its maps, and what it had pending comes after them.
    Finish();
    later.Finish();
  }
  AbsorbRest(later);
  // Phrases `later` has already finished came after every phrase here, pending or not.
  if (!later.queries.empty()) Finish();
  for (const Keyed table : kKeyed) AbsorbTable(later, table);
  // What `later` still had pending joins what is pending here; a phrase pending here keeps its
  // spelling.
  MergeInto(pendingPages_, later.pendingPages_, AddPage);
  MergeInto(pendingReferers_, later.pendingReferers_, AddCount);
  MergeInto(pendingPhrases_, later.pendingPhrases_, AddPhraseCounts);
}

void StatsCollector::AbsorbTable(StatsCollector& later, Keyed table) {
  if (&later == this) return;
  if (later.HoldsRun(table)) {
    if (later.MapEmpty(table)) return TakeRun(later, table);
    later.Finish(table);  // its run into its map, after what the map holds
  }
  switch (table) {
    case Keyed::kPages:
      return MergeMap(pages, later.pages, AddPage);
    case Keyed::kReferers:
      MergeMap(refererHosts, later.refererHosts, AddCount);
      return MergeMap(referers, later.referers, AddCount);
    case Keyed::kPhrases:
      return MergeMap(queries, later.queries, AddPhrase);
  }
}

void StatsCollector::AbsorbRest(StatsCollector& later) {
  if (&later == this) return;
  records_ += later.records_;
  later.records_ = 0;
  otherCrawlerRequests_ += later.otherCrawlerRequests_;
  later.otherCrawlerRequests_ = 0;
  AddLineCounts(later);
  // Days hold numbers of `later`'s tables: translate them into this collector's numbers.
  std::vector<uint32_t> addresses(later.addresses_.size());
  for (uint32_t id = 0; id < addresses.size(); ++id) {
    addresses[id] = addresses_.Id(later.addresses_.Text(id));
  }
  std::vector<uint32_t> agents(later.agents_.size());
  for (uint32_t id = 0; id < agents.size(); ++id) {
    // `later` has classified its agents already: an agent new here takes its answers.
    const uint32_t agent = agents_.Id(later.agents_.Text(id));
    if (agent == agentRobots_.size()) {
      agentRobots_.push_back(later.agentRobots_[id]);
      agentCrawlers_.push_back(later.agentCrawlers_[id]);
    }
    agents[id] = agent;
  }
  // Each of `later`'s days is freed as soon as it has been added: the sets of a day new here
  // are built anew in this collector's numbers, and both copies of every day would not fit.
  while (!later.days.empty()) {
    const auto first = later.days.begin();
    DayStats& theirs = first->second;
    DayStats& mine = FindOrAdd(days, first->first);
    mine.ips.Reserve(mine.ips.size() + theirs.ips.size());
    mine.visitors.Reserve(mine.visitors.size() + theirs.visitors.size());
    theirs.ips.ForEach([&](uint64_t address) { mine.ips.Insert(addresses[address]); });
    theirs.visitors.ForEach([&](uint64_t visitor) {
      mine.visitors.Insert(
          VisitorKey(addresses[VisitorAddress(visitor)], agents[VisitorAgent(visitor)]));
    });
    mine.views += theirs.views;
    mine.searches += theirs.searches;
    later.days.erase(first);
  }
  AbsorbDimensions(later, addresses, agents);
  later.addresses_ = TextTable();
  later.agents_ = TextTable();
  later.agentRobots_.clear();
  later.agentCrawlers_.clear();
  robotHits.Append(std::move(later.robotHits));
  later.lastDay_.day = nullptr;
  lastDay_.day = nullptr;
}

StatsCollector::StatsCollector(const SearchEngineRegistry& registry)
    : registry_(registry), describedSearch_(FindsAsDescribed(registry)) {}

DayStats& StatsCollector::Day(std::string_view key) {
  // The map is public: a size that changed means the remembered node may be gone.
  if (lastDay_.day == nullptr || lastDay_.days != days.size() || lastDay_.key != key) {
    lastDay_.day = &FindOrAdd(days, key);
    lastDay_.key.assign(key);
    lastDay_.days = days.size();
  }
  return *lastDay_.day;
}

uint32_t StatsCollector::AgentId(std::string_view user_agent) {
  const uint32_t agent = agents_.Id(user_agent);
  if (agent == agentRobots_.size()) {
    agentRobots_.push_back(registry_.FindRobot(user_agent));
    agentCrawlers_.push_back(CrawlerList::Builtin().Match(user_agent));
  }
  return agent;
}

void StatsCollector::SetDimensions(std::vector<std::unique_ptr<Dimension>> dimensions) {
  dimensions_.clear();
  for (auto& dimension : dimensions) dimensions_.push_back({std::move(dimension), {}});
}

DimensionTable StatsCollector::TakeDimensionRows(size_t k) {
  return std::exchange(dimensions_.at(k).table, DimensionTable());
}

void StatsCollector::CountDimensions(const DimensionInput& input) {
  for (CountedDimension& counted_dimension : dimensions_)
    counted_dimension.dimension->OnRecord(input, counted_dimension.table);
}

void StatsCollector::AbsorbDimensions(StatsCollector& later, const std::vector<uint32_t>& addresses,
                                      const std::vector<uint32_t>& agents) {
  if (later.dimensions_.size() != dimensions_.size())
    throw std::logic_error("collectors of different dimensions absorbed");
  auto ours = [&](uint64_t visitor) {
    return VisitorKey(addresses[VisitorAddress(visitor)], agents[VisitorAgent(visitor)]);
  };
  for (size_t k = 0; k < dimensions_.size(); ++k) {
    dimensions_[k].table.Absorb(later.dimensions_[k].table, ours);
    dimensions_[k].dimension->AbsorbKnown(*later.dimensions_[k].dimension, addresses, agents);
    // Its caches hold numbers and rows of `later` that are gone.
    later.dimensions_[k].dimension = later.dimensions_[k].dimension->EmptyCopy();
  }
}

void StatsCollector::OnRecord(const RequestRecord& record) {
  ++records_;
  const uint32_t agent = AgentId(record.user_agent);
  const SearchEngine* robot = agentRobots_[agent];
  const KnownCrawler* crawler = agentCrawlers_[agent];
  if (robot == nullptr && crawler != nullptr) ++otherCrawlerRequests_;
  // An excluded crawler (--crawlers all) is left out as a described robot is, for the
  // dimensions too, but is not logged.
  if (robot != nullptr || (crawler != nullptr && crawlerMode == CrawlerMode::kAll)) {
    if (robot != nullptr) {
      robotHits.Add(robot->Name(), record.url, record.status, record.ip, record.date);
    }
    if (!dimensions_.empty()) {
      CountDimensions({record, agent, 0, /*robot=*/true, /*counted=*/false, crawler,
                       PassesPageFilter(record.url, pageExtensions)});
    }
    return;
  }
  if (!PassesPageFilter(record.url, pageExtensions)) {
    if (!dimensions_.empty()) {
      CountDimensions({record, agent, 0, /*robot=*/false, /*counted=*/false, crawler,
                       /*page=*/false});
    }
    return;
  }

  DayStats& day = Day(record.date);
  PageStats& page = Entry(pendingPages_, record.url);
  const uint32_t address = addresses_.Id(record.ip);
  const bool referred = !record.referer.empty() && record.referer != "-";
  const SearchEngine* engine = referred ? registry_.FindByReferer(record.referer) : nullptr;
  const bool has_query = engine != nullptr && engine->ExtractQuery(record.referer, phrase_);
  if (!dimensions_.empty()) {
    CountDimensions({record, agent, address, /*robot=*/false, /*counted=*/true, crawler,
                     /*page=*/true, referred && describedSearch_, engine,
                     has_query ? &phrase_ : nullptr});
  }
  day.ips.Insert(address);
  day.visitors.Insert(VisitorKey(address, agent));
  ++day.views;
  ++page.visits;
  // bytes is never negative; a log line can claim any size, so the sum stops at the limit
  // instead of overflowing.
  page.bandwidth = SaturatingAdd(page.bandwidth, record.bytes);

  if (!referred) return;
  ++Entry(pendingReferers_, record.referer);  // its host is counted from it, in Finish

  if (engine == nullptr) return;
  ++day.searches;
  ++page.searches;

  if (!has_query) return;
  ++page.engineHits[engine->Id()];
  const std::string_view phrase = TrimWhitespace(phrase_);
  folded_.assign(phrase);
  for (char& c : folded_) c = static_cast<char>(Cp1251Lower(static_cast<unsigned char>(c)));
  auto pending = pendingPhrases_.find(folded_);
  if (pending == pendingPhrases_.end()) {
    pending = pendingPhrases_.emplace(folded_, PendingPhrase{std::string(phrase), {}}).first;
  }
  ++pending->second.counts[engine->Id()];
}

void StatsCollector::Finish() {
  for (const Keyed table : kKeyed) Finish(table);
}

void StatsCollector::Finish(Keyed table) {
  // What is pending follows the run, which follows the map.
  FinishToRun(table);
  TakeRun(*this, table);
}

// Every count of a referer is one of its host: a host's count is the sum of its referers',
// counted here once per referer instead of once per line.
StatsCollector::PendingTable<int32_t> StatsCollector::PendingHosts() const {
  PendingTable<int32_t> hosts;
  for (const auto& [referer, count] : pendingReferers_) {
    Entry(hosts, RefererHost(referer)) += count;
  }
  return hosts;
}

void StatsCollector::FinishToRuns() {
  for (const Keyed table : kKeyed) FinishToRun(table);
}

void StatsCollector::FinishToRun(Keyed table) {
  switch (table) {
    case Keyed::kPages:
      return MergeRuns(pageRun_, SortedRun(pendingPages_), AddPage);
    case Keyed::kReferers: {
      PendingTable<int32_t> hosts = PendingHosts();
      MergeRuns(hostRun_, SortedRun(hosts), AddCount);
      return MergeRuns(refererRun_, SortedRun(pendingReferers_), AddCount);
    }
    case Keyed::kPhrases:
      return MergeRuns(phraseRun_, SortedRun(pendingPhrases_), AddPhraseCounts);
  }
}

void StatsCollector::AbsorbRun(StatsCollector& later, Keyed table) {
  if (&later == this) return;
  switch (table) {
    case Keyed::kPages:
      return MergeRuns(pageRun_, std::move(later.pageRun_), AddPage);
    case Keyed::kReferers:
      MergeRuns(hostRun_, std::move(later.hostRun_), AddCount);
      return MergeRuns(refererRun_, std::move(later.refererRun_), AddCount);
    case Keyed::kPhrases:
      return MergeRuns(phraseRun_, std::move(later.phraseRun_), AddPhraseCounts);
  }
}

size_t StatsCollector::RunKeys() const {
  return pageRun_.size() + refererRun_.size() + hostRun_.size() + phraseRun_.size();
}

bool StatsCollector::HoldsRun(Keyed table) const {
  switch (table) {
    case Keyed::kPages: return !pageRun_.empty();
    case Keyed::kReferers: return !refererRun_.empty() || !hostRun_.empty();
    case Keyed::kPhrases: return !phraseRun_.empty();
  }
  return false;
}

bool StatsCollector::MapEmpty(Keyed table) const {
  switch (table) {
    case Keyed::kPages: return pages.empty();
    case Keyed::kReferers: return referers.empty() && refererHosts.empty();
    case Keyed::kPhrases: return queries.empty();
  }
  return true;
}

void StatsCollector::TakeRun(StatsCollector& from, Keyed table) {
  switch (table) {
    case Keyed::kPages:
      return MoveRunInto(from.pageRun_, pages, AddPage);
    case Keyed::kReferers:
      MoveRunInto(from.hostRun_, refererHosts, AddCount);
      return MoveRunInto(from.refererRun_, referers, AddCount);
    case Keyed::kPhrases:
      break;
  }
  // In the order of the folded letters, which is the maps' order of the spellings.
  SortedHint<decltype(queries)> hint(queries, from.phraseRun_.size());
  for (auto& [folded, phrase] : from.phraseRun_) {
    const auto at = hint.Find(phrase.spelling);
    if (at != queries.end() && !queries.key_comp()(phrase.spelling, at->first)) {
      AddCounts(at->second, phrase.counts);  // the earlier spelling stays
    } else {
      queries.emplace_hint(at, std::move(phrase.spelling), std::move(phrase.counts));
    }
  }
  Run<PendingPhrase>().swap(from.phraseRun_);
}

}  // namespace hitsieve
