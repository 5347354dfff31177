// A replacing save of one collector: the tables emptied and written again in one transaction,
// with the day sets encoded on another core meanwhile.

#include "store/stats_saver.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>
#include <utility>

#include "engine/stats_collector.h"
#include "store/row_writers.h"
#include "store/run_settings.h"
#include "store/save_progress.h"
#include "store/stats_database.h"
#include "store/stats_merge_internal.h"

namespace hitsieve {

namespace {

// Deleted in this order, before any row is written.
constexpr const char* kTables[] = {"common_stats", "page_stats", "referer_stats", "robot_log",
                                   "query_stats"};

void ReportPosition(SaveProgressObserver* observer, int position) {
  if (observer != nullptr) observer->SetPosition(position);
}

// The work of a save that needs no database, done on another core in the order it is handed
// over while the saving thread writes rows: encoding the day sets, then freeing what has been
// written. Should no thread be had, each task runs at once on the caller. The destructor waits
// for every task handed over.
class SideWork {
 public:
  SideWork() {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread: Add runs each task itself.
    }
  }
  ~SideWork() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  SideWork(const SideWork&) = delete;
  SideWork& operator=(const SideWork&) = delete;

  void Add(std::packaged_task<void()> task) {
    if (!thread_.joinable()) {
      task();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    changed_.notify_one();
  }

  // Takes `value` over, to be destroyed on the other core.
  template <typename T>
  void Free(T&& value) {
    auto held = std::make_shared<std::remove_reference_t<T>>(std::move(value));
    Add(std::packaged_task<void()>([held = std::move(held)]() mutable { held.reset(); }));
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return closed_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      std::packaged_task<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();  // an exception is kept in the task's future
      task = {};
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::packaged_task<void()>> tasks_;  // guarded by mutex_
  bool closed_ = false;                           // guarded by mutex_
  std::thread thread_;
};

}  // namespace

StatsSaver::StatsSaver(const StatsCollector& collector, SaveProgressObserver* observer,
                       const std::vector<LogSource>* sources)
    : transaction_(StatsDatabase::Instance().session(), sqlitepp::transaction::mode::immediate),
      collector_(collector),
      observer_(observer),
      sources_(sources) {}

StatsSaver::StatsSaver(StatsCollector&& collector, SaveProgressObserver* observer,
                       const std::vector<LogSource>* sources)
    : StatsSaver(static_cast<const StatsCollector&>(collector), observer, sources) {
  spent_ = &collector;
}

void StatsSaver::save() {
  sqlitepp::session& session = StatsDatabase::Instance().session();
  merge_internal::DropKeyIndexes(session);
  for (const char* table : kTables) session << "DELETE FROM " << table;
  // A replacing run makes any database extendable: it writes the sets that adding needs.
  CreateSetTables(session);
  session << "DELETE FROM day_sets";
  session << "DELETE FROM analysed_logs";
  WriteRunSettings(session, RunSettings::For(collector_.crawlerMode));

  // Declared before anything it may free, so that it is done with them however this function
  // is left: its destructor waits for the tasks handed over.
  SideWork side;
  // Hashing and sorting every day's addresses and visitors is the one costly step that needs
  // no database: done on the other core while the statistics tables are written.
  std::packaged_task<DaySetBlobs()> encode([this] { return EncodeDaySets(collector_); });
  std::future<DaySetBlobs> day_sets = encode.get_future();
  side.Add(std::packaged_task<void()>(std::move(encode)));
  // So is preparing the dimensions' rows (their visitors hashed, in key order), in the order
  // they are written. A prepared dimension holds a few bytes a row, but one that keeps visitor
  // lists holds a hash for each (day, visitor): of those, at most `lists` are held at once, one
  // until the pages and referers are written and freed, two once the phrases are too, so that a
  // large run never holds its largest tables and many visitor lists at once.
  auto preparer = std::make_shared<DimensionPreparer>(collector_);
  std::vector<std::future<PreparedDimension>> dimensions(preparer->size());
  size_t next = 0, held = 0, lists = 0;  // held: prepared with visitor lists and not yet written
  auto prepare_ahead = [&] {
    for (; next < dimensions.size(); ++next) {
      const bool keeps = preparer->KeepsVisitors(next);
      if (keeps && held >= lists) break;
      held += keeps ? 1 : 0;
      std::packaged_task<PreparedDimension()> task(
          [preparer, k = next] { return preparer->Prepare(k); });
      dimensions[next] = task.get_future();
      side.Add(std::packaged_task<void()>(std::move(task)));
    }
  };
  // A spent collector's tables go, once written, to be freed on the other core meanwhile.
  auto spend = [this, &side](auto member) {
    if (spent_ == nullptr) return;
    side.Free(std::move(spent_->*member));
    (spent_->*member).clear();
  };

  ReportPosition(observer_, 1);
  for (const auto& [date, day] : collector_.days) CommonStatsWriter::Instance().Write(date, day);
  CommonStatsWriter::Instance().Flush();

  ReportPosition(observer_, 2);
  for (const auto& [page, stats] : collector_.pages) PageStatsWriter::Instance().Write(page, stats);
  PageStatsWriter::Instance().Flush();
  spend(&StatsCollector::pages);

  ReportPosition(observer_, 3);
  for (const auto& [host, count] : collector_.refererHosts) {
    RefererStatsWriter::Instance().Write(host, 0, count);
  }
  for (const auto& [referer, count] : collector_.referers) {
    RefererStatsWriter::Instance().Write(referer, 1, count);
  }
  RefererStatsWriter::Instance().Flush();
  spend(&StatsCollector::refererHosts);
  lists = 1;
  prepare_ahead();
  spend(&StatsCollector::referers);

  ReportPosition(observer_, 4);
  const RobotHitList& hits = collector_.robotHits;
  for (size_t k = 0; k < hits.size(); ++k) RobotLogWriter::Instance().Write(hits.ViewAt(k));
  RobotLogWriter::Instance().Flush();
  spend(&StatsCollector::robotHits);

  ReportPosition(observer_, 5);
  for (const auto& [phrase, counts] : collector_.queries) {
    QueryStatsWriter::Instance().Write(phrase, counts);
  }
  QueryStatsWriter::Instance().Flush();
  spend(&StatsCollector::queries);
  lists = 2;
  prepare_ahead();

  WriteDaySets(session, collector_, day_sets.get());
  StartReplacingDimensions(session);
  for (size_t k = 0; k < dimensions.size(); ++k) {
    PreparedDimension prepared = dimensions[k].get();
    if (preparer->KeepsVisitors(k)) --held;
    prepare_ahead();
    WriteDimension(session, prepared);
    side.Free(std::move(prepared));  // before the rows it points into
    if (spent_ != nullptr) side.Free(spent_->TakeDimensionRows(preparer->CollectorIndex(k)));
  }
  if (spent_ != nullptr) {
    // The rest (days, addresses, agents) is freed while the transaction commits.
    side.Free(std::move(*spent_));
  }
  if (sources_ != nullptr) WriteLogSources(session, *sources_);
  transaction_.commit();
}

}  // namespace hitsieve
