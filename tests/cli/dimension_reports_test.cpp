// The dimensions end to end with the real hitsieve-cli: their reports, adding in pieces and
// merging parts (every report byte for byte that of one run), and statistics counted without a
// dimension, which never show numbers for it.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "engine/dimensions/dimension.h"
#include "report_bytes.h"
#include "engine/text.h"
#include "store/dimension_reports.h"
#include "store/stats_database.h"

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

CliResult Cli(const TempDir& dir, const std::vector<std::string>& args) {
  CliResult run = RunCli(dir.path(), args);
  EXPECT_EQ(0, run.status) << run.err;
  return run;
}

// A country database in the MaxMind DB format written by tests/data/make-country-db.pl into
// `dir`: 1.2.3.0/24 DE, 5.6.0.0/16 FR, 200.1.0.0/16 BR, 2001:db8::/32 JP, 2001:db8:1::/48 CA.
// Its shape ("code" or "iso") is in its type, so two shapes are two builds.
std::string CountryDb(const TempDir& dir, const std::string& shape) {
  const std::string path = (dir / ("countries-" + shape + ".mmdb")).string();
  const std::string command = std::string("/usr/bin/perl '") + HITSIEVE_SOURCE_DIR +
                              "/tests/data/make-country-db.pl' '" + path + "' " + shape + " 6";
  EXPECT_EQ(0, std::system(command.c_str())) << command;
  return path;
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
  static const char* const kAgents[] = {
      "Mozilla/5.0 (X11; Linux x86_64; rv:12#.0) Gecko/20100101 Firefox/12#.0", "Opera/9.80",
      "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
      "Gecko) Version/1#.1 Mobile/15E148 Safari/604.1",
      "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/12#.0.0.0 Safari/537.36",
      "Googlebot/2.1", "curl/8.0"};
  static const char* const kNetworks[] = {"10.0.", "1.2.3.", "5.6.", "200.1.", "2001:db8::",
                                          "2001:db8:1::"};
  static const int kCodes[] = {200, 200, 200, 304, 404, 410, 500};
  std::string text;
  for (int k = 0; k < lines; ++k) {
    const int network = below(6);
    std::string ip = kNetworks[network] + std::to_string(below(30));
    if (network == 0 || network == 2) ip += "." + std::to_string(below(3));
    std::string agent = kAgents[below(6)];
    for (size_t at = agent.find('#'); at != std::string::npos; at = agent.find('#'))
      agent.replace(at, 1, std::to_string(below(3)));
    text += Line(ip, kDays[below(4)], below(24), kUrls[below(6)], kCodes[below(7)],
                 kReferers[below(4)], agent + " r" + std::to_string(below(4)));
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
    const std::string countries = CountryDb(dir, "code");
    const Rows pieces = Pieces(SiteLog(seed, 1500), 4);
    ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / "one.dt", "one",
                                       {"--geoip", countries}));
    fs::create_directory(dir / "logs");
    for (size_t k = 0; k < pieces.size(); ++k) {
      const std::string log = "logs/piece" + std::to_string(k) + ".log";
      WriteFile(dir / log, pieces[k]);
      // Added piece by piece...
      std::vector<std::string> add = {"analyse", "--db", "added.dt", "--geoip", countries, log};
      if (k > 0) add.insert(add.begin() + 1, "--add");
      Cli(dir, add);
      // ...and each counted alone, as a part.
      Cli(dir, {"analyse", "--db", "part" + std::to_string(k) + ".dt", "--geoip", countries, log});
    }
    Cli(dir, {"merge", "--db", "merged.dt", "part0.dt", "part1.dt", "part2.dt", "part3.dt"});
    fs::copy_file(dir / "part0.dt", dir / "grown.dt");
    Cli(dir, {"merge", "--db", "grown.dt", "part1.dt", "part2.dt"});
    Cli(dir, {"merge", "--db", "grown.dt", "part3.dt"});
    const auto expected = AllReportBytes(dir, "one.dt");
    ASSERT_NE(std::string::npos, expected.at("notfound.csv").find("\n/old.html,"));
    for (const char* row : {"\nDE,Germany,", "\nJP,Japan,", "\nCA,Canada,", "\n,unknown,"})
      EXPECT_NE(std::string::npos, expected.at("countries.csv").find(row)) << row;
    EXPECT_NE(std::string::npos, expected.at("versions.csv").find("\nFirefox,122,"));
    EXPECT_NE(std::string::npos, expected.at("devices.csv").find("\nphone,"));
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
  std::string drop = "DROP TABLE counted_dimensions;";
  for (const DimensionShape* shape : KnownDimensionShapes())
    drop += " DROP TABLE IF EXISTS " + DimensionTableName(shape->name) + ";";
  Exec(dir / "old.dt", drop);
  fs::copy_file(dir / "old.dt", dir / "old-target.dt");
  Cli(dir, {"analyse", "--db", "part1.dt", "logs/p1.log"});

  // An add to it counts the five tables as ever and leaves the dimensions out, with a note.
  const CliResult add = Cli(dir, {"analyse", "--db", "old.dt", "--add", "logs/p1.log"});
  EXPECT_NE(std::string::npos, add.out.find("\"status\" is not counted")) << add.out;
  EXPECT_EQ(DumpWithDaySets(dir / "one.dt"), DumpWithDaySets(dir / "old.dt"));
  for (const DimensionReport& dimension : DimensionReports()) {
    const std::string report(dimension.name);
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
  // The first dimension in name order that the part lacks.
  EXPECT_NE(std::string::npos, refused.err.find("count \"browsers\", the added ones were counted "
                                                "without it"))
      << refused.err;
  EXPECT_TRUE(before == ReadFile(dir / "target.dt")) << "the target changed";

  // A replacing run counts them again.
  Cli(dir, {"analyse", "--db", "old.dt", "logs/p0.log", "logs/p1.log"});
  EXPECT_EQ(Rows{}, ReportDifferences(AllReportBytes(dir, "one.dt"), AllReportBytes(dir, "old.dt")));
}


TEST(DimensionReports, DescribedOnlyCountsTheFiveTablesAsEverAndNoDimension) {
  TempDir dir;
  WriteFile(dir / "a.log", SiteLog(4, 300));
  Cli(dir, {"analyse", "--db", "all.dt", "a.log"});
  Cli(dir, {"analyse", "--db", "five.dt", "--described-only", "a.log"});
  EXPECT_EQ(DumpWithDaySets(dir / "all.dt"), DumpWithDaySets(dir / "five.dt"));
  EXPECT_EQ(Rows{}, QueryRows(dir / "five.dt", "SELECT * FROM counted_dimensions"));
  const CliResult text = Cli(dir, {"report", "browsers", "--db", "five.dt"});
  EXPECT_NE(std::string::npos, text.out.find("are not counted in these statistics")) << text.out;
  EXPECT_EQ(2, RunCli(dir.path(), {"analyse", "--db", "five.dt", "--described-only", "--geoip",
                                   "x.mmdb", "a.log"}).status);
}

// The hostile log's texts as agents and addresses of counted requests: the run ends well and
// no report of browsers, systems or countries lets a control byte through.
TEST(DimensionReports, HostileAgentsAndAddressesStayInert) {
  TempDir dir;
  std::ifstream in(std::string(HITSIEVE_TEST_DATA) + "/hostile-lines.log", std::ios::binary);
  std::string log;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '"');) fields.push_back(field);
    for (size_t k = 1; k < fields.size(); k += 2) {
      std::string agent = fields[k];
      agent.erase(std::remove(agent.begin(), agent.end(), '\0'), agent.end());
      const std::string address = line.substr(0, std::min(line.find(' '), size_t{60}));
      log += Line(address.empty() || address.find('\0') != std::string::npos ? "1.2.3.4" : address,
                  "01/Mar/2010", 9, "/a.html", 200, "-", agent + " Gecko/20100101 Firefox/12" + std::to_string(k) + ".0");
    }
  }
  WriteFile(dir / "a.log", log);
  Cli(dir, {"analyse", "--db", "a.dt", "--geoip", CountryDb(dir, "code"), "a.log"});
  for (const char* report : {"browsers", "versions", "systems", "devices", "countries"}) {
    for (const char* format : {"text", "csv"}) {
      const std::string out = Cli(dir, {"report", report, "--db", "a.dt", "--format", format}).out;
      EXPECT_GT(std::count(out.begin(), out.end(), '\n'), 1) << report << " " << format;
      if (std::string(report) == "versions") EXPECT_NE(std::string::npos, out.find("Firefox")) << out;
      for (size_t k = 0; k < out.size(); ++k) {
        const auto byte = static_cast<unsigned char>(out[k]);
        const auto next = k + 1 < out.size() ? static_cast<unsigned char>(out[k + 1]) : 0;
        EXPECT_FALSE((byte < 0x20 && byte != '\n') || byte == 0x7f ||
                     (byte == 0xc2 && next >= 0x80 && next <= 0x9f))
            << report << " " << format << ": byte " << int{byte} << " at " << k;
      }
    }
  }
}

TEST(DimensionReports, ACountryDatabaseThatCannotBeUsedIsRefusedBeforeTheRun) {
  TempDir dir;
  WriteFile(dir / "a.log", SiteLog(3, 50));
  WriteFile(dir / "damaged.mmdb", std::string(4096, '\x17') + "not a country database");
  fs::create_directory(dir / "folder.mmdb");
  const std::string file = "file.dt";
  for (const std::string& geoip : {std::string("missing.mmdb"), std::string("damaged.mmdb"),
                                   std::string("folder.mmdb"), std::string()}) {
    SCOPED_TRACE("--geoip '" + geoip + "'");
    const CliResult run = RunCli(dir.path(), {"analyse", "--db", file, "--geoip", geoip, "a.log"});
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("--geoip")) << run.err;
    if (!geoip.empty()) EXPECT_NE(std::string::npos, run.err.find(geoip)) << run.err;
    EXPECT_FALSE(fs::exists(dir / file)) << "a database was written";
  }
  // One that can be used is no error, nor does an existing database change on a refusal.
  const std::string countries = CountryDb(dir, "code");
  Cli(dir, {"analyse", "--db", file, "--geoip", countries, "a.log"});
  const std::string before = ReadFile(dir / file);
  EXPECT_EQ(2, RunCli(dir.path(), {"analyse", "--db", file, "--add", "--geoip", "damaged.mmdb",
                                   "a.log"}).status);
  EXPECT_TRUE(before == ReadFile(dir / file)) << "the database changed";
}

TEST(DimensionReports, CountriesOfAnotherCountryDatabaseAreNeverAddedOrMergedIn) {
  TempDir dir;
  const std::string code = CountryDb(dir, "code"), iso = CountryDb(dir, "iso");
  const Rows pieces = Pieces(SiteLog(9, 400), 2);
  fs::create_directory(dir / "logs");
  WriteFile(dir / "logs/p0.log", pieces[0]);
  WriteFile(dir / "logs/p1.log", pieces[1]);
  Cli(dir, {"analyse", "--db", "a.dt", "--geoip", code, "logs/p0.log"});
  const std::string before = ReadFile(dir / "a.dt");

  // The two give the same countries, but are two builds: what the counts rest on is unknown.
  const CliResult add =
      RunCli(dir.path(), {"analyse", "--db", "a.dt", "--add", "--geoip", iso, "logs/p1.log"});
  EXPECT_EQ(1, add.status) << add.out;
  EXPECT_NE(std::string::npos, add.err.find("count \"countries\" with Test-Country-code ")) << add.err;
  EXPECT_NE(std::string::npos, add.err.find("the added ones with Test-Country-iso ")) << add.err;
  EXPECT_TRUE(before == ReadFile(dir / "a.dt")) << "the database changed";

  Cli(dir, {"analyse", "--db", "part.dt", "--geoip", iso, "logs/p1.log"});
  const CliResult merge = RunCli(dir.path(), {"merge", "--db", "a.dt", "part.dt"});
  EXPECT_EQ(1, merge.status) << merge.out;
  EXPECT_NE(std::string::npos, merge.err.find("\"countries\" with Test-Country-code ")) << merge.err;
  EXPECT_TRUE(before == ReadFile(dir / "a.dt")) << "the database changed";

  // With the same database the add goes through; the countries of one run without --add can
  // come from any database.
  Cli(dir, {"analyse", "--db", "a.dt", "--add", "--geoip", code, "logs/p1.log"});
  Cli(dir, {"analyse", "--db", "a.dt", "--geoip", iso, "logs/p0.log", "logs/p1.log"});
}

TEST(DimensionReports, CountryNamesInEitherLanguage) {
  TempDir dir;
  WriteFile(dir / "a.log", Line("1.2.3.4", "01/Mar/2010", 9, "/a.html", 200, "-") +
                               Line("1.2.3.5", "01/Mar/2010", 9, "/a.html", 200, "-") +
                               Line("2001:db8::1", "01/Mar/2010", 9, "/a.html", 200, "-") +
                               Line("192.168.1.1", "01/Mar/2010", 9, "/a.html", 200, "-"));
  Cli(dir, {"analyse", "--db", "a.dt", "--geoip", CountryDb(dir, "iso"), "a.log"});
  EXPECT_EQ("code  country  visitors  views  share, %\n"
            "DE    Germany  2         2      50.00\n"
            "      unknown  1         1      25.00\n"
            "JP    Japan    1         1      25.00\n",
            Cli(dir, {"report", "countries", "--db", "a.dt"}).out);
  // Every text of a report is in Windows-1251, names of ours too.
  StatsDatabase::SetFileName((dir / "a.dt").string(), /*read_only=*/true);
  std::vector<Rows> rows;
  ForEachDimensionReportRow(*FindDimensionReport("countries"),
                            [&](const Rows& cells) { rows.push_back(cells); }, /*russian=*/true);
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ("Германия", Cp1251ToUtf8(rows[0][1]));
  EXPECT_EQ("неизвестно", Cp1251ToUtf8(rows[1][1]));
  EXPECT_EQ("Япония", Cp1251ToUtf8(rows[2][1]));
}

}  // namespace
}  // namespace hitsieve::testing
