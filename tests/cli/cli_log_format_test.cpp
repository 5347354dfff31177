// hitsieve-cli analyse --log-format, end to end: "auto" over a folder that mixes combined,
// vhost_combined (compressed) and W3C logs stores what the same requests written as combined
// store, and names each file's format; the default reading suggests a format for a file it
// cannot read; a format that cannot be understood is refused before anything is written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "tests/engine/random_log.h"

namespace hitsieve::testing {
namespace {

using Request = RandomLog::Request;

std::string Uri(const Request& r) { return r.query.empty() ? r.path : r.path + "?" + r.query; }

std::string Combined(const Request& r) {
  return r.ip + " - - [" + r.day + ":13:55:36 +0000] \"" + r.method + " " + Uri(r) +
         " HTTP/1.1\" " + std::to_string(r.status) + " " + std::to_string(r.bytes) + " \"" +
         r.referer + "\" \"" + r.agent + "\"\n";
}

std::string W3c(const Request& r) {
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", r.year, r.month, r.day_of_month);
  std::string agent = r.agent;
  std::replace(agent.begin(), agent.end(), ' ', '+');
  return std::string(date) + " 13:55:36 " + r.ip + " " + r.method + " " + r.path + " " +
         (r.query.empty() ? "-" : r.query) + " " + std::to_string(r.status) + " " +
         std::to_string(r.bytes) + " " + agent + " " + r.referer + "\r\n";
}

class CliLogFormat : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(CliLogFormat, AutoOverMixedFilesStoresWhatTheCombinedLogOfTheSameRequestsStores) {
  RandomLog log(25);
  std::string combined, vhost, w3c = "#Software: IIS\r\n#Version: 1.0\r\n"
      "#Fields: date time c-ip cs-method cs-uri-stem cs-uri-query sc-status sc-bytes "
      "cs(User-Agent) cs(Referer)\r\n";
  std::string all_combined[3];
  for (int k = 0; k < 900; ++k) {
    const Request request = log.NextRequest();
    switch (k % 3) {
      case 0: combined += Combined(request); break;
      case 1: vhost += "www.example.com:80 " + Combined(request); break;
      default: w3c += W3c(request); break;
    }
    all_combined[k % 3] += Combined(request);
  }
  fs::create_directory(dir / "logs");
  WriteFile(dir / "logs/a-access.log", combined);
  WriteGzip(dir / "logs/b-vhosts.log.gz", vhost);
  WriteFile(dir / "logs/c-iis.log", w3c);
  const CliResult run =
      RunCli(dir.path(), {"analyse", "--db", "auto.dt", "--log-format", "auto", "--extensions", "",
                          "logs/a-access.log", "logs/b-vhosts.log.gz", "logs/c-iis.log"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("; 0 lines not recognised"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("a-access.log: combined\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("b-vhosts.log.gz: vhost_combined\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("c-iis.log: w3c\n"), std::string::npos) << run.out;

  fs::create_directory(dir / "same");
  for (int k = 0; k < 3; ++k)
    WriteFile(dir / ("same/" + std::string(1, static_cast<char>('a' + k)) + ".log"), all_combined[k]);
  const CliResult reference = RunCli(dir.path(), {"analyse", "--db", "combined.dt", "--extensions",
                                                  "", "same/a.log", "same/b.log", "same/c.log"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  EXPECT_EQ(DumpWithDaySets(dir / "auto.dt"), DumpWithDaySets(dir / "combined.dt"));

  // Without the option the vhost and W3C logs are not recognised, and the summary says which
  // format would read them; the combined log gets no such note.
  const CliResult plain = RunCli(dir.path(), {"analyse", "--db", "plain.dt", "logs/a-access.log",
                                              "logs/b-vhosts.log.gz", "logs/c-iis.log"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("b-vhosts.log.gz: 300 of 300 lines not recognised as combined; try "
                           "--log-format auto (it reads as vhost_combined)"),
            std::string::npos)
      << plain.out;
  EXPECT_NE(plain.out.find("c-iis.log: 303 of 303 lines not recognised as combined; try "
                           "--log-format auto (it reads as w3c)"),
            std::string::npos)
      << plain.out;
  EXPECT_EQ(plain.out.find("a-access.log:"), std::string::npos) << plain.out;
}

TEST_F(CliLogFormat, AddWithAFormatStoresWhatOneRunStores) {
  RandomLog log(7);
  const char* format = R"($remote_addr - $remote_user [$time_local] "$request" $status )"
                       R"($body_bytes_sent "$http_referer" "$http_user_agent" $request_time)";
  std::string first, second;
  for (int k = 0; k < 400; ++k) {
    std::string line = Combined(log.NextRequest());
    line.insert(line.size() - 1, " 0.012");
    (k < 250 ? first : second) += line;
  }
  WriteFile(dir / "a.log", first);
  WriteFile(dir / "b.log", second);
  ASSERT_EQ(RunCli(dir.path(), {"analyse", "--db", "add.dt", "--log-format", format, "a.log"}).status, 0);
  const CliResult add =
      RunCli(dir.path(), {"analyse", "--db", "add.dt", "--add", "--log-format", format, "a.log", "b.log"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.out.find("; 0 lines not recognised"), std::string::npos) << add.out;
  ASSERT_EQ(RunCli(dir.path(), {"analyse", "--db", "one.dt", "--log-format", format, "a.log", "b.log"}).status, 0);
  EXPECT_EQ(DumpWithDaySets(dir / "add.dt"), DumpWithDaySets(dir / "one.dt"));
}

// A W3C log that grew is added from where the last run stopped, still read with the #Fields:
// line above the new lines, alone or recognised by auto.
TEST_F(CliLogFormat, AGrownW3cLogAddsItsNewLinesUnderItsFields) {
  RandomLog log(11);
  std::string early = "#Software: IIS\r\n#Fields: date time c-ip cs-method cs-uri-stem "
                      "cs-uri-query sc-status sc-bytes cs(User-Agent) cs(Referer)\r\n";
  std::string late;
  for (int k = 0; k < 300; ++k) (k < 100 ? early : late) += W3c(log.NextRequest());
  for (const std::string format : {"w3c", "auto"}) {
    const std::string db = format + "-add.dt";
    WriteFile(dir / "u_ex.log", early);
    ASSERT_EQ(RunCli(dir.path(), {"analyse", "--db", db, "--log-format", format, "u_ex.log"}).status, 0);
    WriteFile(dir / "u_ex.log", early + late);
    const CliResult add =
        RunCli(dir.path(), {"analyse", "--db", db, "--add", "--log-format", format, "u_ex.log"});
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_NE(add.out.find(", 200 new lines"), std::string::npos) << add.out;
    EXPECT_NE(add.out.find("; 0 lines not recognised"), std::string::npos) << add.out;
    const std::string one = format + "-one.dt";
    ASSERT_EQ(RunCli(dir.path(), {"analyse", "--db", one, "--log-format", format, "u_ex.log"}).status, 0);
    EXPECT_EQ(DumpWithDaySets(dir / db), DumpWithDaySets(dir / one)) << format;
  }
}

// Each remembered log keeps the format it was read in, through adds and merges: an add without
// --log-format reads a grown log, its rotated copy and a fresh log under its name in that
// format, and a log never seen before in the default one. A database written before logs
// remembered their format is read and added to as before. Every result is compared with the
// same requests written as combined and read in one run.
TEST_F(CliLogFormat, AddsReadEachLogInTheFormatItWasCountedIn) {
  RandomLog log(19);
  const std::string format = R"($remote_addr - $remote_user [$time_local] "$request" $status )"
                             R"($body_bytes_sent "$http_referer" "$http_user_agent" $request_time)";
  // Pieces of the nginx log, of the same requests as combined, and of a combined log.
  std::string nginx[5], same[5], plain;
  for (int k = 0; k < 500; ++k) {
    const std::string line = Combined(log.NextRequest());
    if (k % 5 == 4) {
      plain += line;
      continue;
    }
    const int piece = k < 100 ? 0 : k < 200 ? 1 : k < 300 ? 2 : k < 400 ? 3 : 4;
    same[piece] += line;
    nginx[piece] += line.substr(0, line.size() - 1) + " 0.0" + std::to_string(k % 10) + "\n";
  }
  // The same requests as combined, in the order the adds read them, in one run.
  int reference = 0;
  auto same_as_one_run = [&](const std::vector<std::string>& pieces) {
    const std::string db = "same" + std::to_string(++reference) + ".dt";
    EXPECT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / db, "same" + std::to_string(reference)));
    return DumpWithDaySets(dir / db);
  };
  auto formats = [&](const std::string& db) {
    return QueryRows(dir / db, "SELECT name, coalesce(format, 'NULL') FROM analysed_logs ORDER BY rec_id");
  };
  const std::string at = dir.path().string() + "/";

  WriteFile(dir / "access.log", nginx[0]);
  ASSERT_EQ(RunCli(dir.path(), {"analyse", "--db", "site.dt", "--log-format", format, "access.log"}).status, 0);
  EXPECT_EQ(std::vector<std::string>{at + "access.log|" + format}, formats("site.dt"));

  // The log grew; a combined log comes beside it.
  WriteFile(dir / "access.log", nginx[0] + nginx[1]);
  WriteFile(dir / "plain.log", plain);
  CliResult add = RunCli(dir.path(), {"analyse", "--db", "site.dt", "--add", "access.log", "plain.log"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.out.find("; 0 lines not recognised"), std::string::npos) << add.out;
  EXPECT_NE(add.out.find("read in the format it was counted in before (" + format + "): " + at +
                         "access.log\n"),
            std::string::npos)
      << add.out;
  EXPECT_EQ((std::vector<std::string>{at + "access.log|" + format, at + "plain.log|NULL"}),
            formats("site.dt"));
  EXPECT_EQ(same_as_one_run({same[0], same[1], plain}), DumpWithDaySets(dir / "site.dt"));

  // Rotated after growing once more (known by its text), and a fresh log under the old name,
  // read first.
  fs::rename(dir / "access.log", dir / "access.log.1");
  WriteFile(dir / "access.log.1", nginx[0] + nginx[1] + nginx[2]);
  WriteFile(dir / "access.log", nginx[3]);
  add = RunCli(dir.path(), {"analyse", "--db", "site.dt", "--add", "access.log.1", "access.log"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.out.find("; 0 lines not recognised"), std::string::npos) << add.out;
  EXPECT_EQ(same_as_one_run({same[0], same[1], plain, same[3], same[2]}), DumpWithDaySets(dir / "site.dt"));

  // A part analysed elsewhere keeps its log's format through the merge, and the next add of
  // that log reads it in that format; the database, made old first, gets the column back.
  Exec(dir / "site.dt", "ALTER TABLE analysed_logs DROP COLUMN format");
  const size_t half = nginx[4].find('\n', nginx[4].size() / 2) + 1;
  WriteFile(dir / "other.log", nginx[4].substr(0, half));
  ASSERT_EQ(RunCli(dir.path(), {"analyse", "--db", "part.dt", "--log-format", format, "other.log"}).status, 0);
  const CliResult merge = RunCli(dir.path(), {"merge", "--db", "site.dt", "part.dt"});
  ASSERT_EQ(merge.status, 0) << merge.err;
  WriteFile(dir / "other.log", nginx[4]);
  add = RunCli(dir.path(), {"analyse", "--db", "site.dt", "--add", "other.log"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.out.find("; 0 lines not recognised"), std::string::npos) << add.out;
  EXPECT_EQ(same_as_one_run({same[0], same[1], plain, same[3], same[2], same[4]}), DumpWithDaySets(dir / "site.dt"));
  EXPECT_EQ(at + "other.log|" + format, formats("site.dt").back());

  // Given a format, even combined, an add reads in it and remembers it.
  WriteFile(dir / "other.log", nginx[4] + nginx[0]);
  add = RunCli(dir.path(), {"analyse", "--db", "site.dt", "--add", "--log-format", "combined",
                            "other.log"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.out.find("read in the format it was counted in before"), std::string::npos) << add.out;
  EXPECT_EQ(at + "other.log|NULL", formats("site.dt").back());
}

TEST_F(CliLogFormat, AFormatThatCannotBeUnderstoodIsRefusedBeforeAnythingIsWritten) {
  WriteFile(dir / "a.log", "1.1.1.1 - - [10/Oct/2000:13:55:36 +0000] \"GET / HTTP/1.1\" 200 1\n");
  for (const std::string format : {"apache", "%h %t \"%r\" %{Referer", "$remote_addr \"$request\""}) {
    const CliResult run = RunCli(dir.path(), {"analyse", "--db", "x.dt", "--log-format", format, "a.log"});
    EXPECT_EQ(run.status, 2) << format;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("--log-format: at character "), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "x.dt")) << format;
  }
}

}  // namespace
}  // namespace hitsieve::testing
