// Statistics totals in memory: adding two of them as if one run had read both, taking a
// finished collector's, and the day sets in their stored BLOB form.

#include <algorithm>
#include <iterator>
#include <utility>

#include "engine/content_hash.h"
#include "store/stats_merge.h"
#include "store/stats_merge_internal.h"

namespace hitsieve {

namespace merge_internal {

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

}  // namespace merge_internal

namespace {

using namespace merge_internal;

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

}  // namespace

bool StatsTotals::Empty() const {
  if (!days.empty() || !pages.empty() || !referers.empty() || !refererHosts.empty() ||
      !robotHits.empty() || !queries.empty())
    return false;
  for (const auto& [name, dimension] : dimensions) {
    if (!dimension.rows.empty()) return false;
  }
  return true;
}

void StatsTotals::Add(StatsTotals&& later) {
  // Counted under other settings: refused before anything is added. Empty totals take the
  // settings of what is added to them.
  if (!settings.Recorded() || Empty()) {
    settings = later.settings;
  } else if (const std::string why = WhyNotAddable(settings, later.settings);
             !why.empty() && !later.Empty()) {
    throw std::runtime_error(RefusedAddMessage(why, later.settings));
  }
  if (later.Empty()) {
    if (Empty() && dimensions.empty()) dimensions = std::move(later.dimensions);
    later = StatsTotals{};
    return;
  }
  if (Empty()) {
    // Nothing here to add to: the first part of a merge, or a save onto no statistics, takes
    // `later` whole instead of copying it row by row.
    *this = std::move(later);
    later = StatsTotals{};
    return;
  }
  CheckDimensionsMatch(dimensions, later.dimensions, "the statistics", "the added ones");
  for (auto& [name, mine] : dimensions) AddDimensionRows(name, mine, later.dimensions.at(name));
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
  totals.settings = RunSettings::For(collector.crawlerMode);
  totals.dimensions = DimensionTotalsOf(collector);
  return totals;
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

}  // namespace hitsieve
