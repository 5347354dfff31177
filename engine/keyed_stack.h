// KeyedStack: the keyed tables of many parts (whole files, or a gzip file's segments) merged
// as a merge sort merges runs, and put into the run's maps once at the end.
#ifndef HITSIEVE_ENGINE_KEYED_STACK_H_
#define HITSIEVE_ENGINE_KEYED_STACK_H_

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/stats_collector.h"
#include "engine/task_list.h"

namespace hitsieve {

// The keyed tables (pages, referers, hosts, phrases) of whole files, or of a gzip file's
// segments, each part's sorted into runs (StatsCollector::FinishToRuns) and merged as a merge
// sort merges runs. Merging each part in turn into all those before it would walk their keys
// once per part, which costs the parts times the keys; here a part's runs are merged only with
// their neighbour's of about their size, which keeps the runs waiting few (each at most half
// the one before it) and costs each key a merge per doubling. Only neighbours are merged, the
// earlier absorbing the later, so a phrase keeps the spelling of its first part. The runs go
// into the maps once, at the end.
class KeyedStack {
 public:
  // `part`: the next file's collector, its keyed tables in runs, the rest absorbed already.
  void Push(std::unique_ptr<StatsCollector> part) {
    parts_.push_back(std::move(part));
    while (parts_.size() >= 2 &&
           2 * parts_.back()->RunKeys() >= parts_[parts_.size() - 2]->RunKeys()) {
      StatsCollector& earlier = *parts_[parts_.size() - 2];
      for (const StatsCollector::Keyed table : StatsCollector::kKeyed) {
        earlier.AbsorbRun(*parts_.back(), table);
      }
      parts_.pop_back();
    }
  }

  // Merges what waits into `collector`'s tables, which come before it: each table on its own,
  // on `threads` threads.
  void MergeInto(StatsCollector& collector, unsigned threads) {
    if (parts_.empty()) return;
    TaskList tasks;
    for (const StatsCollector::Keyed table : StatsCollector::kKeyed) {
      tasks.Add([this, &collector, table] {
        collector.Finish(table);
        for (size_t k = parts_.size() - 1; k > 0; --k) {
          parts_[k - 1]->AbsorbRun(*parts_[k], table);
        }
        collector.AbsorbTable(*parts_[0], table);  // the run straight into the map
      });
    }
    tasks.Run(std::clamp(threads, 1u, 4u),
              [&tasks](std::unique_lock<std::mutex>& lock) { tasks.changed().wait(lock); });
    parts_.clear();
  }

 private:
  std::vector<std::unique_ptr<StatsCollector>> parts_;  // in file order
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_KEYED_STACK_H_
