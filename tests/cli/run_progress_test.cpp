// The command line's progress display, fed the calls a run makes.

#include "cli/run_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace hitsieve::cli {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// One call on the observer interfaces; exactly one of event, position, size/done is used.
struct Call {
  int event = 0;
  int position = 0;
  int64_t done = -1, size = -1;
};
Call Event(int event) { return {event}; }
Call Position(int position) { return {0, position}; }
Call Read(int64_t done, int64_t size) { return {0, 0, done, size}; }

// Collects what a RunProgress writes, and hands out what each call added.
class Capture {
 public:
  Capture() : file_(open_memstream(&buffer_, &size_)) {}
  ~Capture() {
    std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() { return file_; }
  std::string Since() {
    std::fflush(file_);
    std::string added(buffer_ + taken_, size_ - taken_);
    taken_ = size_;
    return added;
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0, taken_ = 0;
  std::FILE* file_;
};

void Apply(RunProgress& progress, const Call& call) {
  if (call.event != 0)
    progress.Notify(call.event);
  else if (call.position != 0)
    progress.SetPosition(call.position);
  else
    progress.FileProgress(call.done, call.size);
}

class RunProgressTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("HITSIEVE_TEST_STOP_AT_SAVE_STEP"); }
};

TEST_F(RunProgressTest, PlainLinesAtEachFurtherTenthOfAFileAndPerEvent) {
  const struct {
    const char* label;
    Call call;
    const char* output;
  } steps[] = {
      {"start", Event(RUN_STARTED), ""},
      {"opened", Read(0, 1000), ""},
      {"5% is no tenth yet", Read(50, 1000), ""},
      {"10%", Read(100, 1000), "file 1 of 2 at 10%: /d/a.log\n"},
      {"still in the same tenth", Read(199, 1000), ""},
      {"a jump over tenths is one line", Read(420, 1000), "file 1 of 2 at 40%: /d/a.log\n"},
      {"95%", Read(950, 1000), "file 1 of 2 at 90%: /d/a.log\n"},
      {"the end is the done line's", Read(1000, 1000), ""},
      {"first file done", Event(FILE_DONE), "file 1 of 2 done: /d/a.log\n"},
      {"second file counts its own tenths", Read(0, 10), ""},
      {"half of the second", Read(5, 10), "file 2 of 2 at 50%: /d/b.log\n"},
      {"more than its size", Read(20, 10), ""},
      {"second file done", Event(FILE_DONE), "file 2 of 2 done: /d/b.log\n"},
      {"read after the last file", Read(5, 10), ""},
      {"saving", Event(SAVE_STARTED), ""},
      {"position", Position(3), "saving 3 of 5\n"},
      {"finished", Event(RUN_FINISHED), ""},
  };
  Capture out;
  RunProgress progress({"/d/a.log", "/d/b.log"}, out.file(), /*terminal=*/false);
  for (const auto& step : steps) {
    Apply(progress, step.call);
    EXPECT_EQ(step.output, out.Since()) << step.label;
  }
}

TEST_F(RunProgressTest, EmptyFileWritesOnlyItsDoneLine) {
  Capture out;
  RunProgress progress({"/d/empty.log"}, out.file(), /*terminal=*/false);
  for (const Call& call : {Event(RUN_STARTED), Read(0, 0), Read(0, 0), Event(FILE_DONE)})
    Apply(progress, call);
  EXPECT_EQ("file 1 of 1 done: /d/empty.log\n", out.Since());
}

// The bar is 30 wide: a fraction f of the whole run fills floor(30 f) places.
TEST_F(RunProgressTest, TerminalBarShowsPositionInsideTheFileAtMostTenTimesASecond) {
  const std::string empty(30, '-');
  const struct {
    const char* label;
    int at_ms;
    Call call;
    std::string output;
  } steps[] = {
      {"start", 1000, Event(RUN_STARTED), "\r[" + empty + "] reading 0/2 a.log 0%\033[K"},
      {"opened soon after", 1010, Read(0, 1000), ""},
      {"a block soon after", 1050, Read(300, 1000), ""},
      {"a block after 200 ms", 1200, Read(420, 1000),
       "\r[######" + std::string(24, '-') + "] reading 0/2 a.log 42%\033[K"},
      {"a block 50 ms later", 1250, Read(900, 1000), ""},
      {"file done is always drawn", 1260, Event(FILE_DONE),
       "\r[" + std::string(15, '#') + std::string(15, '-') + "] reading 1/2 b.log 0%\033[K"},
      {"exactly one interval later", 1360, Read(500, 1000),
       "\r[" + std::string(22, '#') + std::string(8, '-') + "] reading 1/2 b.log 50%\033[K"},
      {"last file done", 1370, Event(FILE_DONE),
       "\r[" + std::string(30, '#') + "] reading 2/2\033[K"},
      {"saving", 1380, Event(SAVE_STARTED), "\r[" + empty + "] saving 0/5\033[K"},
      {"position", 1390, Position(2),
       "\r[" + std::string(12, '#') + std::string(18, '-') + "] saving 2/5\033[K"},
      {"finished ends the line", 1400, Event(RUN_FINISHED), "\n"},
  };
  Clock::time_point now{};
  Capture out;
  RunProgress progress({"/d/a.log", "/d/b.log"}, out.file(), /*terminal=*/true,
                       [&now] { return now; });
  for (const auto& step : steps) {
    now = Clock::time_point(milliseconds(step.at_ms));
    Apply(progress, step.call);
    EXPECT_EQ(step.output, out.Since()) << step.label;
  }
}

TEST_F(RunProgressTest, TerminalBarShowsAShortPrintableName) {
  const std::string long_name = std::string(50, 'x') + "-tail.log";
  const struct {
    const char* label;
    std::string path;
    std::string shown;
  } cases[] = {
      {"plain", "/logs/access.log", "access.log"},
      {"escape sequence", "/logs/\033[2Jevil.log", "?[2Jevil.log"},
      {"long name keeps its end", "/logs/" + long_name, "..." + long_name.substr(22)},
      {"no cut inside a character", "/logs/yyyyy\xD0\xB6" + std::string(36, 'z'),
       "..." + std::string(36, 'z')},
  };
  for (const auto& c : cases) {
    Capture out;
    RunProgress progress({c.path}, out.file(), /*terminal=*/true);
    progress.Notify(RUN_STARTED);
    EXPECT_EQ("\r[" + std::string(30, '-') + "] reading 0/1 " + c.shown + " 0%\033[K", out.Since())
        << c.label;
  }
}

}  // namespace
}  // namespace hitsieve::cli
