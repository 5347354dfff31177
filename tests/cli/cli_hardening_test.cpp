// The command line against hostile files and careless commands: targets that are not regular
// files, databases that are not ours or are busy, output that cannot be written, and log text
// meant for a terminal or a spreadsheet.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

std::string Line(const std::string& url, const std::string& referer = "-",
                 const std::string& agent = "Mozilla/5.0") {
  return "10.0.0.1 - - [01/Dec/2008:10:00:00 +0400] \"GET " + url + " HTTP/1.1\" 200 10 \"" +
         referer + "\" \"" + agent + "\"\n";
}

class CliHardening : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "access.log", Line("/a.html") + Line("/b.html"));
    const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "r.dt", "access.log"});
    ASSERT_EQ(0, run.status) << run.err;
  }

  CliResult Export(const fs::path& target, bool force = true) {
    std::vector<std::string> args{"export", "pages", "--db", "r.dt", "--xlsx", target.string()};
    if (force) args.push_back("--force");
    return RunCli(dir_.path(), args);
  }

  TempDir dir_;
};

TEST_F(CliHardening, ExportNeverReplacesWhatIsNotARegularFile) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const fs::path kept = dir_ / "kept.xlsx";
  WriteFile(kept, "keep me");
  const fs::path link = dir_ / "link.xlsx";
  fs::create_symlink(kept, link);
  const fs::path folder = dir_ / "folder.xlsx";
  fs::create_directory(folder);
  struct Target {
    fs::path path;
    fs::file_type type;
  };
  std::vector<Target> targets{{fifo, fs::file_type::fifo},
                              {link, fs::file_type::symlink},
                              {folder, fs::file_type::directory}};
  // A device node of our own (the null device's numbers), never the system's /dev/null.
  const fs::path device = dir_ / "null";
  if (mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
    targets.push_back({device, fs::file_type::character});
  for (const Target& target : targets) {
    for (bool force : {true, false}) {
      const CliResult run = Export(target.path, force);
      EXPECT_EQ(1, run.status) << target.path << " force " << force;
      EXPECT_EQ(target.type, fs::symlink_status(target.path).type()) << target.path;
    }
    // The report page follows the same rule.
    const CliResult html = RunCli(
        dir_.path(), {"html", "--db", "r.dt", "--output", target.path.string(), "--force"});
    EXPECT_EQ(1, html.status) << target.path;
    EXPECT_EQ(target.type, fs::symlink_status(target.path).type()) << target.path;
  }
  EXPECT_EQ("keep me", ReadFile(kept));
  const CliResult fifo_run = Export(fifo);
  EXPECT_NE(std::string::npos, fifo_run.err.find("not a regular file")) << fifo_run.err;
  // Nothing is left behind: no temporary workbook beside the targets.
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp")) << entry.path();
}

// A table larger than a worksheet is refused on its row count, without a file left behind.
TEST_F(CliHardening, ExportRefusesATableLargerThanASheet) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ / "r.dt").c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db,
                                    "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
                                    "LIMIT 1048576) INSERT INTO page_stats (page, visits) "
                                    "SELECT '/p' || x, 1 FROM n",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(db);
  const CliResult run = Export(dir_ / "big.xlsx", false);
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("1048578 rows, more than a worksheet holds")) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "big.xlsx"));
}

// ---- Databases that are not ours, busy or unusable ----

TEST_F(CliHardening, ReportsNeverWriteTheDatabaseAndRefuseFilesWithoutTheTables) {
  WriteFile(dir_ / "empty.dt", "");
  {
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ / "other.dt").c_str(), &other));
    sqlite3_exec(other, "CREATE TABLE notes (text TEXT)", nullptr, nullptr, nullptr);
    // A view named like a statistics table, which recurses without end when read.
    sqlite3_exec(other,
                 "CREATE VIEW common_stats AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
                 "SELECT x + 1 FROM n) SELECT x AS rec_id, '' AS date, 0 AS ips, 0 AS visitors, "
                 "0 AS views, 0 AS searches FROM n",
                 nullptr, nullptr, nullptr);
    sqlite3_close(other);
  }
  const std::string other_before = ReadFile(dir_ / "other.dt");
  for (const char* db : {"empty.dt", "other.dt"}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"report", "common", "--db", db},
          std::vector<std::string>{"report", "common", "--db", db, "--format", "csv"},
          std::vector<std::string>{"export", "common", "--db", db, "--xlsx", "c.xlsx"}}) {
      const CliResult run = RunCli(dir_.path(), args);
      EXPECT_EQ(1, run.status) << db << " " << args[0];
      EXPECT_NE(std::string::npos, run.err.find("does not hold the statistics tables")) << run.err;
    }
  }
  EXPECT_EQ("", ReadFile(dir_ / "empty.dt"));
  EXPECT_FALSE(fs::exists(dir_ / "c.xlsx"));
  // Nor does an analysis or a merge add our tables to another program's database.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"analyse", "--db", "other.dt", "access.log"},
        std::vector<std::string>{"merge", "--db", "other.dt", "r.dt"}}) {
    const CliResult run = RunCli(dir_.path(), args);
    EXPECT_EQ(1, run.status) << args[0];
    EXPECT_NE(std::string::npos, run.err.find("not a statistics database")) << run.err;
  }
  EXPECT_EQ(other_before, ReadFile(dir_ / "other.dt"));
  // An empty file is a new database: an analysis gives it the tables.
  EXPECT_EQ(0, RunCli(dir_.path(), {"analyse", "--db", "empty.dt", "access.log"}).status);
  EXPECT_EQ(0, RunCli(dir_.path(), {"report", "common", "--db", "empty.dt"}).status);
  // A report never leaves a journal or takes a write lock: it works on a read-only copy too.
  fs::permissions(dir_ / "r.dt", fs::perms::owner_read);
  EXPECT_EQ(0, RunCli(dir_.path(), {"report", "pages", "--db", "r.dt"}).status);
}

// A writer holding the file for a moment makes readers and the analysis wait, not fail.
TEST_F(CliHardening, BusyDatabaseIsWaitedFor) {
  sqlite3* holder = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ / "r.dt").c_str(), &holder));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"report", "pages", "--db", "r.dt"},
        std::vector<std::string>{"analyse", "--db", "r.dt", "access.log"}}) {
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
    const pid_t pid = StartCli(dir_.path(), args, dir_ / "out", dir_ / "err");
    usleep(700 * 1000);
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    EXPECT_EQ(0, WaitForExit(pid)) << args[0] << ": " << ReadFile(dir_ / "err");
  }
  sqlite3_close(holder);
}

// A report piped into a reader that does not read (a pager left open) must not hold the
// database: an analysis saving meanwhile succeeds, and the report still comes out whole.
TEST_F(CliHardening, ReportIntoAStalledPipeDoesNotHoldUpASave) {
  constexpr int kPages = 20000;  // far more text than a pipe holds
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_ / "r.dt").c_str(), &db));
    ASSERT_EQ(SQLITE_OK,
              sqlite3_exec(db,
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 20000) INSERT INTO page_stats (page, visits, searches, "
                           "bandwidth, google, yandex, rambler, mailru, aport, webalta) SELECT "
                           "'/stalled/page-' || i || '.html', i, 0, i, 0, 0, 0, 0, 0, 0 FROM n",
                           nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  const fs::path fifo = dir_ / "out.fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const pid_t report =
      StartCli(dir_.path(), {"report", "pages", "--db", "r.dt"}, fifo, dir_ / "report.err");
  // Once output arrives the report is writing, and with nobody reading, it soon stalls.
  pollfd wait{reader, POLLIN, 0};
  ASSERT_EQ(1, poll(&wait, 1, 20000)) << "the report wrote nothing";
  usleep(200 * 1000);
  const CliResult save = RunCli(dir_.path(), {"analyse", "--db", "r.dt", "access.log"});
  EXPECT_EQ(0, save.status) << save.err;

  std::string text;
  ASSERT_EQ(0, fcntl(reader, F_SETFL, 0));  // blocking again: read to the end
  char buffer[65536];
  for (ssize_t got; (got = ::read(reader, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  ::close(reader);
  EXPECT_EQ(0, WaitForExit(report)) << ReadFile(dir_ / "report.err");
  EXPECT_GT(std::count(text.begin(), text.end(), '\n'), kPages);
  EXPECT_NE(std::string::npos, text.find("/stalled/page-20000.html"));
}

TEST_F(CliHardening, UnusableDatabaseFailsBeforeTheFirstLogIsRead) {
  WriteFile(dir_ / "junk.dt", std::string(4096, 'x'));
  const fs::path fifo = dir_ / "fifo.dt";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const struct {
    const char* db;
    const char* message;
  } cases[] = {{"junk.dt", "database junk.dt: file is not a database"},
               {"fifo.dt", "fifo.dt is not a regular file"}};
  for (const auto& c : cases) {
    const CliResult run = RunCli(dir_.path(), {"analyse", "--db", c.db, "access.log"});
    EXPECT_EQ(1, run.status) << c.db;
    EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("file 1 of")) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / (std::string(c.db) + "-journal"))) << c.db;
  }
  EXPECT_EQ(std::string(4096, 'x'), ReadFile(dir_ / "junk.dt"));
  EXPECT_EQ(fs::file_type::fifo, fs::symlink_status(fifo).type());
}

// A summary, a workbook note or a help text that could not be written is a failure.
TEST_F(CliHardening, FailedWriteToStandardOutputIsExitOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"analyse", "--db", "r.dt", "access.log"},
        std::vector<std::string>{"export", "pages", "--db", "r.dt", "--xlsx", "p.xlsx"},
        std::vector<std::string>{"report", "pages", "--db", "r.dt"},
        std::vector<std::string>{"--help"}, std::vector<std::string>{"analyse", "--help"}}) {
    const pid_t pid = StartCli(dir_.path(), args, "/dev/full", dir_ / "err");
    EXPECT_EQ(1, WaitForExit(pid)) << args[0];
    EXPECT_NE(std::string::npos, ReadFile(dir_ / "err").find("standard output")) << args[0];
  }
}

// ---- Log text meant for a terminal or a spreadsheet ----

// A terminal escape that sets the window title and one that writes the clipboard, as a search
// phrase decoded from a referer, and formulas as pages.
TEST(CliHostileText, CsvCellsCannotRunAsFormulasOrReachTheTerminal) {
  TempDir dir;
  const std::string referer =
      "http://www.google.com/search?q=%1B%5D0%3Bhacked%07%1B%5D52%3Bc%3BZWNobyBoaQ%3D%3D%07";
  WriteFile(dir / "a.log", Line("/x.html", referer) + Line("=cmd|' /C calc'!A0") +
                               Line("@SUM(1)") + Line("+1") + Line("-1") +
                               Line("=HYPERLINK(\"http://e.vil\")") +
                               Line("/\x1b[2J", "-", "Googlebot") +
                               // A page not found, from a search engine of today with a
                               // formula and an escape for its phrase, by a crawler.
                               "1.2.3.4 - - [01/Mar/2010:10:00:00 +0300] \"GET =cmd|' /C calc'!A0 "
                               "HTTP/1.1\" 404 10 \"http://www.bing.com/search?q=%3DSUM(1)%1B%5B2J\" "
                               "\"@x\x1bP;t\x07 GPTBot/1.0\"\n");
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "h.dt", "--extensions", "", "a.log"}).status);

  const char* const kinds[] = {"pages",    "queries",  "robots",    "status",   "notfound",
                               "hours",    "browsers", "systems",   "countries", "crawlers",
                               "engines"};
  for (const char* kind : kinds) {
    const CliResult csv = RunCli(dir.path(), {"report", kind, "--db", "h.dt", "--format", "csv"});
    ASSERT_EQ(0, csv.status) << csv.err;
    std::istringstream lines(csv.out);
    for (std::string line; std::getline(lines, line);) {
      // Every field: no cell starts a formula, quoted or not.
      for (size_t start = 0; start <= line.size();) {
        size_t end = start;
        if (start < line.size() && line[start] == '"') {
          ++end;
          while (end < line.size() && !(line[end] == '"' && (end + 1 == line.size() || line[end + 1] != '"')))
            end += line[end] == '"' ? 2 : 1;
          ++end;
        } else {
          end = line.find(',', start);
          if (end == std::string::npos) end = line.size();
        }
        std::string cell = line.substr(start, end - start);
        if (!cell.empty() && cell.front() == '"') cell = cell.substr(1);
        EXPECT_TRUE(cell.empty() || std::string("=+-@\t\r").find(cell.front()) == std::string::npos)
            << kind << ": " << line;
        start = end + 1;
      }
    }
    // Not a terminal: the control bytes stay, for a script to see (and the sheet to ignore).
  }
  const CliResult pages = RunCli(dir.path(), {"report", "pages", "--db", "h.dt", "--format", "csv"});
  EXPECT_NE(std::string::npos, pages.out.find("'=cmd|' /C calc'!A0")) << pages.out;
  EXPECT_NE(std::string::npos, pages.out.find("\n'-1,")) << pages.out;
  const CliResult raw =
      RunCli(dir.path(), {"report", "pages", "--db", "h.dt", "--format", "csv", "--raw"});
  EXPECT_NE(std::string::npos, raw.out.find("\n=cmd|' /C calc'!A0,")) << raw.out;
  const CliResult engines = RunCli(dir.path(), {"report", "engines", "--db", "h.dt", "--format", "csv"});
  EXPECT_NE(std::string::npos, engines.out.find("'=SUM(1)")) << engines.out;
  const CliResult crawlers = RunCli(dir.path(), {"report", "crawlers", "--db", "h.dt"});
  EXPECT_NE(std::string::npos, crawlers.out.find("GPTBot")) << crawlers.out;
  // The text format never passes a control byte.
  for (const char* kind : kinds) {
    const CliResult text = RunCli(dir.path(), {"report", kind, "--db", "h.dt"});
    EXPECT_EQ(std::string::npos, text.out.find('\x1b')) << kind;
    EXPECT_EQ(std::string::npos, text.out.find('\x07')) << kind;
  }
}

// A terminal is what the rule protects; a pseudo-terminal stands in for one.
TEST(CliHostileText, CsvOnATerminalShowsControlsAsQuestionMarks) {
  TempDir dir;
  WriteFile(dir / "a.log", Line("/a\x1b" "cred\x07.html") + Line("/b\x98" "X.html"));
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "h.dt", "--extensions", "", "a.log"}).status);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  const std::string slave = ptsname(master);
  const pid_t pid = StartCli(dir.path(), {"report", "pages", "--db", "h.dt", "--format", "csv"},
                             slave, dir / "err");
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
    if (out.find(".html") != std::string::npos && out.rfind('\n') > out.rfind(".html")) {
      if (out.find("/b") != std::string::npos && out.find("/a") != std::string::npos) break;
    }
  }
  EXPECT_EQ(0, WaitForExit(pid)) << ReadFile(dir / "err");
  close(master);
  EXPECT_EQ(std::string::npos, out.find('\x1b')) << out;
  EXPECT_EQ(std::string::npos, out.find('\x07')) << out;
  EXPECT_NE(std::string::npos, out.find("/a?cred?.html")) << out;
  // Windows-1251 has no character at 0x98: it becomes U+0098, a C1 control, and then '?'.
  EXPECT_NE(std::string::npos, out.find("/b?X.html")) << out;
  EXPECT_EQ(std::string::npos, out.find("\xc2\x98")) << out;
}

// ---- Logs named twice, texts with a NUL ----

TEST(CliLogFiles, OneFileThroughSeveralPathsIsReadOnce) {
  TempDir dir;
  fs::create_directories(dir / "bad");
  fs::create_directories(dir / "a");
  WriteFile(dir / "bad" / "a.log", Line("/a.html") + Line("/b.html"));
  fs::create_hard_link(dir / "bad" / "a.log", dir / "bad" / "hard.log");
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "once.dt", "bad/a.log"}).status);
  const CliResult twice = RunCli(
      dir.path(), {"analyse", "--db", "twice.dt", "a/../bad/a.log", "bad/a.log", "bad/hard.log"});
  ASSERT_EQ(0, twice.status) << twice.err;
  EXPECT_EQ(DumpTables(dir / "once.dt"), DumpTables(dir / "twice.dt"));
  // Every name is still reported done, in order.
  EXPECT_NE(std::string::npos, twice.err.find("file 3 of 3 done")) << twice.err;
}

TEST(CliLogFiles, TextAfterANulIsKeptAndShown) {
  TempDir dir;
  WriteFile(dir / "nul.log", Line(std::string("/x\0y.html", 9)) + Line(std::string("/x\0z.html", 9)));
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "n.dt", "nul.log"}).status);
  const CliResult text = RunCli(dir.path(), {"report", "pages", "--db", "n.dt"});
  EXPECT_NE(std::string::npos, text.out.find("/x?y.html")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("/x?z.html")) << text.out;
  const CliResult csv =
      RunCli(dir.path(), {"report", "pages", "--db", "n.dt", "--format", "csv", "--raw"});
  EXPECT_NE(std::string::npos, csv.out.find(std::string("/x\0y.html", 9))) << csv.out;
}

// ---- Lines that are no log lines ----

TEST(CliUnrecognisedLines, AreCountedAndStrictFailsTheRun) {
  TempDir dir;
  std::string noise;
  for (int i = 0; i < 30; ++i) noise += "random bytes \x01\xff line " + std::to_string(i) + "\n";
  noise += "10.0.0.9 - - [xx/Yyy/zzzz:10:00:00 +0400] \"GET /d.html HTTP/1.1\" 200 1 \"-\" \"M\"\n";
  WriteFile(dir / "good.log", Line("/a.html") + "\n \n");  // blank lines are no noise
  WriteFile(dir / "noise.log", Line("/b.html") + noise);
  const CliResult good = RunCli(dir.path(), {"analyse", "--db", "u.dt", "good.log"});
  ASSERT_EQ(0, good.status) << good.err;
  EXPECT_NE(std::string::npos, good.out.find("; 0 lines not recognised")) << good.out;
  const std::vector<std::string> before = DumpTables(dir / "u.dt");

  const CliResult loose = RunCli(dir.path(), {"analyse", "--db", "l.dt", "noise.log"});
  ASSERT_EQ(0, loose.status) << loose.err;
  EXPECT_NE(std::string::npos, loose.out.find("; 31 lines not recognised")) << loose.out;

  const CliResult strict =
      RunCli(dir.path(), {"analyse", "--db", "u.dt", "--strict", "10%", "noise.log"});
  EXPECT_EQ(1, strict.status);
  EXPECT_NE(std::string::npos, strict.err.find("31 of 32 lines are not recognised")) << strict.err;
  EXPECT_EQ(before, DumpTables(dir / "u.dt"));
  EXPECT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "u.dt", "--strict", "0.99", "noise.log"})
                   .status);
  for (const char* bad : {"x", "", "150%", "-0.1", "nan"})
    EXPECT_EQ(2, RunCli(dir.path(), {"analyse", "--db", "u.dt", "--strict", bad, "a.log"}).status)
        << bad;
}

}  // namespace
}  // namespace hitsieve::testing
