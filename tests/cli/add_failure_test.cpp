// Adding and merging when something goes wrong, and the rules around them: a failed --add or
// merge leaves the database byte for byte as it was (remembered logs included), old files are
// refused, merge order matters, periods count only their days.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

std::string Hit(const std::string& day, const std::string& url, const std::string& agent = "Mozilla/5.0",
                const std::string& referer = "-", const std::string& ip = "10.0.0.1") {
  return ip + " - - [" + day + ":10:00:00 +0400] \"GET " + url + " HTTP/1.1\" 200 10 \"" +
         referer + "\" \"" + agent + "\"\n";
}

std::string Pages(const std::string& day, int count, const std::string& prefix) {
  std::string text;
  for (int i = 0; i < count; ++i) text += Hit(day, "/" + prefix + std::to_string(i) + ".html");
  return text;
}


class AddFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "a.log", Pages("01/Mar/2010", 300, "a"));
    WriteFile(dir_ / "b.log", Pages("02/Mar/2010", 300, "b"));
    const CliResult first = RunCli(dir_.path(), {"analyse", "--db", "s.dt", "a.log"});
    ASSERT_EQ(0, first.status) << first.err;
    bytes_ = ReadFile(db_);
  }
  CliResult Add(std::vector<std::string> files, const std::vector<std::string>& env = {}) {
    std::vector<std::string> args = {"analyse", "--add", "--db", "s.dt"};
    args.insert(args.end(), files.begin(), files.end());
    return RunCli(dir_.path(), args, env);
  }

  TempDir dir_;
  fs::path db_ = dir_ / "s.dt";
  std::string bytes_;
};

TEST_F(AddFailure, DamagedGzipOrLockedDatabaseLeavesTheFileByteForByte) {
  // b.log would be new; the damaged compressed log after it fails the run.
  std::string text = Pages("03/Mar/2010", 2000, "c");
  WriteGzip(dir_ / "c.log.gz", text);
  std::string gz = ReadFile(dir_ / "c.log.gz");
  for (size_t i = gz.size() / 3; i < gz.size() / 3 + 64; ++i) gz[i] = '\xff';
  WriteFile(dir_ / "c.log.gz", gz);
  CliResult run = Add({"b.log", "c.log.gz"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("c.log.gz")) << run.err;
  EXPECT_TRUE(bytes_ == ReadFile(db_)) << "the file changed";

  // Another process holds the write lock for the whole run.
  sqlite3* other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
  run = Add({"b.log"});
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(bytes_ == ReadFile(db_)) << "the file changed";

  // Nothing was remembered as read: the same files add once the obstacle is gone.
  fs::remove(dir_ / "c.log.gz");
  run = Add({"b.log"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ((Rows{"01/Mar/2010|300", "02/Mar/2010|300"}),
            QueryRows(db_, "SELECT date, views FROM common_stats ORDER BY rec_id"));
}

TEST_F(AddFailure, KillDuringTheSaveLeavesTheFileByteForByte) {
  for (int step = 1; step <= 5; ++step) {
    SCOPED_TRACE("killed at save step " + std::to_string(step));
    TempDir io;
    const pid_t pid = StartCli(dir_.path(), {"analyse", "--add", "--db", "s.dt", "b.log"},
                               io / "out", io / "err",
                               {"HITSIEVE_TEST_STOP_AT_SAVE_STEP=" + std::to_string(step)});
    const std::string marker = "stopped at save step " + std::to_string(step);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadFile(io / "err").find(marker) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool reached = ReadFile(io / "err").find(marker) != std::string::npos;
    kill(pid, SIGKILL);
    EXPECT_EQ(-SIGKILL, WaitForExit(pid));
    ASSERT_TRUE(reached) << ReadFile(io / "err");
    Exec(db_, "SELECT count(*) FROM common_stats");  // rolls the hot journal back
    EXPECT_TRUE(bytes_ == ReadFile(db_)) << "the file changed";
  }
}

TEST_F(AddFailure, OldFilesAreRefusedUntilAReplacingRunMakesThemExtendable) {
  Exec(db_, "DROP TABLE day_sets");
  bytes_ = ReadFile(db_);
  CliResult run = Add({"b.log"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("run analyse once without --add")) << run.err;
  EXPECT_TRUE(bytes_ == ReadFile(db_)) << "the file changed";

  // Neither a part nor a target without the tables can be merged.
  TempDir other;
  ASSERT_EQ(0, RunCli(other.path(), {"analyse", "--db", "p.dt", (dir_ / "b.log").string()}).status);
  run = RunCli(dir_.path(), {"merge", "--db", "s.dt", (other / "p.dt").string()});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(bytes_ == ReadFile(db_)) << "the file changed";
  const std::string part = ReadFile(other / "p.dt");
  run = RunCli(other.path(), {"merge", "--db", "p.dt", (dir_ / "s.dt").string()});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("written without the tables")) << run.err;
  EXPECT_TRUE(part == ReadFile(other / "p.dt")) << "the file changed";

  ASSERT_EQ(0, RunCli(dir_.path(), {"analyse", "--db", "s.dt", "a.log"}).status);
  run = Add({"a.log", "b.log"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("added 1 file, skipped 1")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("already analysed: " + (dir_ / "a.log").string()));
}

TEST(MergeOrder, PartsAddInTheOrderGivenAndCountedLogsAreSkippedOrRefused) {
  TempDir dir;
  const std::string google = "Mozilla/5.0 (compatible; Googlebot/2.1)";
  // Robot rows and a phrase's spelling depend on which part comes first.
  WriteFile(dir / "a.log", Hit("01/Mar/2010", "/x.html", google) +
                               Hit("01/Mar/2010", "/", "Mozilla", "http://www.google.com/search?q=Weather", "10.0.0.7"));
  WriteFile(dir / "b.log", Hit("01/Mar/2010", "/y.html", google) +
                               Hit("01/Mar/2010", "/", "Opera", "http://www.google.com/search?q=weather", "10.0.0.7"));
  for (const char* name : {"a", "b"}) {
    ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", std::string(name) + ".dt", std::string(name) + ".log"}).status);
  }
  ASSERT_EQ(0, RunCli(dir.path(), {"merge", "--db", "ba.dt", "b.dt", "a.dt"}).status);
  // One run over the same lines in the same order: b's log first.
  fs::create_directory(dir / "ref");
  fs::copy_file(dir / "b.log", dir / "ref" / "1.log");
  fs::copy_file(dir / "a.log", dir / "ref" / "2.log");
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "ref.dt", "ref/1.log", "ref/2.log"}).status);
  EXPECT_EQ(DumpTables(dir / "ref.dt"), DumpTables(dir / "ba.dt"));
  EXPECT_EQ((Rows{"weather|2"}), QueryRows(dir / "ba.dt", "SELECT query, total FROM query_stats"));
  EXPECT_EQ((Rows{"/y.html", "/x.html"}), QueryRows(dir / "ba.dt", "SELECT action FROM robot_log ORDER BY rec_id"));
  EXPECT_EQ((Rows{"01/Mar/2010|1|2"}), QueryRows(dir / "ba.dt", "SELECT date, ips, visitors FROM common_stats"));

  // a.dt's log is counted already: skipped. A part that counted a grown copy of it shares
  // its first lines and is refused, leaving the target as it was.
  CliResult run = RunCli(dir.path(), {"merge", "--db", "ba.dt", "a.dt"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.out.find("already merged: a.dt")) << run.out;
  WriteFile(dir / "a.log", ReadFile(dir / "a.log") + Hit("02/Mar/2010", "/z.html"));
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "a2.dt", "a.log"}).status);
  const std::string bytes = ReadFile(dir / "ba.dt");
  run = RunCli(dir.path(), {"merge", "--db", "ba.dt", "a2.dt"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("counted already")) << run.err;
  EXPECT_TRUE(bytes == ReadFile(dir / "ba.dt")) << "the file changed";
  // The grown log itself adds only its new line.
  run = RunCli(dir.path(), {"analyse", "--add", "--db", "ba.dt", "a.log"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("new lines")) << run.out;
  EXPECT_EQ((Rows{"01/Mar/2010|2", "02/Mar/2010|1"}),
            QueryRows(dir / "ba.dt", "SELECT date, views FROM common_stats ORDER BY rec_id"));
  // The remembered log now covers all three lines of the grown file.
  EXPECT_EQ((Rows{"2", "3"}), QueryRows(dir / "ba.dt", "SELECT lines FROM analysed_logs ORDER BY rec_id"));
}

TEST(Period, CountsOnlyItsDaysInCalendarOrderAndSaysWhatAnAddCannotRecover) {
  TempDir dir;
  WriteFile(dir / "a.log", Hit("31/Dec/2009", "/") + Hit("01/Jan/2010", "/") +
                               Hit("09/Feb/2010", "/") + Hit("31/Jan/2010", "/") +
                               Hit("32/Jan/2010", "/") + Hit("10/Foo/2010", "/") +
                               Hit("29/Feb/2010", "/"));
  CliResult run = RunCli(dir.path(), {"analyse", "--db", "p.dt", "--from", "2010-01-01", "--to",
                                      "2010-01-31", "a.log"});
  ASSERT_EQ(0, run.status) << run.err;
  // Byte order would put 09/Feb between 01/Jan and 31/Jan; the calendar does not.
  EXPECT_EQ((Rows{"01/Jan/2010", "31/Jan/2010"}),
            QueryRows(dir / "p.dt", "SELECT date FROM common_stats ORDER BY rec_id"));
  EXPECT_NE(std::string::npos,
            run.out.find("2 records outside it and 3 without a date left out"))
      << run.out;
  EXPECT_EQ(2, RunCli(dir.path(), {"analyse", "--from", "2010-02-30", "a.log"}).status);
  EXPECT_EQ(2, RunCli(dir.path(), {"analyse", "--from", "2010-02-02", "--to", "2010-02-01", "a.log"}).status);

  // The log grows; a wider period cannot bring back the days left out before, and says so.
  WriteFile(dir / "a.log", ReadFile(dir / "a.log") + Hit("10/Feb/2010", "/"));
  run = RunCli(dir.path(), {"analyse", "--add", "--db", "p.dt", "--to", "2010-12-31", "a.log"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("cannot add days outside 2010-01-01 to 2010-01-31"))
      << run.out;
  // The day added is appended after the stored ones: the days as a set.
  EXPECT_EQ((Rows{"01/Jan/2010|1", "10/Feb/2010|1", "31/Jan/2010|1"}),
            QueryRows(dir / "p.dt", "SELECT date, views FROM common_stats ORDER BY date"));
}

}  // namespace
}  // namespace hitsieve::testing
