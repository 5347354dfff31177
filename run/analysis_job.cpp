#include "run/analysis_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/dimensions/country_database.h"
#include "engine/log_format/log_format.h"
#include "engine/stats_collector.h"
#include "run/log_overlap.h"
#include "store/run_settings.h"
#include "store/stats_database.h"
#include "store/stats_merge.h"
#include "store/stats_saver.h"

namespace hitsieve {

namespace {

// The first 16 bytes of every SQLite database file.
constexpr char kSqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                    'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

bool StartsWithSqliteHeader(const char* start, size_t size) {
  return size >= sizeof kSqliteHeader && std::memcmp(start, kSqliteHeader, sizeof kSqliteHeader) == 0;
}

// The file's own first bytes; only a regular file is read (a pipe must not hang the check).
bool FileStartsWithSqliteHeader(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char start[sizeof kSqliteHeader];
  size_t got = 0;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    while (got < sizeof start) {
      const ssize_t n = ::read(fd, start + got, sizeof start - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  return StartsWithSqliteHeader(start, got);
}

}  // namespace

std::shared_ptr<const CountryDatabase> OpenCountryDatabase(const std::string& path) {
  const std::string file = path.empty() ? CountryDatabase::DefaultPath() : path;
  if (file.empty()) return nullptr;
  return std::make_shared<const CountryDatabase>(file);
}

std::string WhyNotALog(const std::string& path, const std::string& database) {
  struct stat log, db;
  if (::stat(path.c_str(), &log) == 0 && ::stat(database.c_str(), &db) == 0 &&
      log.st_dev == db.st_dev && log.st_ino == db.st_ino) {
    return "this is the statistics database itself, not a log";
  }
  if (FileStartsWithSqliteHeader(path)) return "an SQLite database, not a log";
  if (IsGzipName(path)) {
    try {
      LogText text(path);
      char start[sizeof kSqliteHeader];
      size_t got = 0;
      while (got < sizeof start) {
        const size_t n = text.Read(start + got, sizeof start - got);
        if (n == 0) break;
        got += n;
      }
      if (StartsWithSqliteHeader(start, got)) return "a compressed SQLite database, not a log";
    } catch (const std::exception&) {
      // Damaged or unreadable: the reading reports it.
    }
  }
  return {};
}

void AnalysisJob::Run() const {
  if (observer == nullptr) throw std::invalid_argument("analysis run without an observer");
  // REQUIRES: `*files` stays unchanged for the run; AnalysisThread hands the worker a copy
  // taken on the caller's thread, so nothing a screen does later can change a running run.
  static const LogFileSet kNoFiles;
  const LogFileSet& paths = files != nullptr ? *files : kNoFiles;

  // A database that cannot take the statistics fails the run now, not after every log has
  // been read. Before RUN_STARTED, so that receivers can tell its failure from a log's.
  StatsDatabase::CheckCanSave();
  // A database among the logs fails the run before anything is read or written.
  std::vector<std::string> not_logs;
  for (const std::string& path : paths) {
    const std::string why = WhyNotALog(path, StatsDatabase::Path());
    if (why.empty()) continue;
    if (!skip_databases) throw std::runtime_error(path + ": " + why);
    not_logs.push_back(path + ": " + why + "; left out");
  }
  if (add && !StatsDatabase::NotCreatedYet()) {
    // Refused before anything is read; the save checks again inside its transaction.
    sqlitepp::session& session = StatsDatabase::Instance().session();
    const RunSettings offered = RunSettings::For(crawlers);
    if (const std::string why = WhyNotAddable(LoadRunSettings(session), offered); !why.empty()) {
      throw std::runtime_error(RefusedAddMessage(why, offered));
    }
  }
  DimensionOptions counted = dimensions;
  if (!count_countries) counted.countries = nullptr;
  else if (counted.countries == nullptr) counted.countries = OpenCountryDatabase(country_database);
  observer->Notify(RUN_STARTED);
  RunReport unreported;
  RunReport& report_to = report != nullptr ? *report : unreported;
  report_to = RunReport{};
  report_to.notes = not_logs;
  StatsCollector collector;
  collector.pageExtensions = extensions;
  collector.crawlerMode = crawlers;
  collector.SetLogFormat(log_format);
  collector.SetDimensions(MakeDimensions(counted));
  // A file named through two paths ("a/../b.log" and "b.log", or a hard link) is read once, at
  // the first of its paths in the set's order; the others are done when it is.
  std::vector<std::string> unique;
  std::vector<int> done_events;  // FILE_DONE events per unique file: itself and its repeats
  std::set<std::pair<dev_t, ino_t>> seen;
  for (const std::string& path : paths) {
    if (!not_logs.empty() && !WhyNotALog(path, StatsDatabase::Path()).empty()) {
      // Left out, but done in its place in the order.
      if (done_events.empty()) {
        observer->Notify(FILE_DONE);
      } else {
        ++done_events.back();
      }
      continue;
    }
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && !seen.insert({info.st_dev, info.st_ino}).second) {
      ++done_events.back();  // the first path is never a repeat
      continue;
    }
    unique.push_back(path);
    done_events.push_back(1);
  }
  // Each file's lines and the lines of it not recognised, from the collector's running counts.
  int64_t lines_before = 0, unrecognised_before = 0;
  auto notify_done = [&, this](size_t k) {
    const int64_t lines = collector.records() + collector.lines_without_record();
    const int64_t unrecognised = collector.unrecognised_lines();
    report_to.file_lines.push_back(
        {unique[k], lines - lines_before, unrecognised - unrecognised_before});
    lines_before = lines;
    unrecognised_before = unrecognised;
    for (int n = 0; n < done_events[k]; ++n) observer->Notify(FILE_DONE);
  };
  std::vector<LogSource> sources;
  std::vector<LogSource> stored;
  bool remembered_more = false;  // a copy of counted text, to be remembered though nothing is new
  if (add || period.Limited()) {
    // Each file is read from where the known text ends, or whole, on the calling thread. A
    // database not created yet remembers nothing, and is not created before the save.
    if (add && !StatsDatabase::NotCreatedYet())
      stored = sources = LoadLogSources(StatsDatabase::Instance().session());
    // Where the text of a remembered log may still be found, besides its last name.
    LogStarts starts(unique);
    for (size_t k = 0; k < unique.size(); ++k) {
      if (stop != nullptr && stop->load()) throw ReadingStopped();
      const std::string& path = unique[k];
      std::vector<LogSource> alone;  // a replacing run reads every file whole
      // Without a format of the run's own, each log added to is read in the format it was
      // counted in; the others in the default one.
      const bool follow = add && !log_format;
      if (follow) collector.SetLogFormat(nullptr);
      const LogOutcome outcome =
          ReadNewText(collector, path, period, add ? sources : alone, report_to.left_out,
                      /*hold_back_unfinished=*/add, add ? &starts : nullptr, follow);
      remembered_more = remembered_more || outcome.remembered;
      sources.insert(sources.end(), alone.begin(), alone.end());
      if (outcome.skipped) {
        report_to.skipped.push_back(path);
      } else {
        ++report_to.files_read;
      }
      report_to.new_bytes += outcome.new_bytes;
      report_to.new_lines += outcome.new_lines;
      report_to.notes.insert(report_to.notes.end(), outcome.notes.begin(), outcome.notes.end());
      notify_done(k);
    }
  } else {
    // Each file is described from the text the reading goes through anyway (decompressed, for
    // gzip), exactly as far as it was parsed: a gzip file is never decompressed twice.
    const std::vector<std::string>& list = unique;
    std::vector<LogDescriber> describers(list.size());
    CollectOptions options;
    options.file_text = [&describers](size_t file, std::string_view text) {
      describers[file].Feed(text);
    };
    // Reads the files in blocks, on every core, into the one collector of the run: a large
    // file on all cores, several files side by side, merged in the set's order.
    options.stop = stop;
    size_t next_done = 0;
    CollectFiles(collector, list, options, read_progress, [&] { notify_done(next_done++); });
    std::vector<LogSource> described(list.size());
    const std::shared_ptr<const LogFormat> format = collector.log_format();
    for (size_t k = 0; k < list.size(); ++k) {
      described[k] = describers[k].Describe(list[k]);
      if (format) described[k].format = format->text();
    }
    sources = std::move(described);
    report_to.files_read = list.size();
    for (const LogSource& source : sources) {
      report_to.new_bytes += source.bytes;
      report_to.new_lines += source.lines;
    }
  }
  // Reported before saving starts, so a caller can print the sizes even if the save fails.
  if (collected) collected(collector);

  // The last moment to stop: from here on the database is written.
  if (stop != nullptr && stop->load()) throw ReadingStopped();
  observer->Notify(SAVE_STARTED);
  if (add && report_to.files_read == 0 && !remembered_more) {
    // Nothing new: the stored statistics stay as they are, untouched.
  } else if (add) {
    StatsTotals added = StatsTotals::FromCollector(collector);
    for (const std::string& name : DimensionsLeftOut(StatsDatabase::Instance().session(), added)) {
      report_to.notes.push_back("\"" + name + "\" is not counted: the stored statistics were "
                                "counted without it (a run without --add counts it)");
    }
    SaveTotals(StatsDatabase::Instance().session(), std::move(added), sources, /*replace=*/false,
               save_progress, &stored);
  } else {
    // An exception from here on destroys the saver uncommitted, which rolls its transaction back.
    StatsSaver saver(std::move(collector), save_progress, &sources);
    saver.save();
  }
  observer->Notify(RUN_FINISHED);
}

AnalysisThread::~AnalysisThread() { Join(); }

void AnalysisThread::Start(const AnalysisJob& job) {
  if (Running()) throw std::logic_error("an analysis run is already under way");
  Join();  // the previous worker has posted its last event; collect the thread
  LogFileSet files = job.files != nullptr ? *job.files : LogFileSet{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_.clear();
    running_ = true;
  }
  stop_.store(false);
  AnalysisJob copy = job;
  copy.stop = &stop_;
  thread_ = std::thread(&AnalysisThread::Body, this, std::move(copy), std::move(files));
}

void AnalysisThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool AnalysisThread::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool AnalysisThread::WaitUntilEnded(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return ended_.wait_for(lock, timeout, [this] { return !running_; });
}

std::string AnalysisThread::FailureMessage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

// The worker's top frame: nothing may leave it, or the process would terminate.
void AnalysisThread::Body(AnalysisJob job, LogFileSet files) {
  job.files = &files;
  bool failed = false;
  bool stopped = false;
  std::string message;
  try {
    job.Run();
  } catch (const ReadingStopped&) {
    stopped = true;
  } catch (const std::exception& e) {
    failed = true;
    message = e.what();
  } catch (...) {
    failed = true;
    message = "unknown error";
  }
  if (stopped) {
    try {
      if (job.observer != nullptr) job.observer->Notify(RUN_STOPPED);
    } catch (...) {
      // As below.
    }
  } else if (failed) {
    {
      // Kept before the event is posted, so a receiver of RUN_FAILED always finds it.
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = message;
    }
    try {
      if (job.observer != nullptr) job.observer->Notify(RUN_FAILED);
    } catch (...) {
      // An observer that throws has nobody left to tell.
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  ended_.notify_all();
}

}  // namespace hitsieve
