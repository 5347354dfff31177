#include "cli/run_progress.h"

#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace hitsieve::cli {

namespace {

constexpr int kSaveSteps = 5;
constexpr int kBarWidth = 30;

// Test hook: HITSIEVE_TEST_STOP_AT_SAVE_STEP=k makes the tool announce save position k on
// stderr and then wait forever, inside the open transaction, so that a test can kill it between
// two groups of rows and check that the database holds no mix of old and new rows.
int StopAtSaveStepFromEnvironment() {
  const char* value = std::getenv("HITSIEVE_TEST_STOP_AT_SAVE_STEP");
  return value != nullptr ? std::atoi(value) : 0;
}

}  // namespace

RunProgress::RunProgress(std::vector<std::string> files, std::FILE* out, bool terminal)
    : files_(std::move(files)),
      out_(out),
      terminal_(terminal),
      stop_at_save_step_(StopAtSaveStepFromEnvironment()) {}

void RunProgress::Notify(int event) {
  const int total = static_cast<int>(files_.size());
  switch (event) {
    case RUN_STARTED:
      if (terminal_) DrawBar("reading", 0, total);
      break;
    case FILE_DONE:
      ++files_done_;
      if (terminal_)
        DrawBar("reading", files_done_, total);
      else
        std::fprintf(out_, "file %d of %d done: %s\n", files_done_, total,
                     files_[files_done_ - 1].c_str());
      break;
    case SAVE_STARTED:
      save_started_ = true;
      if (terminal_) DrawBar("saving", 0, kSaveSteps);
      break;
    case RUN_FAILED:
      failed_ = true;
      [[fallthrough]];
    case RUN_FINISHED:
      if (bar_drawn_) std::fputc('\n', out_);
      bar_drawn_ = false;
      break;
    default:
      break;
  }
  std::fflush(out_);
}

void RunProgress::SetPosition(int position) {
  if (position == stop_at_save_step_) {
    std::fprintf(out_, "%stest hook: stopped at save step %d\n", bar_drawn_ ? "\n" : "",
                 position);
    std::fflush(out_);
    for (;;) pause();
  }
  if (terminal_)
    DrawBar("saving", position, kSaveSteps);
  else
    std::fprintf(out_, "saving %d of %d\n", position, kSaveSteps);
  std::fflush(out_);
}

std::string RunProgress::FileInProgress() const {
  if (save_started_ || files_done_ >= static_cast<int>(files_.size())) return {};
  return files_[files_done_];
}

void RunProgress::DrawBar(const char* stage, int done, int total) {
  const int filled = total > 0 ? done * kBarWidth / total : kBarWidth;
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, '-');
  std::fprintf(out_, "\r[%s] %s %d/%d\033[K", bar.c_str(), stage, done, total);
  bar_drawn_ = true;
}

}  // namespace hitsieve::cli
