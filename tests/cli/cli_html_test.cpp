// hitsieve-cli html and export: the file is written whole or not at all, an existing file needs
// --force, the database being read is never replaced, and a replaced file keeps its permissions.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

// Both writers, as "<command> <option>" and the file name each takes.
struct Writer {
  const char* command;
  const char* option;
};
constexpr Writer kWriters[] = {{"html", "--output"}, {"export", "--xlsx"}};

std::vector<std::string> WriteArgs(const Writer& w, const std::string& target) {
  std::vector<std::string> args{w.command};
  if (std::string(w.command) == "export") args.push_back("common");
  for (const char* a : {"--db", "s.dt", w.option}) args.push_back(a);
  args.push_back(target);
  args.push_back("--force");
  return args;
}

TEST_F(CliHtml, NeverReplacesTheDatabaseItReadsUnderAnyName) {
  const std::string before = ReadFile(dir_ / "s.dt");
  fs::create_hard_link(dir_ / "s.dt", dir_ / "hard.dt");
  fs::create_directory(dir_ / "sub");
  fs::create_directory_symlink(dir_.path(), dir_ / "sub" / "up");
  const std::string names[] = {"s.dt", "./s.dt", (dir_ / "s.dt").string(), "hard.dt",
                               "sub/up/s.dt"};
  for (const Writer& w : kWriters) {
    for (const std::string& name : names) {
      const CliResult result = RunCli(dir_.path(), WriteArgs(w, name));
      EXPECT_EQ(1, result.status) << w.command << " " << name << ": " << result.err;
      EXPECT_NE(std::string::npos, result.err.find("statistics database")) << result.err;
      ASSERT_EQ(before, ReadFile(dir_ / "s.dt")) << w.command << " " << name;
    }
  }
  // Another file is still replaced.
  WriteFile(dir_ / "other", "x");
  for (const Writer& w : kWriters) EXPECT_EQ(0, RunCli(dir_.path(), WriteArgs(w, "other")).status);
}

TEST_F(CliHtml, ReplacedFileKeepsItsPermissions) {
  for (const Writer& w : kWriters) {
    for (const mode_t mode : {0600, 0640, 0644, 0444}) {
      WriteFile(dir_ / "out", "old");
      ASSERT_EQ(0, ::chmod((dir_ / "out").c_str(), mode));
      const CliResult result = RunCli(dir_.path(), WriteArgs(w, "out"));
      ASSERT_EQ(0, result.status) << w.command << ": " << result.err;
      struct stat info;
      ASSERT_EQ(0, ::stat((dir_ / "out").c_str(), &info));
      EXPECT_EQ(mode, info.st_mode & 0777) << w.command << " " << std::oct << mode;
      EXPECT_NE("old", ReadFile(dir_ / "out"));
    }
  }
}

TEST_F(CliHtml, FailedWritesSayWhy) {
  for (const Writer& w : kWriters) {
    const CliResult missing = RunCli(dir_.path(), WriteArgs(w, "/nonexistent/x"));
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("No such file or directory")) << missing.err;
    if (std::string(w.command) == "html") {
      EXPECT_EQ(std::string::npos, missing.err.find("workbook")) << missing.err;
    }

    // A file size limit: the child inherits it, and the write fails with EFBIG.
    struct rlimit saved;
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit small = saved;
    small.rlim_cur = 2048;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    const CliResult limited = RunCli(dir_.path(), WriteArgs(w, "big"));
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &saved));
    EXPECT_EQ(1, limited.status) << limited.err;
    EXPECT_NE(std::string::npos, limited.err.find("File too large")) << w.command << ": " << limited.err;
    EXPECT_FALSE(fs::exists(dir_ / "big"));
  }
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find("tmp")) << entry.path();
}

TEST_F(CliHtml, WritesInTheChosenLanguage) {
  const struct {
    std::vector<std::string> extra;
    std::vector<std::string> env;
    const char* lang;
    const char* title;
  } cases[] = {
      {{}, {}, "ru", "<title>Hitsieve: отчёт</title>"},
      {{}, {"HITSIEVE_LANG=en"}, "en", "<title>Hitsieve: report</title>"},
      {{"--lang", "en"}, {}, "en", "<title>Hitsieve: report</title>"},
      {{"--lang", "ru"}, {"HITSIEVE_LANG=en"}, "ru", "<title>Hitsieve: отчёт</title>"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"html", "--db", "s.dt", "--output", "l.html", "--force"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const CliResult result = RunCli(dir_.path(), args, c.env);
    ASSERT_EQ(0, result.status) << result.err;
    const std::string page = ReadFile(dir_ / "l.html");
    EXPECT_NE(std::string::npos, page.find(std::string("<html lang=\"") + c.lang + "\">")) << c.lang;
    EXPECT_NE(std::string::npos, page.find(c.title)) << c.title;
  }
  const CliResult bad = RunCli(dir_.path(), {"html", "--db", "s.dt", "--output", "l.html", "--lang", "de"});
  EXPECT_EQ(2, bad.status) << bad.err;
  const CliResult book = RunCli(dir_.path(), {"export", "common", "--db", "s.dt", "--xlsx", "l.xlsx",
                                              "--lang", "en"});
  ASSERT_EQ(0, book.status) << book.err;
  FILE* pipe = popen(("unzip -p '" + (dir_ / "l.xlsx").string() + "' xl/worksheets/sheet1.xml").c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::string xml;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) xml.append(buffer, n);
  ASSERT_EQ(0, pclose(pipe));
  EXPECT_NE(std::string::npos, xml.find(">Visitors<")) << xml;
}

}  // namespace
}  // namespace hitsieve::testing
