#include "run/analysis_job.h"

#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/stats_collector.h"
#include "store/stats_saver.h"

namespace hitsieve {

void AnalysisJob::Run() const {
  if (observer == nullptr) throw std::invalid_argument("analysis run without an observer");
  // REQUIRES: `*files` stays unchanged for the run; AnalysisThread hands the worker a copy
  // taken on the caller's thread, so nothing a screen does later can change a running run.
  static const LogFileSet kNoFiles;
  const LogFileSet& paths = files != nullptr ? *files : kNoFiles;

  observer->Notify(RUN_STARTED);
  StatsCollector collector;
  collector.pageExtensions = extensions;
  // Reads the files in blocks, on every core, into the one collector of the run: a large file
  // on all cores, several files side by side, merged in the set's order.
  CollectFiles(collector, std::vector<std::string>(paths.begin(), paths.end()), CollectOptions{},
               read_progress, [this] { observer->Notify(FILE_DONE); });
  // Reported before saving starts, so a caller can print the sizes even if the save fails.
  if (collected) collected(collector);

  observer->Notify(SAVE_STARTED);
  // An exception from here on destroys the saver uncommitted, which rolls its transaction back.
  StatsSaver saver(collector, save_progress);
  saver.save();
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
  thread_ = std::thread(&AnalysisThread::Body, this, job, std::move(files));
}

void AnalysisThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool AnalysisThread::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

std::string AnalysisThread::FailureMessage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

// The worker's top frame: nothing may leave it, or the process would terminate.
void AnalysisThread::Body(AnalysisJob job, LogFileSet files) {
  job.files = &files;
  bool failed = false;
  std::string message;
  try {
    job.Run();
  } catch (const std::exception& e) {
    failed = true;
    message = e.what();
  } catch (...) {
    failed = true;
    message = "unknown error";
  }
  if (failed) {
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
}

}  // namespace hitsieve
