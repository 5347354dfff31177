// hitsieve-cli analyse --log-format, end to end: "auto" over a folder that mixes combined,
// vhost_combined (compressed) and W3C logs stores what the same requests written as combined
// store, and names each file's format; the default reading suggests a format for a file it
// cannot read; a format that cannot be understood is refused before anything is written.
#include <gtest/gtest.h>

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
