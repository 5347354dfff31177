// The report and export commands on a database filled by a small analysis.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

std::string Line(const std::string& ip, const std::string& day, const std::string& url,
                 const std::string& bytes, const std::string& referer) {
  return ip + " - - [" + day + ":10:00:00 +0400] \"GET " + url + " HTTP/1.1\" 200 " + bytes +
         " \"" + referer + "\" \"Mozilla/5.0\"\n";
}

class CliReport : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "access.log",
              Line("10.0.0.1", "01/Dec/2008", "/a.html", "1048576", "-") +
                  Line("10.0.0.2", "01/Dec/2008", "/a.html", "524288", "http://yandex.ru/x") +
                  Line("10.0.0.2", "03/Dec/2008", "/b,c.html", "0", "-") +
                  // the phrase holds quotes and a comma: "log", and the Cyrillic word
                  Line("10.0.0.3", "03/Dec/2008", "/a.html", "0",
                       "http://www.google.ru/search?q=%22log%22%2C+%D0%BB%D0%BE%D0%B3") +
                  // an escape sequence in a URL (ESC c resets a terminal)
                  "66.249.0.1 - - [03/Dec/2008:11:00:00 +0400] \"GET /\x1b" "c HTTP/1.1\" 200 "
                  "0 \"-\" \"Googlebot\"\n");
    const CliResult run = RunCli(dir_.path(), {"analyse", "--db", "r.dt", "access.log"});
    ASSERT_EQ(0, run.status) << run.err;
  }

  CliResult Report(const std::string& kind, const std::string& format) {
    return RunCli(dir_.path(), {"report", kind, "--db", "r.dt", "--format", format});
  }

  TempDir dir_;
};

TEST_F(CliReport, CommonTextHasTotalsFirstDashesAndAlignedColumns) {
  const CliResult report = Report("common", "text");
  ASSERT_EQ(0, report.status) << report.err;
  // The summary of the period first; Cyrillic titles count one column per letter, not per byte.
  EXPECT_EQ("first day  01/Dec/2008\n"
            "last day   03/Dec/2008\n"
            "days       2\n"
            "views      4\n"
            "visitors   4 (sum of the days)\n"
            "addresses  3 (distinct)\n"
            "traffic    1.50 MB\n"
            "not found  0 requests\n"
            "robots     20.0% of the requests\n"
            "\n"
            "Дата         Хосты  Посетители  Просмотры  Searches\n"
            "             4      4           4          2\n"
            "01/Dec/2008  2      2           2          1\n"
            "03/Dec/2008  2      2           2          1\n",
            report.out);
}

TEST_F(CliReport, PagesTextShowsMegabytesWithComma) {
  const CliResult report = Report("pages", "text");
  ASSERT_EQ(0, report.status) << report.err;
  const std::string expected_rows[] = {
      "Страница   Посещений  Searches  Траффик(Mb)  Google  Yandex  Rambler  Mail.ru  Апорт  "
      "Webalta\n",
      "           4          2         1,50         1       -       -        -        -      -\n",
      "/a.html    3          2         1,50         1       -       -        -        -      -\n",
      "/b,c.html  1          -         0,00         -       -       -        -        -      -\n"};
  // The header and the totals row come first; the page rows follow in visits order.
  std::string expected;
  for (const std::string& line : expected_rows) expected += line;
  EXPECT_EQ(expected, report.out);
}

TEST_F(CliReport, CsvIsTheExportTableQuotedAndInUtf8) {
  const struct {
    const char* kind;
    const char* expected;
  } cases[] = {
      {"common",
       "Дата,Хосты,Посетители,Просмотры,Searches\n01/Dec/2008,2,2,2,1\n03/Dec/2008,2,2,2,1\n"},
      {"queries",
       "Запрос,Всего,Google,Yandex,Rambler,Mail.ru,Апорт,Webalta\n"
       "\"\"\"log\"\", лог\",1,1,0,0,0,0,0\n"},
      {"robots", "Паук,Запрос,Код,IP,Дата\nGoogle,/\x1b" "c,200,66.249.0.1,03/Dec/2008\n"},
  };
  for (const auto& c : cases) {
    const CliResult report = Report(c.kind, "csv");
    EXPECT_EQ(0, report.status) << c.kind << ": " << report.err;
    EXPECT_EQ(c.expected, report.out) << c.kind;
  }
}

TEST_F(CliReport, PagesCsvKeepsBytesAndQuotesCommas) {
  const CliResult report = Report("pages", "csv");
  ASSERT_EQ(0, report.status) << report.err;
  EXPECT_EQ(0u, report.out.find("Страница,Посещений,Searches,Траффик,Google,Yandex,Rambler,"
                                "Mail.ru,Апорт,Webalta\n"))
      << report.out;
  EXPECT_NE(std::string::npos, report.out.find("\n/a.html,3,2,1572864,1,0,0,0,0,0\n"))
      << report.out;
  EXPECT_NE(std::string::npos, report.out.find("\n\"/b,c.html\",1,0,0,0,0,0,0,0,0\n"))
      << report.out;
}

TEST_F(CliReport, ReferersListHostsThenAddresses) {
  const CliResult text = Report("referers", "text");
  ASSERT_EQ(0, text.status) << text.err;
  const size_t hosts = text.out.find("Домены");
  const size_t urls = text.out.find("\nURL");
  ASSERT_NE(std::string::npos, hosts) << text.out;
  ASSERT_NE(std::string::npos, urls) << text.out;
  EXPECT_LT(hosts, urls);
  EXPECT_NE(std::string::npos, text.out.find("\nyandex.ru "));
  EXPECT_NE(std::string::npos, text.out.find("\nhttp://yandex.ru/x "));

  const CliResult csv = Report("referers", "csv");
  ASSERT_EQ(0, csv.status) << csv.err;
  EXPECT_LT(csv.out.find("\nwww.google.ru,"), csv.out.find("\nhttp://www.google.ru/search"))
      << csv.out;
}

TEST_F(CliReport, TextOutputNeverPassesControlCharactersToTheTerminal) {
  const CliResult report = Report("robots", "text");
  ASSERT_EQ(0, report.status) << report.err;
  EXPECT_EQ(std::string::npos, report.out.find('\x1b')) << report.out;
  EXPECT_NE(std::string::npos, report.out.find("\nGoogle  /?c ")) << report.out;
  // The per-robot summary follows the requests.
  EXPECT_NE(std::string::npos, report.out.find("\nGoogle  1\n")) << report.out;
}

TEST_F(CliReport, ExportWritesAWorkbookAndRefusesToOverwriteWithoutForce) {
  const fs::path book = dir_ / "pages.xlsx";
  const CliResult first =
      RunCli(dir_.path(), {"export", "pages", "--xlsx", book.string(), "--db", "r.dt"});
  ASSERT_EQ(0, first.status) << first.err;
  const std::string written = ReadFile(book);
  ASSERT_EQ(0u, written.rfind("PK", 0)) << "not a zip archive";

  WriteFile(book, "keep me");
  const CliResult refused =
      RunCli(dir_.path(), {"export", "pages", "--xlsx", book.string(), "--db", "r.dt"});
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("--force")) << refused.err;
  EXPECT_EQ("keep me", ReadFile(book));

  const CliResult forced = RunCli(
      dir_.path(), {"export", "pages", "--xlsx", book.string(), "--db", "r.dt", "--force"});
  EXPECT_EQ(0, forced.status) << forced.err;
  EXPECT_EQ(0u, ReadFile(book).rfind("PK", 0));
}

TEST_F(CliReport, ExportedWorkbookHoldsTrafficInBytes) {
  const fs::path book = dir_ / "p.xlsx";
  ASSERT_EQ(0, RunCli(dir_.path(), {"export", "pages", "--xlsx", "p.xlsx", "--db", "r.dt"}).status);
  // Read the sheet back with unzip, independently of the writer.
  const std::string command = "unzip -p '" + book.string() + "' xl/worksheets/sheet1.xml";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::string xml;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) xml.append(buffer, n);
  ASSERT_EQ(0, pclose(pipe));
  EXPECT_NE(std::string::npos, xml.find("<v>1572864</v>")) << xml;
}

TEST(CliReportMissing, MissingDatabaseIsRefusedAndNotCreated) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"report", "common", "--db", "none.dt"},
        std::vector<std::string>{"export", "common", "--xlsx", "x.xlsx", "--db", "none.dt"}}) {
    const CliResult run = RunCli(dir.path(), args);
    EXPECT_EQ(1, run.status) << args[0];
    EXPECT_NE(std::string::npos, run.err.find("none.dt")) << run.err;
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace hitsieve::testing
