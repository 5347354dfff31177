// Failures of the command line: wrong arguments, unreadable logs, a save that cannot finish and
// a process killed while saving. In every case the database keeps its previous statistics.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

std::string LogLine(const std::string& day, const std::string& url) {
  return "10.0.0.1 - - [" + day + ":10:00:00 +0400] \"GET " + url +
         " HTTP/1.1\" 200 10 \"http://example.org/\" \"Mozilla/5.0\"\n";
}

// A gzip file whose data zlib rejects: the deflate stream is overwritten in its middle.
void WriteCorruptGzip(const fs::path& path) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += LogLine("05/May/2009", "/p" + std::to_string(i) + ".html");
  WriteGzip(path, text);
  std::string bytes = ReadFile(path);
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i) bytes[i] = '\xff';
  WriteFile(path, bytes);
}

class CliFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "old.log", LogLine("01/Jan/2009", "/old.html"));
    std::string next;
    for (int i = 0; i < 50; ++i) next += LogLine("02/Feb/2009", "/n" + std::to_string(i) + ".html");
    WriteFile(dir_ / "new.log", next);
    const CliResult first = RunCli(dir_.path(), {"analyse", "--db", "s.dt", "old.log"});
    ASSERT_EQ(0, first.status) << first.err;
    before_ = DumpTables(db_);
  }

  TempDir dir_;
  fs::path db_ = dir_ / "s.dt";
  std::vector<std::string> before_;
};

TEST_F(CliFailure, UnreadableLogEndsTheRunAndKeepsThePreviousRows) {
  WriteCorruptGzip(dir_ / "corrupt.log.gz");
  const struct {
    const char* name;
    const char* message;
  } cases[] = {{"missing.log", "file open error"},
               {"missing.log.gz", "couldn`t open file"},
               {"corrupt.log.gz", "error reading gzip file"}};
  for (const auto& c : cases) {
    // new.log is read first and fine: the failure of a later file still loses the whole run.
    const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "s.dt", "new.log", c.name});
    EXPECT_EQ(1, run.status) << c.name;
    const std::string path = fs::absolute(dir_ / c.name).string();
    EXPECT_NE(std::string::npos, run.err.find(path + ": " + c.message)) << c.name << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("saving")) << c.name << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << c.name << run.err;
    EXPECT_EQ("", run.out) << c.name;
    EXPECT_EQ(before_, DumpTables(db_)) << c.name;
  }
}

// A pipe or a device would read as an empty log and wipe the statistics.
TEST_F(CliFailure, WhatIsNoLogFileIsRefusedBeforeTheRun) {
  fs::create_directory(dir_ / "logs");
  ASSERT_EQ(0, mkfifo((dir_ / "fifo").c_str(), 0600));
  const struct {
    const char* name;
    const char* message;
  } cases[] = {{"logs", "a folder, not a log file"},
               {"fifo", "not a regular file"},
               {"/dev/null", "not a regular file"}};
  for (const auto& c : cases) {
    const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "s.dt", "new.log", c.name});
    EXPECT_EQ(1, run.status) << c.name;
    EXPECT_NE(std::string::npos, run.err.find(c.message)) << c.name << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("file 1 of")) << c.name << run.err;
    EXPECT_EQ(before_, DumpTables(db_)) << c.name;
  }
}

TEST_F(CliFailure, MissingLogWithAFreshDatabaseCreatesNoFile) {
  const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "fresh.dt", "missing.log"});
  EXPECT_EQ(1, run.status);
  EXPECT_FALSE(fs::exists(dir_ / "fresh.dt"));
}

// A run that would create the database and fails wherever the disk refuses more (a file size
// limit the child inherits: before the empty tables are written, or in the middle of the save)
// leaves no file behind, replacing or adding. Without the limit the same run creates the file,
// with the mode SQLite gives the files it creates.
TEST_F(CliFailure, FailedSaveOfANewDatabaseLeavesNoFile) {
  std::string many;
  for (int i = 0; i < 6000; ++i)
    many += LogLine("0" + std::to_string(1 + i % 9) + "/Mar/2009", "/m" + std::to_string(i) + ".html");
  WriteFile(dir_ / "many.log", many);
  // The size of a database holding every table but no rows: the second limit lets the tables
  // be made and stops the rows.
  WriteFile(dir_ / "empty.log", "");
  ASSERT_EQ(0, RunCli(dir_.path(), {"analyse", "--db", "empty.dt", "empty.log"}).status);
  const rlim_t tables = fs::file_size(dir_ / "empty.dt");
  fs::remove(dir_ / "empty.dt");
  fs::remove(dir_ / "empty.log");
  const auto files = [this] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  // The size of a database that holds its tables and no statistics: the second limit lets
  // the tables be made and stops the save a few pages later.
  TempDir scratch;
  WriteFile(scratch / "empty.log", "");
  ASSERT_EQ(0, RunCli(scratch.path(), {"analyse", "--db", "empty.dt", "empty.log"}).status);
  const rlim_t tables = static_cast<rlim_t>(fs::file_size(scratch / "empty.dt"));
  const std::vector<std::string> before = files();
  const struct {
    rlim_t limit;
    const char* says;
  } limits[] = {{64 << 10, "database fresh.dt: "}, {tables + (48 << 10), "saving failed: fresh.dt: "}};
  for (const bool add : {false, true}) {
    for (const auto& l : limits) {
      SCOPED_TRACE(std::string(add ? "--add" : "replacing") + ", " + l.says);
      std::vector<std::string> args = {"analyse", "--db", "fresh.dt", "many.log"};
      if (add) args.insert(args.begin() + 1, "--add");
      struct rlimit saved;
      ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
      struct rlimit small = saved;
      small.rlim_cur = l.limit;
      ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
      const CliResult run = RunCli(dir_.path(), args);
      ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &saved));
      EXPECT_EQ(1, run.status) << run.out;
      EXPECT_NE(std::string::npos, run.err.find(l.says)) << run.err;
      EXPECT_EQ(before, files()) << "a file was left behind";
    }
  }
  const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "fresh.dt", "many.log"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(std::vector<std::string>{"6000"}, QueryRows(dir_ / "fresh.dt", "SELECT count(*) FROM page_stats"));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info;
  ASSERT_EQ(0, ::stat((dir_ / "fresh.dt").c_str(), &info));
  EXPECT_EQ(0644 & ~mask, info.st_mode & 07777);
}

// Names SQLite would not take as a plain file lose the statistics; a folder that cannot hold
// the file is found before any log is read.
TEST_F(CliFailure, DatabaseNamesAreAlwaysPlainFiles) {
  fs::create_directory(dir_ / "folder");
  const struct {
    const char* db;
    int status;
    const char* error;    // expected in stderr, "" for none
    const char* created;  // file expected afterwards, "" for none
  } cases[] = {{"", 2, "--db needs a file name", ""},
               {":memory:", 0, "", ":memory:"},
               {"missing/s.dt", 1, "the folder", ""},
               {"folder", 1, "is a folder", ""}};
  for (const auto& c : cases) {
    const CliResult run = RunCli(dir_.path(), {"analyse", "--db", c.db, "new.log"});
    EXPECT_EQ(c.status, run.status) << "[" << c.db << "] " << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.error)) << c.db << run.err;
    if (c.status != 0) {
      EXPECT_EQ(std::string::npos, run.err.find("file 1 of")) << c.db;
    }
    if (*c.created != '\0') {
      EXPECT_EQ(std::vector<std::string>{"02/Feb/2009|1|1|50|0"},
                QueryRows(dir_ / c.created,
                          "SELECT date, ips, visitors, views, searches FROM common_stats"));
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_EQ(before_, DumpTables(db_));
}

TEST_F(CliFailure, SaveBlockedByAnotherWriterRollsBack) {
  sqlite3* holder = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &holder));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
  const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "s.dt", "new.log"});
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_EQ(1, run.status) << run.out;
  // The lock is found before any log is read, once the busy timeout has passed.
  EXPECT_NE(std::string::npos, run.err.find("database s.dt: database is locked")) << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("file 1 of")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("keeps its previous statistics")) << run.err;
  EXPECT_EQ(before_, DumpTables(db_));
}

// The hook stops the tool inside the save transaction, after position k was reported, i.e.
// with the groups before k already rewritten; a SIGKILL then must leave the old rows.
TEST_F(CliFailure, KillDuringSaveLeavesThePreviousRows) {
  for (int step = 1; step <= 5; ++step) {
    SCOPED_TRACE("stopped at save step " + std::to_string(step));
    TempDir io;
    const pid_t pid =
        StartCli(dir_.path(), {"analyse", "--db", "s.dt", "new.log"}, io / "out", io / "err",
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
    EXPECT_EQ(before_, DumpTables(db_));
  }
  // Without the hook the same run replaces everything.
  const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "s.dt", "new.log"});
  ASSERT_EQ(0, run.status) << run.err;
  const auto after = DumpTables(db_);
  EXPECT_NE(before_, after);
  EXPECT_EQ(std::vector<std::string>{"02/Feb/2009|1|1|50|0"},
            QueryRows(db_, "SELECT date, ips, visitors, views, searches FROM common_stats"));
}

// Ctrl+C while large logs are read ends the tool with 130 and leaves the database file byte
// for byte as it was.
TEST_F(CliFailure, InterruptStopsTheRunAndLeavesTheDatabaseFileAsItWas) {
  // Each large log is 256 gzip members of 16 MiB of text: 4 GiB to read, in a file of a few
  // MiB. The signal follows the first file's end, and no machine reads 12 GiB meanwhile, however
  // long this process waits for the processor.
  std::string big;
  for (int i = 0; big.size() < (16u << 20); ++i)
    big += LogLine(std::to_string(10 + i % 18) + "/Mar/2009", "/p" + std::to_string(i % 7) + ".html");
  WriteGzip(dir_ / "member.gz", big);
  const std::string member = ReadFile(dir_ / "member.gz");
  std::string members;
  for (int copy = 0; copy < 256; ++copy) members += member;
  for (const char* name : {"big1.log.gz", "big2.log.gz", "big3.log.gz"}) WriteFile(dir_ / name, members);
  WriteFile(dir_ / "a-first.log", LogLine("03/Mar/2009", "/first.html"));
  const std::string bytes = ReadFile(db_);
  TempDir io;
  const pid_t pid = StartCli(dir_.path(),
                             {"analyse", "--db", "s.dt", "a-first.log", "big1.log.gz",
                              "big2.log.gz", "big3.log.gz"},
                             io / "out", io / "err");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadFile(io / "err").find("file 1 of 4 done") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(pid, SIGINT);
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(130, WaitForExit(pid)) << ReadFile(io / "err");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
  const std::string err = ReadFile(io / "err");
  EXPECT_NE(std::string::npos, err.find("analysis stopped")) << err;
  EXPECT_EQ(std::string::npos, err.find("file 4 of 4 done")) << "stopped before the end: " << err;
  EXPECT_EQ("", ReadFile(io / "out"));
  EXPECT_EQ(bytes, ReadFile(db_));
  EXPECT_EQ(before_, DumpTables(db_));
  std::fprintf(stderr, "stopped %.3f s after SIGINT\n", seconds);
}

TEST_F(CliFailure, BadArgumentsExitTwoAndTouchNoDatabase) {
  const std::string db = db_.string();
  const std::string bytes = ReadFile(db_);
  const auto modified = fs::last_write_time(db_);
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"analyse"},
      {"analyse", "--db", db},
      {"analyse", "--db", db, "--bogus", "new.log"},
      {"analyse", "--db", db, "new.log", "--extensions"},
      {"analyse", "--db", db, "--db", db, "new.log"},
      {"analyse", "--help=yes", "new.log"},
      {"analyse", "", "--db", db},
      {"report"},
      {"report", "--db", db, "bogus"},
      {"report", "common", "pages", "--db", db},
      {"report", "common", "--db", db, "--format", "xml"},
      {"export", "common", "--db", db},
      {"export", "robots", "--db", db, "--xlsx", "o.xlsx"},
      {"export", "common", "--db", db, "--xlsx", "o.xlsx", "--force=1"},
  };
  for (const auto& args : cases) {
    std::string label;
    for (const auto& arg : args) label += "[" + arg + "]";
    const CliResult run = RunCli(dir_.path(), args);
    EXPECT_EQ(2, run.status) << label;
    EXPECT_EQ(0u, run.err.rfind("hitsieve-cli: ", 0)) << label << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << label << run.err;
    EXPECT_EQ("", run.out) << label;
  }
  EXPECT_EQ(bytes, ReadFile(db_));
  EXPECT_EQ(modified, fs::last_write_time(db_));
  EXPECT_FALSE(fs::exists(dir_ / "dat1.dt"));
  EXPECT_FALSE(fs::exists(dir_ / "o.xlsx"));
}

TEST(CliHelp, ToolAndEveryCommandExplainThemselves) {
  TempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* usage;
  } cases[] = {{{"--help"}, "Usage: hitsieve-cli COMMAND"},
               {{"analyse", "--help"}, "Usage: hitsieve-cli analyse [--extensions TEXT]"},
               {{"report", "-h"}, "Usage: hitsieve-cli report (common|pages|queries|referers|robots|"},
               {{"export", "--help"}, "Usage: hitsieve-cli export (common|pages|queries) --xlsx"},
               {{"merge", "--help"}, "Usage: hitsieve-cli merge [--replace] [--db FILE] PART..."}};
  for (const auto& c : cases) {
    const CliResult run = RunCli(dir.path(), c.args);
    EXPECT_EQ(0, run.status) << c.usage;
    EXPECT_EQ(0u, run.out.find(c.usage)) << run.out;
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace hitsieve::testing
