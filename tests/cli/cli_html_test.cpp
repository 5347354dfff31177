// hitsieve-cli html: the page is written whole or not at all, and an existing file needs --force.

#include <gtest/gtest.h>

#include <string>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

class CliHtml : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "a.log",
              "10.0.0.1 - - [05/May/2009:10:00:00 +0400] \"GET /<b>.html HTTP/1.1\" 200 10 "
              "\"http://example.org/\" \"Mozilla/5.0\"\n");
    ASSERT_EQ(0, RunCli(dir_.path(), {"analyse", "--db", "s.dt", "a.log"}).status);
  }
  TempDir dir_;
};

TEST_F(CliHtml, WritesThePageAndReplacesOnlyWithForce) {
  const CliResult first = RunCli(dir_.path(), {"html", "--db", "s.dt", "--output", "r.html"});
  ASSERT_EQ(0, first.status) << first.err;
  const std::string page = ReadFile(dir_ / "r.html");
  EXPECT_EQ(0u, page.rfind("<!DOCTYPE html>", 0));
  EXPECT_NE(std::string::npos, page.find("\"/\\u003cb\\u003e.html\""));
  EXPECT_EQ("</html>\n", page.substr(page.size() - 8));

  WriteFile(dir_ / "r.html", "mine");
  const CliResult again = RunCli(dir_.path(), {"html", "--db", "s.dt", "--output", "r.html"});
  EXPECT_EQ(1, again.status);
  EXPECT_NE(std::string::npos, again.err.find("--force")) << again.err;
  EXPECT_EQ("mine", ReadFile(dir_ / "r.html"));

  EXPECT_EQ(0, RunCli(dir_.path(), {"html", "--db", "s.dt", "--output", "r.html", "--force"}).status);
  EXPECT_EQ(page.size(), ReadFile(dir_ / "r.html").size());
}

TEST_F(CliHtml, RefusesWhatItCannotDoAndLeavesNoFile) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"html", "--db", "s.dt"}, 2},                                         // no --output
      {{"html", "--db", "s.dt", "--output", "x.html", "extra"}, 2},          // stray operand
      {{"html", "--db", "missing.dt", "--output", "x.html"}, 1},             // no database
      {{"html", "--db", "s.dt", "--output", "no-such-dir/x.html"}, 1},       // cannot write
  };
  for (const auto& c : cases) {
    const CliResult result = RunCli(dir_.path(), c.args);
    EXPECT_EQ(c.status, result.status) << c.args.back() << ": " << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "x.html"));
    EXPECT_FALSE(fs::exists(dir_ / "missing.dt"));
  }
  // Nothing half-written is left beside the page.
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find("tmp")) << entry.path();
}

}  // namespace
}  // namespace hitsieve::testing
