// The dimensions end to end with the real hitsieve-cli: their reports, adding in pieces and
// merging parts (every report byte for byte that of one run), and statistics counted without a
// dimension, which never show numbers for it.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "report_bytes.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

std::string Line(const std::string& ip, const std::string& day, int hour, const std::string& url,
                 int status, const std::string& referer, const std::string& agent = "Mozilla/5.0") {
  char time[16];
  std::snprintf(time, sizeof time, "%02d:30:00", hour);
  return ip + " - - [" + day + ":" + time + " +0400] \"GET " + url + " HTTP/1.1\" " +
         std::to_string(status) + " 100 \"" + referer + "\" \"" + agent + "\"\n";
}

void Exec(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db.c_str(), &handle));
  char* error = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error)) << error;
  sqlite3_free(error);
  sqlite3_close(handle);
}

CliResult Cli(const TempDir& dir, const std::vector<std::string>& args) {
  CliResult run = RunCli(dir.path(), args);
  EXPECT_EQ(0, run.status) << run.err;
  return run;
}

// A site's log: many clients and agents (robots among them), every hour, pages and images,
// codes with 404 and 410 reached from several referers.
std::string SiteLog(uint32_t seed, int lines) {
  std::mt19937 rng(seed);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  static const char* const kDays[] = {"01/Mar/2010", "02/Mar/2010", "03/Mar/2010", "28/Feb/2010"};
  static const char* const kUrls[] = {"/", "/a.html", "/old.html", "/logo.png", "/b.php", "/gone"};
  static const char* const kReferers[] = {"-", "http://a.example/", "http://b.example/",
                                          "http://www.google.com/search?q=x"};
  static const char* const kAgents[] = {"Mozilla/5.0", "Opera/9.80", "Googlebot/2.1", "curl/8.0"};
  static const int kCodes[] = {200, 200, 200, 304, 404, 410, 500};
  std::string text;
  for (int k = 0; k < lines; ++k) {
    text += Line("10.0." + std::to_string(below(3)) + "." + std::to_string(below(30)),
                 kDays[below(4)], below(24), kUrls[below(6)], kCodes[below(7)],
                 kReferers[below(4)], std::string(kAgents[below(4)]) + " r" + std::to_string(below(4)));
  }
  return text;
}

// Cut at line ends into `count` pieces.
Rows Pieces(const std::string& text, int count) {
  Rows pieces;
  size_t at = 0;
  for (int k = 1; k <= count; ++k) {
    size_t end = k == count ? text.size() : text.find('\n', text.size() * k / count) + 1;
    pieces.push_back(text.substr(at, end - at));
    at = end;
  }
  return pieces;
}

TEST(DimensionReports, ShowWhatTheLogHolds) {
  TempDir dir;
  WriteFile(dir / "a.log",
            Line("10.0.0.1", "01/Mar/2010", 9, "/a.html", 200, "-") +
                Line("10.0.0.1", "01/Mar/2010", 9, "/a.html", 200, "-") +
                Line("10.0.0.2", "01/Mar/2010", 9, "/a.html", 200, "-", "Opera") +
                Line("10.0.0.2", "02/Mar/2010", 23, "/c.html", 200, "-") +
                // A broken link to an image is a broken link: the page filter has no say.
                Line("10.0.0.3", "01/Mar/2010", 10, "/logo.png", 404, "http://b.example/") +
                Line("10.0.0.3", "01/Mar/2010", 10, "/logo.png", 404, "http://a.example/") +
                Line("10.0.0.3", "02/Mar/2010", 10, "/old.html", 410, "http://b.example/") +
                Line("10.0.0.4", "02/Mar/2010", 10, "/old.html", 410, "http://b.example/") +
                Line("10.0.0.4", "02/Mar/2010", 10, "/old.html", 410, "http://c.example/") +
                // Robots count in neither.
                Line("66.249.0.1", "02/Mar/2010", 11, "/gone.html", 404, "-", "Googlebot/2.1"));
  Cli(dir, {"analyse", "--db", "a.dt", "a.log"});
  EXPECT_EQ("code  requests  share, %\n"
            "200   4         44.44\n"
            "410   3         33.33\n"
            "404   2         22.22\n",
            Cli(dir, {"report", "status", "--db", "a.dt"}).out);
  // The busiest referer; of two as busy, the first in byte order.
  EXPECT_EQ("url,requests,referer\n"
            "/old.html,3,http://b.example/\n"
            "/logo.png,2,http://a.example/\n",
            Cli(dir, {"report", "notfound", "--db", "a.dt", "--format", "csv"}).out);
  // Views as the days count them (a page answered 410 is a view), visitors per day and hour
  // summed over the days; 24 rows, idle hours too.
  const std::string hours = Cli(dir, {"report", "hours", "--db", "a.dt", "--format", "csv"}).out;
  EXPECT_EQ(0u, hours.find("hour,views,visitors\n0,0,0\n")) << hours;
  EXPECT_NE(std::string::npos, hours.find("\n9,3,2\n10,3,2\n")) << hours;
  EXPECT_NE(std::string::npos, hours.find("\n23,1,1\n")) << hours;
  EXPECT_EQ(25, std::count(hours.begin(), hours.end(), '\n')) << hours;
  const std::string common = Cli(dir, {"report", "common", "--db", "a.dt"}).out;
  for (const char* line : {"first day  01/Mar/2010\n", "last day   02/Mar/2010\n", "days       2\n",
                           "views      7\n", "visitors   5 (sum of the days)\n",
                           "addresses  4 (distinct)\n", "not found  5 requests\n",
                           "robots     10.0% of the requests\n"}) {
    EXPECT_NE(std::string::npos, common.find(line)) << line << "\n" << common;
  }
  // The described CSV keeps its bytes: no summary there.
  EXPECT_EQ("Дата,Хосты,Посетители,Просмотры,Searches\n01/Mar/2010,2,2,3,0\n02/Mar/2010,3,3,4,0\n",
            Cli(dir, {"report", "common", "--db", "a.dt", "--format", "csv"}).out);
}

TEST(DimensionReports, AddedInPiecesAndMergedFromPartsTheyAreThoseOfOneRun) {
  for (uint32_t seed = 1; seed <= 2; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    const Rows pieces = Pieces(SiteLog(seed, 1500), 4);
    ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / "one.dt", "one"));
    fs::create_directory(dir / "logs");
    for (size_t k = 0; k < pieces.size(); ++k) {
      const std::string log = "logs/piece" + std::to_string(k) + ".log";
      WriteFile(dir / log, pieces[k]);
      // Added piece by piece...
      std::vector<std::string> add = {"analyse", "--db", "added.dt", log};
      if (k > 0) add.insert(add.begin() + 1, "--add");
      Cli(dir, add);
      // ...and each counted alone, as a part.
      Cli(dir, {"analyse", "--db", "part" + std::to_string(k) + ".dt", log});
    }
    Cli(dir, {"merge", "--db", "merged.dt", "part0.dt", "part1.dt", "part2.dt", "part3.dt"});
    fs::copy_file(dir / "part0.dt", dir / "grown.dt");
    Cli(dir, {"merge", "--db", "grown.dt", "part1.dt", "part2.dt"});
    Cli(dir, {"merge", "--db", "grown.dt", "part3.dt"});
    const auto expected = AllReportBytes(dir, "one.dt");
    ASSERT_NE(std::string::npos, expected.at("notfound.csv").find("\n/old.html,"));
    for (const char* db : {"added.dt", "merged.dt", "grown.dt"})
      EXPECT_EQ(Rows{}, ReportDifferences(expected, AllReportBytes(dir, db))) << db;
    // Where an add has put a row never shows.
    ShuffleKeyedRows(dir / "added.dt", seed);
    Cli(dir, {"merge", "--db", "added.dt", "part0.dt"});  // known: skipped, nothing changes
    EXPECT_EQ(Rows{}, ReportDifferences(expected, AllReportBytes(dir, "added.dt")));
  }
}

TEST(DimensionReports, StatisticsCountedWithoutADimensionNeverShowNumbersForIt) {
  TempDir dir;
  const Rows pieces = Pieces(SiteLog(5, 600), 2);
  ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / "one.dt", "one"));
  fs::create_directory(dir / "logs");
  WriteFile(dir / "logs/p0.log", pieces[0]);
  WriteFile(dir / "logs/p1.log", pieces[1]);
  // A database from before the dimensions: the five tables and the day sets only.
  Cli(dir, {"analyse", "--db", "old.dt", "logs/p0.log"});
  Exec(dir / "old.dt",
       "DROP TABLE counted_dimensions; DROP TABLE dim_status; DROP TABLE dim_notfound; "
       "DROP TABLE dim_hours");
  fs::copy_file(dir / "old.dt", dir / "old-target.dt");
  Cli(dir, {"analyse", "--db", "part1.dt", "logs/p1.log"});

  // An add to it counts the five tables as ever and leaves the dimensions out, with a note.
  const CliResult add = Cli(dir, {"analyse", "--db", "old.dt", "--add", "logs/p1.log"});
  EXPECT_NE(std::string::npos, add.out.find("\"status\" is not counted")) << add.out;
  EXPECT_EQ(DumpWithDaySets(dir / "one.dt"), DumpWithDaySets(dir / "old.dt"));
  for (const char* report : {"status", "notfound", "hours"}) {
    const CliResult text = Cli(dir, {"report", report, "--db", "old.dt"});
    EXPECT_NE(std::string::npos, text.out.find("are not counted in these statistics")) << text.out;
    const CliResult csv = Cli(dir, {"report", report, "--db", "old.dt", "--format", "csv"});
    EXPECT_EQ(1, std::count(csv.out.begin(), csv.out.end(), '\n')) << "header only: " << csv.out;
    EXPECT_NE(std::string::npos, csv.err.find("not counted")) << csv.err;
  }
  EXPECT_NE(std::string::npos,
            Cli(dir, {"report", "common", "--db", "old.dt"}).out.find("not found  not counted\n"));

  // A part counted with them merges into it the same way; one counted without them does not
  // merge into statistics that count them.
  Cli(dir, {"merge", "--db", "old-target.dt", "part1.dt"});
  EXPECT_EQ(DumpWithDaySets(dir / "one.dt"), DumpWithDaySets(dir / "old-target.dt"));
  Cli(dir, {"analyse", "--db", "target.dt", "logs/p1.log"});
  const std::string before = ReadFile(dir / "target.dt");
  fs::copy_file(dir / "old.dt", dir / "old-part.dt");
  Exec(dir / "old-part.dt", "DELETE FROM analysed_logs WHERE name LIKE '%p1.log'");
  const CliResult refused = RunCli(dir.path(), {"merge", "--db", "target.dt", "old-part.dt"});
  EXPECT_EQ(1, refused.status) << refused.out;
  EXPECT_NE(std::string::npos, refused.err.find("count \"hours\", the added ones were counted "
                                                "without it"))
      << refused.err;
  EXPECT_TRUE(before == ReadFile(dir / "target.dt")) << "the target changed";

  // A replacing run counts them again.
  Cli(dir, {"analyse", "--db", "old.dt", "logs/p0.log", "logs/p1.log"});
  EXPECT_EQ(Rows{}, ReportDifferences(AllReportBytes(dir, "one.dt"), AllReportBytes(dir, "old.dt")));
}

}  // namespace
}  // namespace hitsieve::testing
