// StatsSaver: writes one finished run's statistics over the database's in one transaction.

#ifndef HITSIEVE_STORE_STATS_SAVER_H_
#define HITSIEVE_STORE_STATS_SAVER_H_

#include <vector>

#include "store/sqlitepp/transaction.h"
#include "store/stats_merge.h"

namespace hitsieve {

class StatsCollector;
class SaveProgressObserver;

// Replaces the five statistics tables with one collector's aggregates in one transaction, and
// with them the day sets and the remembered logs (`sources`, may be null for none).
// Constructing it begins the transaction; destroying it uncommitted rolls back. Worker thread.
class StatsSaver {
 public:
  StatsSaver(const StatsCollector& collector, SaveProgressObserver* observer,
             const std::vector<LogSource>* sources = nullptr);
  // As above, for a collector not needed after the save: each of its tables is freed on
  // another core once written, and what is left of it while the transaction commits, so that
  // a large run does not end freeing memory on one core. `collector` is left moved from.
  StatsSaver(StatsCollector&& collector, SaveProgressObserver* observer,
             const std::vector<LogSource>* sources = nullptr);

  // Delete the old rows, write the new ones (positions 1 to 5), commit.
  void save();

 private:
  sqlitepp::transaction transaction_;
  const StatsCollector& collector_;
  SaveProgressObserver* observer_;
  const std::vector<LogSource>* sources_;
  StatsCollector* spent_ = nullptr;  // the collector, when it may be emptied
};

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_STATS_SAVER_H_
