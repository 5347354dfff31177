// AnalysisJob::Run on an AnalysisThread, in this process, with a recording observer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "run/analysis_job.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "store/stats_database.h"

namespace hitsieve::testing {
namespace {

constexpr int kCollected = -1;  // recorded when the job's collected callback runs

// Records events as the log-files screen would receive them: SetPosition posts SAVE_STEP.
class RecordingObserver : public AnalysisObserver, public SaveProgressObserver {
 public:
  void Notify(int event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }
  void SetPosition(int position) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      positions_.push_back(position);
    }
    Notify(SAVE_STEP);
  }
  std::vector<int> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<int> positions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return positions_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> events_, positions_;
};

// The database is process-wide and named once; every test of this file shares one file.
const fs::path& Database() {
  static const fs::path path = [] {
    const fs::path file =
        fs::temp_directory_path() / ("hitsieve-thread-test-" + std::to_string(getpid()) + ".dt");
    fs::remove(file);
    StatsDatabase::SetFileName(file.string());
    RegisterStandardEngines(SearchEngineRegistry::Instance());
    return file;
  }();
  return path;
}

class AnalysisThreadTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { fs::remove(Database()); }

  // Runs `files` to the end and returns the events, the collected marker included.
  std::vector<int> RunToEnd(const LogFileSet& files) {
    Database();
    AnalysisJob job;
    job.files = &files;
    job.observer = &observer_;
    job.save_progress = &observer_;
    job.collected = [this](const StatsCollector&) { observer_.Notify(kCollected); };
    thread_.Start(job);
    // Waking as the run ends, the caller finds every event posted, the last one included.
    EXPECT_TRUE(thread_.WaitUntilEnded(std::chrono::minutes(5)));
    const std::vector<int> events = observer_.events();
    EXPECT_TRUE(!events.empty() && (events.back() == RUN_FINISHED || events.back() == RUN_FAILED));
    EXPECT_TRUE(thread_.WaitUntilEnded(std::chrono::milliseconds(0)));
    thread_.Join();
    EXPECT_FALSE(thread_.Running());
    return events;
  }

  TempDir dir_;
  RecordingObserver observer_;
  AnalysisThread thread_;
};

const char kLine[] =
    "10.0.0.1 - - [01/Mar/2009:10:00:00 +0400] \"GET /a.html HTTP/1.1\" 200 10 \"-\" \"M\"\n";

TEST_F(AnalysisThreadTest, SuccessfulRunPostsEveryEventInOrder) {
  WriteFile(dir_ / "one.log", kLine);
  WriteFile(dir_ / "empty.log", "");  // yields no records and still posts its FILE_DONE
  WriteGzip(dir_ / "two.log.gz", kLine);
  const std::vector<int> events =
      RunToEnd({(dir_ / "one.log").string(), (dir_ / "empty.log").string(),
                (dir_ / "two.log.gz").string()});
  EXPECT_EQ((std::vector<int>{RUN_STARTED, FILE_DONE, FILE_DONE, FILE_DONE, kCollected,
                              SAVE_STARTED, SAVE_STEP, SAVE_STEP, SAVE_STEP, SAVE_STEP, SAVE_STEP,
                              RUN_FINISHED}),
            events);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), observer_.positions());
  EXPECT_EQ("", thread_.FailureMessage());
  EXPECT_EQ(std::vector<std::string>{"01/Mar/2009|2"},
            QueryRows(Database(), "SELECT date, views FROM common_stats"));
}

TEST_F(AnalysisThreadTest, EmptyFileListSavesEmptyTables) {
  WriteFile(dir_ / "one.log", kLine);
  RunToEnd({(dir_ / "one.log").string()});
  RecordingObserver second;
  AnalysisJob job;
  LogFileSet none;
  job.files = &none;
  job.observer = &second;
  job.save_progress = &second;
  thread_.Start(job);
  thread_.Join();
  EXPECT_EQ((std::vector<int>{RUN_STARTED, SAVE_STARTED, SAVE_STEP, SAVE_STEP, SAVE_STEP,
                              SAVE_STEP, SAVE_STEP, RUN_FINISHED}),
            second.events());
  for (const char* table :
       {"common_stats", "page_stats", "referer_stats", "robot_log", "query_stats"})
    EXPECT_TRUE(QueryRows(Database(), std::string("SELECT * FROM ") + table).empty()) << table;
}

TEST_F(AnalysisThreadTest, UnreadableFilePostsRunFailedWithTheMessage) {
  WriteFile(dir_ / "good.log", kLine);
  WriteFile(dir_ / "plain.gz", "not a gzip stream at all, read as it is\n");
  WriteFile(dir_ / "bad.log.gz", std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) +
                                     std::string(200, '\xff'));
  const struct {
    const char* name;
    std::vector<int> events;
    const char* message;
  } cases[] = {
      {"missing.log", {RUN_STARTED, RUN_FAILED}, "file open error"},
      {"missing.gz", {RUN_STARTED, RUN_FAILED}, "couldn`t open file"},
      {"bad.log.gz", {RUN_STARTED, RUN_FAILED}, "error reading gzip file"},
  };
  for (const auto& c : cases) {
    RecordingObserver observer;
    const LogFileSet files{(dir_ / c.name).string()};
    AnalysisJob job;
    job.files = &files;
    job.observer = &observer;
    job.save_progress = &observer;
    thread_.Start(job);
    thread_.Join();
    EXPECT_EQ(c.events, observer.events()) << c.name;
    EXPECT_EQ(c.message, thread_.FailureMessage()) << c.name;
    EXPECT_FALSE(thread_.Running()) << c.name;
  }
}

TEST_F(AnalysisThreadTest, StartTakesItsOwnCopyOfTheFileList) {
  WriteFile(dir_ / "one.log", kLine);
  LogFileSet files{(dir_ / "one.log").string()};
  Database();
  AnalysisJob job;
  job.files = &files;
  job.observer = &observer_;
  thread_.Start(job);
  files.insert((dir_ / "missing.log").string());  // too late to matter
  files.clear();
  thread_.Join();
  EXPECT_EQ((std::vector<int>{RUN_STARTED, FILE_DONE, SAVE_STARTED, RUN_FINISHED}),
            observer_.events());
}

}  // namespace
}  // namespace hitsieve::testing
