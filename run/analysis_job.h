#ifndef HITSIEVE_RUN_ANALYSIS_JOB_H_
#define HITSIEVE_RUN_ANALYSIS_JOB_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/dimension.h"
#include "engine/log_reader.h"
#include "engine/page_filter.h"
#include "run/log_sources.h"
#include "store/save_progress.h"

namespace hitsieve {

class CountryDatabase;
class LogFormat;
class StatsCollector;

// Run events, in the order a run posts them. 0 is never posted: receivers use it for "no event".
// A run whose database cannot take the statistics fails before RUN_STARTED.
enum RunEvent : int {
  RUN_STARTED = 1,
  FILE_DONE = 2,
  SAVE_STARTED = 4,
  SAVE_STEP = 5,
  RUN_FINISHED = 6,
  RUN_FAILED = 7,   // posted by AnalysisThread when Run ends with an exception
  RUN_STOPPED = 8,  // posted by AnalysisThread when Run was stopped before saving
};

// Receives the run events. Called on the worker thread: must be cheap and thread-safe.
class AnalysisObserver {
 public:
  virtual ~AnalysisObserver() = default;
  virtual void Notify(int event) = 0;
};

// Log file paths, in byte order of the path text.
using LogFileSet = std::set<std::string>;

// What a run read, for its summary. Filled on the worker before SAVE_STARTED.
struct RunReport {
  size_t files_read = 0;
  std::vector<std::string> skipped;  // logs whose text had been counted already
  int64_t new_bytes = 0;             // decompressed bytes counted
  int64_t new_lines = 0;
  PeriodCounts left_out;             // records outside the period, or without a date
  std::vector<std::string> notes;    // one line each
  // Per file read, in order: its lines, and how many of them were not recognised.
  struct FileLines {
    std::string path;
    int64_t lines = 0, unrecognised = 0;
  };
  std::vector<FileLines> file_lines;
};

// One analysis run: read every file into a fresh collector, then replace the statistics in
// the database (or, with `add`, add what is new in the files to them). Failures leave Run as
// exceptions; the database then keeps what it held.
struct AnalysisJob {
  ExtensionSet extensions;
  const LogFileSet* files = nullptr;             // read by Run; AnalysisThread passes a copy
  AnalysisObserver* observer = nullptr;          // must not be null
  SaveProgressObserver* save_progress = nullptr;  // may be null
  ReadProgressObserver* read_progress = nullptr;  // may be null
  // Optional: called on the worker with the collector after the last file, before saving
  // (the command line reports its sizes).
  std::function<void(const StatsCollector&)> collected;
  // Add what is new in the files to the stored statistics instead of replacing them.
  bool add = false;
  // Whether the described tables leave out the other known crawlers too. Recorded with the
  // statistics: an add under another choice (or another crawler list) is refused.
  CrawlerMode crawlers = CrawlerMode::kDescribed;
  // Count only records whose day falls in the period (no limit by default).
  Period period;
  // A file that is a statistics database (WhyNotALog) fails the run before anything is read
  // or written; with this it is left out, with a note, and the others are read.
  bool skip_databases = false;
  RunReport* report = nullptr;  // may be null
  // The dimensions counted beside the five tables (status codes, hours...).
  DimensionOptions dimensions;
  // Whether the countries of the client addresses are counted, and the country database (a
  // MaxMind DB format file) they are looked up in unless `dimensions.countries` holds one
  // already. Empty: the database that comes with the program, when there is one
  // (CountryDatabase::DefaultPath); without one no countries are counted. Opened before
  // RUN_STARTED: a file that is missing or damaged fails the run before anything is read or
  // written.
  bool count_countries = true;
  std::string country_database;
  // The format of the logs' lines; null reads them as combined, as runs always have.
  std::shared_ptr<const LogFormat> log_format;
  // Optional: when it becomes true before saving has started, Run ends within a block of
  // reading with ReadingStopped and the database is left untouched. Saving is never stopped.
  const std::atomic<bool>* stop = nullptr;

  // Performs the whole run on the calling thread.
  void Run() const;
};

// The country database at `path`, or the one that comes with the program when `path` is empty
// (null when there is none). Throws std::runtime_error naming the file when it cannot be used.
std::shared_ptr<const CountryDatabase> OpenCountryDatabase(const std::string& path);

// Why `path` must not be read as a log, or empty: it is the statistics database `database`
// itself (same device and inode, whatever the name), or it starts with the SQLite header (its
// decompressed text too, for a .gz name). Read as a log, a database adds junk days, and as
// every save changes it, every later --add would read it again. A file that cannot be opened
// is left to the reading, which reports it.
std::string WhyNotALog(const std::string& path, const std::string& database);

// Runs one AnalysisJob on a worker thread of its own. The worker catches what Run lets out,
// keeps the message and posts RUN_FAILED, or RUN_STOPPED after Stop. Owned by the UI thread;
// Join before destroying.
class AnalysisThread {
 public:
  AnalysisThread() = default;
  ~AnalysisThread();  // joins
  AnalysisThread(const AnalysisThread&) = delete;
  AnalysisThread& operator=(const AnalysisThread&) = delete;

  // REQUIRES: no run under way (Running() is false). `job` is copied; `*job.files` too.
  void Start(const AnalysisJob& job);

  // Wait for the worker, if any, to end.
  void Join();

  // Asks the run under way to stop; it does unless it has started saving. Any thread.
  void Stop() { stop_.store(true); }

  // True from Start until the worker's last event has been posted.
  bool Running() const;

  // Waits until Running() is false or `timeout` has passed; returns !Running().
  bool WaitUntilEnded(std::chrono::milliseconds timeout) const;

  // The message of the last failed run; read it after RUN_FAILED has arrived.
  std::string FailureMessage() const;

 private:
  void Body(AnalysisJob job, LogFileSet files);

  mutable std::mutex mutex_;
  mutable std::condition_variable ended_;  // notified when running_ becomes false
  std::string failure_;   // guarded by mutex_
  bool running_ = false;  // guarded by mutex_
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_RUN_ANALYSIS_JOB_H_
