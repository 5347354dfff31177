#include "cli/run_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "cli/text_output.h"

namespace hitsieve::cli {

namespace {

constexpr int kSaveSteps = 5;
constexpr int kBarWidth = 30;
// A longer file name is shortened on the bar, so that the bar keeps to one terminal line
// (a wrapped line cannot be redrawn in place with "\r").
constexpr size_t kMaxNameBytes = 40;

// Test hook: HITSIEVE_TEST_STOP_AT_SAVE_STEP=k makes the tool announce save position k on
// stderr and then wait forever, inside the open transaction, so that a test can kill it between
// two groups of rows and check that the database holds no mix of old and new rows.
int StopAtSaveStepFromEnvironment() {
  const char* value = std::getenv("HITSIEVE_TEST_STOP_AT_SAVE_STEP");
  return value != nullptr ? std::atoi(value) : 0;
}

// The last component of `path`, its end kept when too long, never cut inside a UTF-8 sequence.
std::string ShortName(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() <= kMaxNameBytes) return PrintableText(name);
  size_t start = name.size() - (kMaxNameBytes - 3);
  while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xC0) == 0x80) ++start;
  return "..." + PrintableText(std::string_view(name).substr(start));
}

}  // namespace

RunProgress::RunProgress(std::vector<std::string> files, std::FILE* out, bool terminal,
                         Clock now)
    : files_(std::move(files)),
      out_(out),
      terminal_(terminal),
      now_(std::move(now)),
      stop_at_save_step_(StopAtSaveStepFromEnvironment()) {}

void RunProgress::Notify(int event) {
  const int total = static_cast<int>(files_.size());
  switch (event) {
    case RUN_STARTED:
      run_started_ = true;
      if (terminal_) DrawReading();
      break;
    case FILE_DONE:
      ++files_done_;
      file_done_ = file_size_ = 0;
      tenths_printed_ = 0;
      if (terminal_)
        DrawReading();
      else if (files_done_ <= total)
        std::fprintf(out_, "file %d of %d done: %s\n", files_done_, total,
                     PrintableText(files_[files_done_ - 1]).c_str());
      break;
    case SAVE_STARTED:
      save_started_ = true;
      if (terminal_) DrawBar(0, "saving 0/" + std::to_string(kSaveSteps));
      break;
    case RUN_STOPPED:
      stopped_ = true;
      [[fallthrough]];
    case RUN_FAILED:
      failed_ = failed_ || event == RUN_FAILED;
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
    DrawBar(static_cast<double>(position) / kSaveSteps,
            "saving " + std::to_string(position) + "/" + std::to_string(kSaveSteps));
  else
    std::fprintf(out_, "saving %d of %d\n", position, kSaveSteps);
  std::fflush(out_);
}

// The engine may call this every few megabytes: the bar is redrawn at most every
// kRedrawInterval, and a plain line is written only when the file has passed a further tenth
// (the end of a file is its FILE_DONE line, so 100% is never written here).
void RunProgress::FileProgress(int64_t done, int64_t size) {
  const int total = static_cast<int>(files_.size());
  if (files_done_ >= total || size <= 0) return;
  file_done_ = std::clamp<int64_t>(done, 0, size);
  file_size_ = size;
  if (terminal_) {
    if (now_() - last_draw_ < kRedrawInterval) return;
    DrawReading();
  } else {
    const int tenths = static_cast<int>(file_done_ * 10 / file_size_);
    if (tenths <= tenths_printed_ || tenths >= 10) return;
    tenths_printed_ = tenths;
    std::fprintf(out_, "file %d of %d at %d%%: %s\n", files_done_ + 1, total, tenths * 10,
                 PrintableText(files_[files_done_]).c_str());
  }
  std::fflush(out_);
}

std::string RunProgress::FileInProgress() const {
  if (!run_started_ || save_started_ || files_done_ >= static_cast<int>(files_.size())) return {};
  return files_[files_done_];
}

// "reading 1/3 access.log 42%": the files done, then the file being read and how far.
void RunProgress::DrawReading() {
  const int total = static_cast<int>(files_.size());
  std::string text = "reading " + std::to_string(files_done_) + "/" + std::to_string(total);
  double fraction = 1;
  if (files_done_ < total) {
    const double in_file = file_size_ > 0 ? static_cast<double>(file_done_) / file_size_ : 0;
    fraction = (files_done_ + in_file) / total;
    text += " " + ShortName(files_[files_done_]) + " " +
            std::to_string(static_cast<int>(in_file * 100)) + "%";
  }
  DrawBar(fraction, text);
}

void RunProgress::DrawBar(double fraction, const std::string& text) {
  const int filled = std::clamp(static_cast<int>(fraction * kBarWidth), 0, kBarWidth);
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, '-');
  std::fprintf(out_, "\r[%s] %s\033[K", bar.c_str(), text.c_str());
  bar_drawn_ = true;
  last_draw_ = now_();
}

}  // namespace hitsieve::cli
