// End to end: the real hitsieve-cli analyses hand-made logs, and the tables it leaves are
// checked against rows worked out by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

std::string Line(const std::string& ip, const std::string& time, const std::string& url,
                 const std::string& status, const std::string& bytes, const std::string& referer,
                 const std::string& agent) {
  return ip + " - - [" + time + " +0400] \"GET " + url + " HTTP/1.1\" " + status + " " + bytes +
         " \"" + referer + "\" \"" + agent + "\"\n";
}

const char kX11[] = "Mozilla/5.0 (X11)";

// October, read second ("b..." sorts after "a...").
std::string OctoberLog() {
  return Line("10.0.0.1", "11/Oct/2008:10:00:00", "/index.html", "200", "1000", "-", kX11) +
         // an image: rejected by the page filter, counts nowhere (not even as a referer)
         Line("10.0.0.1", "11/Oct/2008:10:01:00", "/img/logo.gif", "200", "5000",
              "http://example.org/links.html", kX11) +
         // same address, second agent; a search with a phrase
         Line("10.0.0.1", "11/Oct/2008:10:02:00", "/index.html", "200", "1000",
              "http://www.google.ru/search?hl=ru&q=web+log&start=10", "Opera/9.80") +
         // a query string after the extension: rejected
         Line("10.0.0.2", "11/Oct/2008:11:00:00", "/index.php?id=5", "200", "300",
              "http://example.org/links.html", "Mozilla/4.0") +
         // a bare '?' after the extension: counted; a 404 counts like any other
         Line("10.0.0.2", "11/Oct/2008:11:05:00", "/index.php?", "404", "0",
              "http://yandex.ru/yandsearch?text=%D0%BB%D0%BE%D0%B3&lr=213", "Mozilla/4.0") +
         // a crawler: logged, whatever its URL, and counted nowhere else
         Line("66.249.0.1", "11/Oct/2008:12:00:00", "/img/logo.gif", "200", "5000", "-",
              "Mozilla/5.0 (compatible; Googlebot/2.1)") +
         Line("10.0.0.2", "11/Oct/2008:11:10:00", "/price,list.html", "200", "100", "-",
              "Mozilla/4.0");
}

// November, read first; its day key sorts before October's.
std::string NovemberLog() {
  return Line("10.0.0.3", "02/Nov/2008:09:00:00", "/", "200", "2048",
              "http://go.mail.ru/search?q=Web+Log", kX11) +
         Line("10.0.0.3", "02/Nov/2008:09:01:00", "/index.html", "200", "1048576",
              "http://www.rambler.ru/srch?words=%EF%F0%E8%E2%E5%F2&set=www", kX11) +
         // a search engine's page without a phrase: a search, but no phrase
         Line("10.0.0.4", "02/Nov/2008:09:02:00", "/index.html", "200", "1000",
              "http://www.google.com/url?sa=t", kX11) +
         Line("10.0.0.5", "02/Nov/2008:09:03:00", "/about.html", "200", "500", "", kX11) +
         Line("213.180.0.1", "02/Nov/2008:10:00:00", "/robots.txt", "404", "-", "-",
              "Yandex/1.01.001 (compatible; Win16; I)") +
         Line("10.0.0.6", "02/Nov/2008:10:05:00", "/index.html", "200", "1000",
              "http://sm.aport.ru/scripts/template.dll?r=web+log&That=std", kX11) +
         Line("10.0.0.6", "02/Nov/2008:10:06:00", "/index.html", "200", "1000",
              "http://webalta.ru/search?q=news", kX11) +
         Line("10.0.0.5", "02/Nov/2008:11:00:00", "/about.html", "200", "500",
              "http://example.org/links.html", kX11) +
         Line("10.0.0.5", "02/Nov/2008:11:01:00", "/about.html", "200", "500",
              "http://example.org/other.html", kX11);
}

class CliAnalyse : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "b-oct.log", OctoberLog());
    WriteGzip(dir_ / "a-nov.log.gz", NovemberLog());
  }

  // Files named out of order and one twice; relative names resolve against the working folder.
  CliResult Analyse(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"analyse", "--db", db_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const char* name : {"b-oct.log", "a-nov.log.gz", "./b-oct.log"}) args.push_back(name);
    return RunCli(dir_.path(), args);
  }

  Rows Select(const std::string& sql) { return QueryRows(db_, sql); }

  TempDir dir_;
  fs::path db_ = dir_ / "stats.dt";
};

TEST_F(CliAnalyse, HandMadeLogsGiveTheExpectedTables) {
  const CliResult run = Analyse();
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Rows({"02/Nov/2008|4|4|8|5", "11/Oct/2008|2|3|4|2"}),
            Select("SELECT date, ips, visitors, views, searches FROM common_stats ORDER BY rec_id"));
  EXPECT_EQ(Rows({"/|1|1|2048|0|0|0|1|0|0", "/about.html|3|0|1500|0|0|0|0|0|0",
                  "/index.html|6|5|1053576|1|0|1|0|1|1", "/index.php?|1|1|0|0|1|0|0|0|0",
                  "/price,list.html|1|0|100|0|0|0|0|0|0"}),
            Select("SELECT page, visits, searches, bandwidth, google, yandex, rambler, mailru, "
                   "aport, webalta FROM page_stats ORDER BY rec_id"));
  EXPECT_EQ(Rows({"example.org|0|2", "go.mail.ru|0|1", "sm.aport.ru|0|1", "webalta.ru|0|1",
                  "www.google.com|0|1", "www.google.ru|0|1", "www.rambler.ru|0|1",
                  "yandex.ru|0|1", "http://example.org/links.html|1|1",
                  "http://example.org/other.html|1|1", "http://go.mail.ru/search?q=Web+Log|1|1",
                  "http://sm.aport.ru/scripts/template.dll?r=web+log&That=std|1|1",
                  "http://webalta.ru/search?q=news|1|1", "http://www.google.com/url?sa=t|1|1",
                  "http://www.google.ru/search?hl=ru&q=web+log&start=10|1|1",
                  "http://www.rambler.ru/srch?words=%EF%F0%E8%E2%E5%F2&set=www|1|1",
                  "http://yandex.ru/yandsearch?text=%D0%BB%D0%BE%D0%B3&lr=213|1|1"}),
            Select("SELECT referer, type, cnt FROM referer_stats ORDER BY rec_id"));
  // The gzip file is read first, so its crawler comes first.
  EXPECT_EQ(Rows({"Yandex|/robots.txt|404|213.180.0.1|02/Nov/2008",
                  "Google|/img/logo.gif|200|66.249.0.1|11/Oct/2008"}),
            Select("SELECT name, action, code, ip, date FROM robot_log ORDER BY rec_id"));
  // "Web Log" (engine 3, read first) keeps its spelling and absorbs "web log" of engines 0 and
  // 4; the Cyrillic phrases are stored in Windows-1251.
  EXPECT_EQ(Rows({"news|1|0|0|0|0|0|1", "Web Log|3|1|0|0|1|1|0",
                  "\xEB\xEE\xE3|1|0|1|0|0|0|0",
                  "\xEF\xF0\xE8\xE2\xE5\xF2|1|0|0|1|0|0|0"}),
            Select("SELECT query, total, google, yandex, rambler, mailru, aport, webalta "
                   "FROM query_stats ORDER BY rec_id"));
  EXPECT_TRUE(std::regex_search(run.out, std::regex("^analysed 2 files: 16 lines, 2 days, "
                                                     "5 pages, 4 phrases, 2 robot hits in ")))
      << run.out;
}

TEST_F(CliAnalyse, EmptyExtensionListCountsEveryPage) {
  const CliResult run = Analyse({"--extensions", ""});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Rows({"/", "/about.html", "/img/logo.gif", "/index.html", "/index.php?",
                  "/index.php?id=5", "/price,list.html"}),
            Select("SELECT page FROM page_stats ORDER BY rec_id"));
  EXPECT_EQ(Rows({"02/Nov/2008|8", "11/Oct/2008|6"}),
            Select("SELECT date, views FROM common_stats ORDER BY rec_id"));
}

TEST_F(CliAnalyse, SecondRunReplacesTheFirst) {
  ASSERT_EQ(0, Analyse().status);
  const CliResult run =
      RunCli(dir_.path(), {"analyse", "--db", db_.string(), "--extensions", "php", "b-oct.log"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Rows({"11/Oct/2008|1"}), Select("SELECT date, views FROM common_stats"));
  EXPECT_EQ(Rows({"/index.php?"}), Select("SELECT page FROM page_stats"));
  EXPECT_EQ(Rows({"Google"}), Select("SELECT name FROM robot_log"));
  EXPECT_EQ(0u, run.out.find("analysed 1 file: 7 lines, 1 days, ")) << run.out;
}

TEST_F(CliAnalyse, ProgressIsReportedAsPlainLinesWhenStderrIsNoTerminal) {
  const CliResult run = Analyse();
  ASSERT_EQ(0, run.status) << run.err;
  const std::string dir = fs::absolute(dir_.path()).string();
  EXPECT_EQ("file 1 of 2 done: " + dir + "/a-nov.log.gz\n" + "file 2 of 2 done: " + dir +
                "/b-oct.log\n" + "saving 1 of 5\nsaving 2 of 5\nsaving 3 of 5\nsaving 4 of 5\n"
                "saving 5 of 5\n",
            run.err);
}

// Without --db: dat1.dt of the working folder when there is one, else the user's data folder,
// made on the first write; the home folder itself gets nothing.
TEST_F(CliAnalyse, DefaultDatabaseIsTheWorkingFoldersOrTheUserDataFile) {
  TempDir home;
  const std::vector<std::string> env = {"HOME=" + home.path().string(), "XDG_DATA_HOME="};
  const fs::path user_file = home / ".local/share/hitsieve/dat1.dt";
  CliResult run = RunCli(dir_.path(), {"report", "common"}, env);
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find(user_file.string())) << run.err;
  EXPECT_TRUE(fs::is_empty(home.path())) << "a report creates nothing";

  run = RunCli(dir_.path(), {"analyse", "b-oct.log"}, env);
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Rows({"11/Oct/2008|4"}), QueryRows(user_file, "SELECT date, views FROM common_stats"));
  EXPECT_FALSE(fs::exists(dir_ / "dat1.dt"));

  run = RunCli(dir_.path(), {"analyse", "--db", "dat1.dt", "a-nov.log.gz"}, env);
  ASSERT_EQ(0, run.status) << run.err;
  run = RunCli(dir_.path(), {"report", "common", "--format", "csv"}, env);
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(std::string::npos, run.out.find("11/Oct/2008")) << "the working folder's file: " << run.out;

  // A merge into the user's data file makes its folder as an analysis does.
  TempDir other_home;
  const fs::path merged = other_home / ".local/share/hitsieve/dat1.dt";
  TempDir elsewhere;
  run = RunCli(elsewhere.path(), {"merge", user_file.string()},
               {"HOME=" + other_home.path().string(), "XDG_DATA_HOME="});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(Rows({"11/Oct/2008|4"}), QueryRows(merged, "SELECT date, views FROM common_stats"));
}

// A database among the logs, whatever its name: the database itself (a hard link, a path
// through "..") or another one, plain or compressed. Replacing or adding, the run fails with
// one line naming the file before anything is written; --skip-databases leaves such files out
// and counts the others, as a run over them alone would.
TEST_F(CliAnalyse, DatabasesOfferedAsLogsAreRefusedOrWithAnOptionLeftOut) {
  ASSERT_EQ(0, RunCli(dir_.path(), {"analyse", "--db", "other.dt", "b-oct.log"}).status);
  WriteGzip(dir_ / "other.dt.gz", ReadFile(dir_ / "other.dt"));
  fs::create_directory(dir_ / "logs");
  ASSERT_EQ(0, Analyse().status);
  fs::create_hard_link(db_, dir_ / "logs" / "linked.log");
  const std::string before = ReadFile(db_);
  const char* const offered[] = {"logs/linked.log", "logs/../stats.dt", "other.dt", "other.dt.gz"};
  for (const char* mode : {"--add", "--extensions=html"}) {
    for (const char* log : offered) {
      SCOPED_TRACE(std::string(mode) + " " + log);
      CliResult run = RunCli(dir_.path(), {"analyse", mode, "--db", db_.string(), "b-oct.log", log});
      EXPECT_EQ(1, run.status);
      EXPECT_NE(std::string::npos, run.err.find(std::string(log) + ": ")) << run.err;
      EXPECT_NE(std::string::npos, run.err.find("not a log")) << run.err;
      EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
      EXPECT_EQ(before, ReadFile(db_));
    }
  }
  const std::string expected = (dir_ / "expected.dt").string();
  ASSERT_EQ(0, RunCli(dir_.path(), {"analyse", "--db", expected, "a-nov.log.gz"}).status);
  std::vector<std::string> args = {"analyse", "--skip-databases", "--db", db_.string(), "a-nov.log.gz"};
  args.insert(args.end(), std::begin(offered), std::end(offered));
  const CliResult run = RunCli(dir_.path(), args);
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("other.dt.gz: a compressed SQLite database, not a log; left out")) << run.out;
  EXPECT_EQ(DumpTables(expected), DumpTables(db_));
}

// A failed --add onto a database that does not exist yet leaves no file behind, and says which
// log failed.
TEST_F(CliAnalyse, FailedAddOntoAMissingDatabaseLeavesNoFile) {
  WriteGzip(dir_ / "damaged.log.gz", NovemberLog());
  std::string damaged = ReadFile(dir_ / "damaged.log.gz");
  damaged.resize(damaged.size() - 12);
  WriteFile(dir_ / "damaged.log.gz", damaged);
  for (const char* log : {"missing.log", "damaged.log.gz"}) {
    SCOPED_TRACE(log);
    const CliResult run = RunCli(dir_.path(), {"analyse", "--add", "--db", "new.dt", "b-oct.log", log});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find(std::string(log) + ": ")) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "new.dt"));
    EXPECT_FALSE(fs::exists(dir_ / "new.dt-journal"));
  }
}

TEST(CliSample, BundledSampleAnalysesAndEveryReportPrints) {
  TempDir dir;
  const fs::path sample = fs::path(HITSIEVE_TEST_DATA) / "sample.log.gz";
  ASSERT_TRUE(fs::exists(sample)) << sample;
  const CliResult run = RunCli(dir.path(), {"analyse", "--db", "s.dt", sample.string()});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_FALSE(QueryRows(dir / "s.dt", "SELECT * FROM common_stats").empty());
  for (const char* kind : {"common", "pages", "queries", "referers", "robots"}) {
    for (const char* format : {"text", "csv"}) {
      const CliResult report =
          RunCli(dir.path(), {"report", kind, "--db", "s.dt", "--format", format});
      EXPECT_EQ(0, report.status) << kind << " " << format << ": " << report.err;
      EXPECT_GT(std::count(report.out.begin(), report.out.end(), '\n'), 1)
          << kind << " " << format;
    }
  }
}

}  // namespace
}  // namespace hitsieve::testing
