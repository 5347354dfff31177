#ifndef HITSIEVE_CLI_RUN_PROGRESS_H_
#define HITSIEVE_CLI_RUN_PROGRESS_H_

#include <cstdio>
#include <string>
#include <vector>

#include "engine/analysis_job.h"

namespace hitsieve::cli {

// Shows a run's progress on stderr: a bar redrawn in place when stderr is a terminal, one plain
// line per event otherwise (cron mail, redirected logs). Called on the worker thread only, while
// the main thread waits for the run, so it needs no lock.
class RunProgress : public AnalysisObserver, public SaveProgressObserver {
 public:
  // `files` in the order the run reads them.
  RunProgress(std::vector<std::string> files, std::FILE* out, bool terminal);

  void Notify(int event) override;
  void SetPosition(int position) override;

  // The file being read when the run failed, or empty when the failure came later.
  std::string FileInProgress() const;
  bool SaveStarted() const { return save_started_; }
  // True once RUN_FAILED has arrived. Read after the worker has been joined.
  bool Failed() const { return failed_; }

 private:
  void DrawBar(const char* stage, int done, int total);

  std::vector<std::string> files_;
  std::FILE* out_;
  bool terminal_;
  bool bar_drawn_ = false;
  bool save_started_ = false;
  bool failed_ = false;
  int files_done_ = 0;
  int stop_at_save_step_ = 0;  // test hook, see SetPosition
};

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_RUN_PROGRESS_H_
