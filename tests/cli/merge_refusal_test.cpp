// Parts that `merge` must refuse, with the real hitsieve-cli: damaged or hostile databases
// (made by editing a good part with SQLite itself), parts that could count a log twice or lose
// days, and files that are no database at all. Whatever the refused part's place in the list,
// the command exits 1, names the part, and the target keeps every byte (a new target is never
// created).

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

std::string Hit(const std::string& day, const std::string& url, const std::string& ip,
                const std::string& agent = "Mozilla/5.0") {
  return ip + " - - [" + day + ":10:00:00 +0400] \"GET " + url + " HTTP/1.1\" 200 10 \"-\" \"" +
         agent + "\"\n";
}

std::vector<std::string> Files(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class MergeRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every log hits /a.html on 01/Mar/2010 from its own address.
    for (const char* name : {"target", "good1", "good2", "bad"}) {
      WriteFile(dir_ / (std::string(name) + ".log"),
                Hit("01/Mar/2010", "/a.html", std::string("10.0.0.") + std::to_string(name[0])) +
                    Hit("02/Mar/2010", "/b.html", "10.1.1.1", name));
      Analyse(std::string(name) + ".dt", {std::string(name) + ".log"});
    }
  }
  void Analyse(const std::string& db, std::vector<std::string> args) {
    args.insert(args.begin(), {"analyse", "--db", db});
    ASSERT_EQ(0, RunCli(dir_.path(), args).status) << db;
  }
  TempDir dir_;
};

TEST_F(MergeRefusal, AHostilePartAnywhereInTheListLeavesTheTargetByteForByte) {
  const std::string kMax = "9223372036854775807";
  const struct {
    const char* label;
    std::string sql;   // applied to a copy of a good part; empty: the file is replaced
    std::string file;  // the replacement's bytes, when `sql` is empty
    std::string says;
    bool names_it = true;  // a sum past the largest count may be blamed on the part after it
  } cases[] = {
      {"text in a count", "UPDATE page_stats SET visits = '12abc'", "", "page_stats.visits of row"},
      {"real in a count", "UPDATE common_stats SET views = 1.5", "", "common_stats.views of row"},
      {"negative count", "INSERT INTO referer_stats(referer, type, cnt) VALUES('http://h/', 1, -1)",
       "", "referer_stats.cnt of row"},
      {"null count", "INSERT INTO query_stats VALUES(NULL, 'q', 0, NULL, 0, 0, 0, 0, 0)", "",
       "query_stats.google of row"},
      {"odd referer kind", "INSERT INTO referer_stats(referer, type, cnt) VALUES('http://h/', 2, 1)",
       "", "referer_stats.type of row"},
      {"sum past the largest count", "UPDATE page_stats SET visits = " + kMax, "",
       "the counts of page_stats would add up to more than " + kMax, false},
      {"phrase total past the largest count",
       "INSERT INTO query_stats VALUES(NULL, 'q', 0, " + kMax + ", 1, 0, 0, 0, 0)", "",
       "the counts of query_stats would add up to more than " + kMax},
      {"day row twice",
       "INSERT INTO common_stats(date, ips, visitors, views, searches) SELECT date, ips, visitors, "
       "views, searches FROM common_stats",
       "", "common_stats holds \"01/Mar/2010\" in more than one row"},
      {"page row twice",
       "INSERT INTO page_stats(page, visits, searches, bandwidth, google, yandex, rambler, mailru, "
       "aport, webalta) SELECT page, 1, 0, 0, 0, 0, 0, 0, 0, 0 FROM page_stats",
       "", "page_stats holds \"/a.html\" in more than one row"},
      {"day sets twice", "INSERT INTO day_sets(date, ips, visitors) SELECT date, ips, visitors FROM day_sets",
       "", "day_sets holds the sets of day"},
      {"null day set", "UPDATE day_sets SET ips = NULL", "", "day_sets.ips of row"},
      {"day set of 7 bytes", "UPDATE day_sets SET visitors = x'01020304050607'", "", "day_sets.visitors of row"},
      {"day set out of order", "UPDATE day_sets SET ips = x'02000000000000000100000000000000'", "",
       "are damaged"},
      {"day set as text", "UPDATE day_sets SET ips = '12345678'", "", "day_sets.ips of row"},
      {"head length that disagrees", "UPDATE analysed_logs SET head_bytes = head_bytes - 1", "",
       "analysed_logs.head_bytes of row"},
      {"no remembered logs", "DELETE FROM analysed_logs", "", "remembers no logs"},
      {"log format that is no text", "UPDATE analysed_logs SET format = x'00'", "",
       "analysed_logs.format of row"},
      {"view in a table's place",
       "ALTER TABLE page_stats RENAME TO p; CREATE VIEW page_stats AS SELECT * FROM p", "",
       "its page_stats is a view"},
      {"trigger on a table", "CREATE TRIGGER t AFTER INSERT ON query_stats BEGIN SELECT 1; END", "",
       "holds a trigger on or named like query_stats"},
      {"computed column",
       "ALTER TABLE robot_log RENAME TO r; CREATE TABLE robot_log (rec_id INTEGER PRIMARY KEY, "
       "name TEXT, action TEXT, code INTEGER, ip TEXT, date TEXT, x AS (code + 1))",
       "", "its robot_log has computed"},
      {"no set tables", "DROP TABLE day_sets", "", "written without the tables that merging needs"},
      // The dimensions' tables are checked as strictly as the five.
      {"negative dimension count", "UPDATE dim_status SET requests = -1", "", "dim_status row"},
      {"dimension key of bytes", "UPDATE dim_status SET key = x'3230'", "", "dim_status row"},
      {"dimension row twice",
       "INSERT INTO dim_status(day, key, sub, requests) SELECT day, key, sub, 1 FROM dim_status",
       "", "dim_status holds \"200\" of day \"01/Mar/2010\" in more than one row"},
      {"visitor set of 7 bytes", "UPDATE dim_hours SET visitors = x'01020304050607'", "",
       "dim_hours row"},
      {"visitor set out of order",
       "UPDATE dim_hours SET visitors = x'02000000000000000100000000000000'", "", "are damaged"},
      {"dimension sum past the largest count", "UPDATE dim_status SET requests = " + kMax, "",
       "the counts of dim_status would add up to more than " + kMax, false},
      {"unknown dimension", "INSERT INTO counted_dimensions(name, version) VALUES('nosuch', '')",
       "", "\"nosuch\", which this version does not know"},
      {"dimension listed twice",
       "INSERT INTO counted_dimensions(name, version) VALUES('status', '')", "",
       "lists a dimension twice"},
      {"dimension without its table", "DROP TABLE dim_hours", "", "holds no table dim_hours"},
      {"view in a dimension's place",
       "ALTER TABLE dim_status RENAME TO s; CREATE VIEW dim_status AS SELECT * FROM s", "",
       "its dim_status is a view"},
      {"dimension counted with other data",
       "UPDATE counted_dimensions SET version = 'list 2' WHERE name = 'hours'", "",
       "count \"hours\" with", false},
      {"no database", "", "not a database, only text\n", "file is not a database"},
      {"empty file", "", "", "does not hold the statistics tables"},
  };
  const std::string target_bytes = ReadFile(dir_ / "target.dt");
  for (const auto& c : cases) {
    for (int position = 0; position < 3; ++position) {
      SCOPED_TRACE(std::string(c.label) + ", at " + std::to_string(position));
      fs::copy_file(dir_ / "bad.dt", dir_ / "hostile.dt", fs::copy_options::overwrite_existing);
      if (!c.sql.empty()) {
        Exec(dir_ / "hostile.dt", c.sql);
      } else {
        WriteFile(dir_ / "hostile.dt", c.file);
      }
      std::vector<std::string> parts = {"good1.dt", "good2.dt"};
      parts.insert(parts.begin() + position, "hostile.dt");
      for (const bool fresh : {false, true}) {
        std::vector<std::string> args = {"merge", "--db", fresh ? "new.dt" : "target.dt"};
        args.insert(args.end(), parts.begin(), parts.end());
        const std::vector<std::string> before = Files(dir_.path());
        const CliResult run = RunCli(dir_.path(), args);
        EXPECT_EQ(1, run.status) << run.out;
        if (c.names_it) {
          EXPECT_NE(std::string::npos, run.err.find("hostile.dt: ")) << run.err;
        }
        EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err;
        EXPECT_TRUE(target_bytes == ReadFile(dir_ / "target.dt")) << "the target changed";
        EXPECT_EQ(before, Files(dir_.path())) << "a file was left behind";
      }
    }
  }
  // The good parts themselves merge, and a new target appears only then.
  const CliResult run = RunCli(dir_.path(), {"merge", "--db", "new.dt", "good1.dt", "good2.dt"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ((Rows{"01/Mar/2010|2", "02/Mar/2010|2"}),
            QueryRows(dir_ / "new.dt", "SELECT date, views FROM common_stats ORDER BY rec_id"));
}

TEST_F(MergeRefusal, WhatIsNoRegularFileIsRefusedWithoutWaitingOnIt) {
  ASSERT_EQ(0, ::mkfifo((dir_ / "pipe.dt").c_str(), 0600));
  const struct {
    std::string part;
    std::string says;
    bool names_it = true;  // a sum past the largest count may be blamed on the part after it
  } cases[] = {{(dir_ / "pipe.dt").string(), "not a regular file"},
               {"/dev/zero", "not a regular file"},
               {dir_.path().string(), "not a regular file"},
               {"missing.dt", "no such database file"}};
  const std::string target_bytes = ReadFile(dir_ / "target.dt");
  for (const auto& c : cases) {
    for (const char* db : {"target.dt", "new.dt"}) {
      const CliResult run = RunCli(dir_.path(), {"merge", "--db", db, "good1.dt", c.part});
      EXPECT_EQ(1, run.status) << c.part;
      EXPECT_NE(std::string::npos, run.err.find(c.part + ": " + c.says)) << run.err;
      EXPECT_TRUE(target_bytes == ReadFile(dir_ / "target.dt")) << c.part;
      EXPECT_FALSE(fs::exists(dir_ / "new.dt")) << c.part;
    }
  }
}

// A log the target counted for a period can only be skipped when the part counted it for the
// same days or fewer; a part that counted it for other days would lose them silently.
TEST_F(MergeRefusal, ALogCountedForAnotherPeriodIsRefusedAsAnAddRefusesIt) {
  Analyse("period.dt", {"--from", "2010-03-01", "--to", "2010-03-01", "good1.log"});
  const struct {
    std::vector<std::string> period;
    bool skipped;
  } cases[] = {{{"--from", "2010-03-01", "--to", "2010-03-01"}, true},
               {{}, false},
               {{"--from", "2010-03-01"}, false},
               {{"--to", "2010-03-01"}, false},
               {{"--from", "2010-02-28", "--to", "2010-03-01"}, false}};
  const std::string before = ReadFile(dir_ / "period.dt");
  for (const auto& c : cases) {
    std::string label;
    for (const std::string& word : c.period) label += word + " ";
    SCOPED_TRACE(label);
    Analyse("part.dt", [&] {
      std::vector<std::string> args = c.period;
      args.push_back("good1.log");
      return args;
    }());
    const CliResult run = RunCli(dir_.path(), {"merge", "--db", "period.dt", "good2.dt", "part.dt"});
    if (c.skipped) {
      EXPECT_EQ(0, run.status) << run.err;
      EXPECT_NE(std::string::npos, run.out.find("already merged: part.dt")) << run.out;
      fs::copy_file(dir_ / "period.dt", dir_ / "period-merged.dt");
      WriteFile(dir_ / "period.dt", before);
      continue;
    }
    EXPECT_EQ(1, run.status) << run.out;
    EXPECT_NE(std::string::npos,
              run.err.find("part.dt: cannot add days outside 2010-03-01 to 2010-03-01 from the first"))
        << run.err;
    EXPECT_TRUE(before == ReadFile(dir_ / "period.dt")) << "the target changed";
  }
  // The narrower part's days were all counted: the merge brought good2's only.
  EXPECT_EQ((Rows{"01/Mar/2010|2", "02/Mar/2010|1"}),
            QueryRows(dir_ / "period-merged.dt", "SELECT date, views FROM common_stats ORDER BY rec_id"));
}

// Logs are told apart by more than their first line: many logs of one server begin with the
// same header lines. Only a log that may be a copy of a counted one (the same head) is refused.
// When one log is shorter than the other's head, the longer log's file tells whether it begins
// with the shorter one; a file that is gone or holds other text can tell nothing: refused.
TEST_F(MergeRefusal, LogsWithTheSameFirstLinesMergeUnlessOneMayContainTheOther) {
  const std::string header = "#Software: web server 10.0\n#Version: 1.0\n#Fields: combined\n";
  std::string longer_a = header, longer_b = header;
  for (int i = 0; i < 900; ++i) {  // both longer than the 64 KiB head, different inside it
    longer_a += Hit("03/Mar/2010", "/a" + std::to_string(i) + ".html", "10.2.0.1");
    longer_b += Hit("03/Mar/2010", "/b" + std::to_string(i) + ".html", "10.2.0.2");
  }
  ASSERT_GT(longer_a.size(), size_t{64} << 10);
  const std::string short_a = header + Hit("04/Mar/2010", "/x.html", "10.3.0.1");
  const std::string short_b = header + Hit("04/Mar/2010", "/y.html", "10.3.0.2");  // same length
  const std::string short_c = short_b + Hit("05/Mar/2010", "/z.html", "10.3.0.3");  // longer
  enum Then { kKept, kRemoved, kRewritten };  // what becomes of the longer log's file
  const struct {
    const char* label;
    std::string first, second;
    bool merges;
    Then then = kKept;
  } cases[] = {{"two long logs", longer_a, longer_b, true},
               {"two short logs of one length", short_a, short_b, true},
               {"a short log, then a longer one", short_a, short_c, true},
               {"a longer short log, then a short one", short_c, short_a, true},
               {"a long log, then a short one", longer_a, short_b, true},
               {"a short log, then a long one", short_b, longer_a, true},
               {"a log and its start", longer_a, longer_a.substr(0, 70000), false},
               {"a long log and its short start", longer_a, longer_a.substr(0, 5000), false},
               {"a short start, then its long log", longer_a.substr(0, 5000), longer_a, false},
               {"a short log and its start", short_a + short_b, short_a, false},
               {"a start in the middle of a line", short_c, short_c.substr(0, 30), false},
               {"the longer log gone", short_a, short_c, false, kRemoved},
               {"the longer log rewritten", short_c, short_a, false, kRewritten},
               {"the long log gone", short_b, longer_a, false, kRemoved}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    WriteFile(dir / "one.log", c.first);
    WriteFile(dir / "two.log", c.second);
    ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "one.dt", "one.log"}).status);
    ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "two.dt", "two.log"}).status);
    const fs::path longer = dir / (c.first.size() > c.second.size() ? "one.log" : "two.log");
    if (c.then == kRemoved) fs::remove(longer);
    if (c.then == kRewritten) WriteFile(longer, std::string(ReadFile(longer).size(), '#'));
    const std::string before = ReadFile(dir / "one.dt");
    const CliResult run = RunCli(dir.path(), {"merge", "--db", "one.dt", "two.dt"});
    if (!c.merges) {
      EXPECT_EQ(1, run.status);
      EXPECT_NE(std::string::npos, run.err.find("shares its first lines")) << run.err;
      EXPECT_TRUE(before == ReadFile(dir / "one.dt"));
      continue;
    }
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("merged 1 part")) << run.out;
    ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "both.dt", "one.log", "two.log"}).status);
    EXPECT_EQ(DumpTables(dir / "both.dt"), DumpTables(dir / "one.dt"));
  }
}

}  // namespace
}  // namespace hitsieve::testing
