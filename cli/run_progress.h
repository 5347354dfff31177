#ifndef HITSIEVE_CLI_RUN_PROGRESS_H_
#define HITSIEVE_CLI_RUN_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "run/analysis_job.h"
#include "engine/log_reader.h"

namespace hitsieve::cli {

// Shows a run's progress on stderr: a bar redrawn in place when stderr is a terminal, plain lines
// otherwise (cron mail, redirected logs): one per event, and one at each further tenth of a
// large file. Called on the worker thread only, while the main thread waits for the run, so it
// needs no lock.
class RunProgress : public AnalysisObserver,
                    public SaveProgressObserver,
                    public ReadProgressObserver {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // At most this often the bar is redrawn for progress inside a file; the engine may report
  // every few megabytes, which on a fast disk is far more often than anyone can read.
  static constexpr std::chrono::milliseconds kRedrawInterval{100};

  // `files` in the order the run reads them. `now` is the clock that throttles redraws (tests
  // pass their own).
  RunProgress(std::vector<std::string> files, std::FILE* out, bool terminal,
              Clock now = std::chrono::steady_clock::now);

  void Notify(int event) override;
  void SetPosition(int position) override;
  void FileProgress(int64_t done, int64_t size) override;

  // The file being read when the run failed, or empty when the failure came later.
  std::string FileInProgress() const;
  bool SaveStarted() const { return save_started_; }
  // False when the run failed before reading its first file (its database was unusable).
  bool RunStarted() const { return run_started_; }
  // True once RUN_FAILED has arrived. Read after the worker has been joined.
  bool Failed() const { return failed_; }
  // The run was stopped (Ctrl+C) before it saved anything.
  bool Stopped() const { return stopped_; }

 private:
  void DrawReading();
  void DrawBar(double fraction, const std::string& text);

  std::vector<std::string> files_;
  std::FILE* out_;
  bool terminal_;
  Clock now_;
  std::chrono::steady_clock::time_point last_draw_{};
  bool bar_drawn_ = false;
  bool save_started_ = false;
  bool run_started_ = false;
  bool failed_ = false;
  bool stopped_ = false;
  int files_done_ = 0;
  // The file being read (index files_done_): bytes parsed of its size, and the last tenth
  // printed as a plain line.
  int64_t file_done_ = 0;
  int64_t file_size_ = 0;
  int tenths_printed_ = 0;
  int stop_at_save_step_ = 0;  // test hook, see SetPosition
};

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_RUN_PROGRESS_H_
