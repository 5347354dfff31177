#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <QBarSet>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/export/xlsx_reader.h"
#include "engine/search_engine.h"
#include "engine/text.h"
#include "export/dimension_tables.h"
#include "run/analysis_job.h"
#include "store/dimension_reports.h"
#include "ui/common_stat_dlg.h"
#include "ui/day_axis.h"
#include "ui/dimension_screen.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/report_bar_chart.h"
#include "ui/screens_tree_ctrl.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using Cells = std::vector<std::vector<std::string>>;

constexpr char kGoogleBot[] = "Mozilla/5.0 (compatible; Googlebot/2.1)";
// "/каталог/нет.html" in Windows-1251: a page not found whose name is Cyrillic.
constexpr char kCyrillicMissing[] = "/\xEA\xE0\xF2\xE0\xEB\xEE\xE3/\xED\xE5\xF2.html";

// A generated log: many addresses, agents, hours and codes over a few days, pages and images,
// found and not, with a robot among the people. `people` counts what the screens must show.
struct GeneratedLog {
  std::vector<std::string> lines;
  std::map<std::string, int64_t> codes;     // requests per status code, robots left out
  std::map<std::string, int64_t> missing;   // 404 and 410 requests per URL (Windows-1251)
  int64_t robot_requests = 0;
};

GeneratedLog Generate(unsigned seed, int count) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const char* days[] = {"01/Mar/2024", "02/Mar/2024", "03/Mar/2024", "05/Mar/2024"};
  const char* agents[] = {"Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0",
                          "Mozilla/5.0 (Windows NT 10.0) Chrome/119.0",
                          "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0) Safari/604.1", kGoogleBot};
  const std::string pages[] = {"/", "/index.html", "/about.html", "/news/1.html", "/logo.gif",
                               "/old.html", "/gone.php", kCyrillicMissing};
  const char* referers[] = {"-", "http://www.example.org/links.html", "http://forum.example.net/t/1"};
  GeneratedLog log;
  for (int i = 0; i < count; ++i) {
    const std::string agent = agents[pick(4)];
    const std::string url = pages[pick(8)];
    int status = 200;
    if (url == "/old.html" || url == kCyrillicMissing) status = 404;
    if (url == "/gone.php") status = 410;
    if (url == "/index.html" && pick(10) == 0) status = 304;
    if (url == "/" && pick(20) == 0) status = 500;
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", pick(24), pick(60), pick(60));
    const std::string ip = "10." + std::to_string(pick(4)) + "." + std::to_string(pick(8)) + "." +
                           std::to_string(1 + pick(30));
    log.lines.push_back(ip + " - - [" + days[pick(4)] + ":" + time + " +0300] \"GET " + url +
                        " HTTP/1.1\" " + std::to_string(status) + " " +
                        std::to_string(100 + pick(5000)) + " \"" + referers[pick(3)] + "\" \"" +
                        agent + "\"");
    if (agent == kGoogleBot) {
      ++log.robot_requests;
      continue;
    }
    ++log.codes[std::to_string(status)];
    if (status == 404 || status == 410) ++log.missing[url];
  }
  return log;
}

class DimensionScreensTest : public UiTest {
 protected:
  static DimensionScreen& Screen(MainDlg& window, const char* name) {
    const int index = window.ScreenIndex(QString::fromUtf8(name));
    EXPECT_GE(index, 0) << name;
    return *static_cast<DimensionScreen*>(window.Screen(index));
  }
};

// The rows the report's own query gives, with the share of the count it names, as the list
// shows them (texts in UTF-8, a decimal comma). The share is computed here from the counts.
Cells QueryRows(const DimensionReport& report) {
  Cells rows;
  ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) {
    rows.push_back(cells);
    for (size_t k = 0; k < report.columns.size(); ++k)
      if (!report.numeric[k]) rows.back()[k] = Cp1251ToUtf8(cells[k]);
  });
  if (report.share_of >= 0) {
    double total = 0;
    for (const auto& row : rows) total += std::stod(row[report.share_of]);
    for (auto& row : rows) {
      char share[32];
      std::snprintf(share, sizeof share, "%.2f", 100.0 * std::stod(row[report.share_of]) / total);
      std::string text = share;
      std::replace(text.begin(), text.end(), '.', ',');
      row.push_back(text);
    }
  }
  return rows;
}

std::vector<std::string> Headers(const ListCtrlGrid& grid) {
  std::vector<std::string> titles;
  for (int c = 0; c < grid.Model()->columnCount(); ++c)
    titles.push_back(grid.Model()->headerData(c, Qt::Horizontal).toString().toStdString());
  return titles;
}

void ClickHeader(ListCtrlGrid& grid, int column) {
  QHeaderView* header = grid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                           header->height() / 2));
}

// As typing does, one character at a time.
void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  for (QChar c : text) edit->insert(QString(c));
}

TEST_F(DimensionScreensTest, TreeHasAScreenForEveryDescribedReportAfterTheSixOthers) {
  MainDlg window;
  std::vector<QString> expected;
  for (const DimensionScreenPlan& plan : DimensionScreenPlans())
    if (!FoundReports(plan).empty()) expected.push_back(QString::fromUtf8(plan.label));
  ASSERT_EQ(MainDlg::kDescribedScreenCount + static_cast<int>(expected.size()), window.ScreenCount());
  ASSERT_EQ(window.ScreenCount(), window.Tree()->topLevelItemCount());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(expected[i],
              window.Tree()->topLevelItem(MainDlg::kDescribedScreenCount + static_cast<int>(i))->text(0));
  // Status codes and hours are described today; their screens come first, in this order.
  ASSERT_GE(expected.size(), 2u);
  EXPECT_EQ(QStringLiteral("Коды ответа"), expected[0]);
  EXPECT_EQ(QStringLiteral("Время суток"), expected[1]);
  // Each appears in the reload list and tells its "Excel" when a run starts and ends.
  DimensionScreen& status = Screen(window, "status");
  EXPECT_NE(window.ReloadList().end(),
            std::find(window.ReloadList().begin(), window.ReloadList().end(), &status));
  window.SetRunActive(true);
  EXPECT_FALSE(status.ExcelButton(0)->isEnabled());
  EXPECT_FALSE(status.ExcelButton(1)->isEnabled());
  window.SetRunActive(false);
  EXPECT_TRUE(status.ExcelButton(1)->isEnabled());
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

// Every list heads its columns with a title of its own, never the report's column name.
TEST_F(DimensionScreensTest, EveryColumnHasATitle) {
  for (const DimensionScreenPlan& plan : DimensionScreenPlans()) {
    for (const DimensionReport* report : FoundReports(plan)) {
      for (std::string_view column : report->columns)
        EXPECT_NE(std::string(column), DimensionColumnTitle(*report, column))
            << report->name << "." << column;
    }
  }
}

TEST_F(DimensionScreensTest, StatusScreenShowsBothReportsInTheQueryOrder) {
  const GeneratedLog log = Generate(7, 3000);
  Analyse(log.lines);
  MainDlg window;
  DimensionScreen& screen = Screen(window, "status");
  ASSERT_EQ(2, screen.ListCount());
  const ListCtrlGrid& codes = *screen.ListGrid(0);
  const ListCtrlGrid& missing = *screen.ListGrid(1);
  EXPECT_EQ((std::vector<std::string>{"Код ответа", "Запросы", "Доля, %"}), Headers(codes));
  EXPECT_EQ((std::vector<std::string>{"Страница", "Запросы", "Чаще всего приходили с"}),
            Headers(missing));

  const Cells shown_codes = GridCells(codes);
  EXPECT_EQ(QueryRows(screen.Report(0)), shown_codes);
  EXPECT_EQ(QueryRows(screen.Report(1)), GridCells(missing));

  // The counts are those of the log: every request but the robot's, by code.
  std::map<std::string, int64_t> counted;
  double shares = 0;
  for (const auto& row : shown_codes) {
    counted[row[0]] = std::stoll(row[1]);
    std::string share = row[2];
    std::replace(share.begin(), share.end(), ',', '.');
    shares += std::stod(share);
  }
  EXPECT_EQ(log.codes, counted);
  EXPECT_NEAR(100.0, shares, 0.01 * static_cast<double>(shown_codes.size()));
  std::map<std::string, int64_t> listed;
  for (const auto& row : GridCells(missing)) listed[row[0]] = std::stoll(row[1]);
  std::map<std::string, int64_t> expected_missing;
  for (const auto& [url, n] : log.missing) expected_missing[Cp1251ToUtf8(url)] = n;
  EXPECT_EQ(expected_missing, listed);
  EXPECT_EQ(1u, listed.count("/каталог/нет.html"));
  EXPECT_FALSE(screen.NotCountedLine(0)->isVisibleTo(&screen));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

TEST_F(DimensionScreensTest, ListsSortByAHeaderClickAndOneSearchFiltersBoth) {
  Analyse(Generate(11, 2000).lines);
  MainDlg window;
  window.show();
  DimensionScreen& screen = Screen(window, "status");
  window.ShowScreen(window.ScreenIndex("status"));
  ListCtrlGrid& codes = *screen.ListGrid(0);
  ListCtrlGrid& missing = *screen.ListGrid(1);
  const Cells in_order = GridCells(codes);
  ASSERT_GE(in_order.size(), 3u);
  // The few codes take the height of their rows; the pages not found below take the rest.
  EXPECT_LT(codes.height(), missing.height());
  EXPECT_GE(codes.viewport()->height(),
            static_cast<int>(in_order.size()) * codes.verticalHeader()->defaultSectionSize());
  EXPECT_EQ(screen.height(), missing.geometry().bottom() + 1);
  EXPECT_LT(codes.geometry().bottom(), screen.ExcelButton(1)->geometry().top());

  // The code column sorts as text from the start, then reversed; the counts largest first.
  ClickHeader(codes, 0);
  Cells by_code = in_order;
  std::stable_sort(by_code.begin(), by_code.end(),
                   [](const auto& a, const auto& b) { return a[0] < b[0]; });
  EXPECT_EQ(by_code, GridCells(codes));
  ClickHeader(codes, 0);
  std::reverse(by_code.begin(), by_code.end());
  EXPECT_EQ(by_code, GridCells(codes));
  ClickHeader(codes, 2);
  EXPECT_EQ(2, codes.Model()->SortColumn());
  EXPECT_EQ(Qt::DescendingOrder, codes.Model()->SortOrder());
  const Cells by_share = GridCells(codes);
  for (size_t i = 1; i < by_share.size(); ++i)
    EXPECT_GE(std::stoll(by_share[i - 1][1]), std::stoll(by_share[i][1])) << i;

  // The screen's search field filters both lists; typed Cyrillic finds the stored bytes.
  Type(screen.FilterEdit(), QStringLiteral("КАТАЛОГ"));
  const Cells found = GridCells(missing);
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ("/каталог/нет.html", found[0][0]);
  EXPECT_TRUE(GridCells(codes).empty());
  Type(screen.FilterEdit(), QStringLiteral("40"));
  ASSERT_EQ(1u, GridCells(codes).size());
  EXPECT_EQ("404", GridCells(codes)[0][0]);
  Type(screen.FilterEdit(), QString());
  EXPECT_EQ(QueryRows(screen.Report(1)), GridCells(missing));
}

TEST_F(DimensionScreensTest, HoursScreenChartsTheViewsOfTheList) {
  Analyse(Generate(3, 2500).lines);
  MainDlg window;
  DimensionScreen& screen = Screen(window, "hours");
  ASSERT_NE(nullptr, screen.Chart());
  const Cells rows = GridCells(*screen.ListGrid(0));
  EXPECT_EQ(QueryRows(screen.Report(0)), rows);
  ASSERT_EQ(24u, rows.size());
  int64_t views = 0;
  QStringList labels;
  for (int hour = 0; hour < 24; ++hour) {
    EXPECT_EQ(std::to_string(hour), rows[hour][0]);
    EXPECT_EQ(std::stoll(rows[hour][1]), static_cast<int64_t>(screen.Chart()->Bars()->at(hour)))
        << hour;
    views += std::stoll(rows[hour][1]);
    labels << QString::number(hour);
  }
  EXPECT_EQ(labels, screen.Chart()->Labels());
  // The chart stands to the right of the list, which keeps the width of its columns.
  EXPECT_LT(screen.ListGrid(0)->geometry().right(), screen.Chart()->geometry().left());
  EXPECT_EQ(screen.width(), screen.Chart()->geometry().right() + 1);
  EXPECT_EQ(QStringLiteral("Просмотры"), screen.Chart()->Bars()->label());
  EXPECT_EQ(QStringLiteral("3\nПросмотры: %1").arg(rows[3][1].c_str()), screen.Chart()->HoverText(3));
  // The hours count the views the days count.
  EXPECT_EQ(std::to_string(views), GridCells(*window.CommonStats()->Grid())[0][3]);
  EXPECT_GT(views, 0);
}

// Every list's "Excel" writes a workbook whose header and rows are the list's.
TEST_F(DimensionScreensTest, ExcelOfEachListWritesItsRows) {
  Analyse(Generate(5, 1500).lines);
  MainDlg window;
  for (const char* name : {"status", "hours"}) {
    DimensionScreen& screen = Screen(window, name);
    for (int list = 0; list < screen.ListCount(); ++list) {
      opened_files_.clear();
      QTest::mouseClick(screen.ExcelButton(list), Qt::LeftButton);
      ASSERT_EQ(1, opened_files_.size()) << name << " " << list << messages_.join(" | ").toStdString();
      const std::string path = QFile::encodeName(opened_files_[0]).toStdString();
      EXPECT_NE(std::string::npos, path.find("hitsieve-" + std::string(screen.Report(list).name)));
      const auto sheet = test::ReadFirstSheet(path);
      const ListCtrlGrid& grid = *screen.ListGrid(list);
      const std::vector<std::string> header = Headers(grid);
      const Cells rows = GridCells(grid);
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(header.size() * (rows.size() + 1), sheet.size()) << name << " " << list;
      for (size_t c = 0; c < header.size(); ++c) {
        const std::string column(1, static_cast<char>('A' + c));
        EXPECT_EQ(header[c], sheet.at(column + "1").value);
        for (size_t r = 0; r < rows.size(); ++r) {
          const test::XlsxCell& cell = sheet.at(column + std::to_string(r + 2));
          const bool numeric = grid.Model()->Kind(static_cast<int>(c)) != CellKind::kText;
          EXPECT_EQ(!numeric, cell.is_text) << name << " " << column << r + 2;
          if (numeric) {
            std::string shown = rows[r][c];
            std::replace(shown.begin(), shown.end(), ',', '.');
            EXPECT_DOUBLE_EQ(std::stod(shown), std::stod(cell.value)) << column << r + 2;
          } else {
            EXPECT_EQ(rows[r][c], cell.value) << column << r + 2;
          }
        }
      }
      QFile::remove(opened_files_[0]);
    }
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

TEST_F(DimensionScreensTest, OlderDatabaseShowsTheNotCountedLineUntilAReplacingRun) {
  const GeneratedLog log = Generate(9, 800);
  Analyse(log.lines, /*dimensions=*/false);
  MainDlg window;
  window.show();
  DimensionScreen& status = Screen(window, "status");
  DimensionScreen& hours = Screen(window, "hours");
  window.ShowScreen(window.ScreenIndex("status"));
  for (int list = 0; list < 2; ++list) {
    EXPECT_TRUE(status.NotCountedLine(list)->isVisible()) << list;
    EXPECT_FALSE(status.ListGrid(list)->isVisible()) << list;
    EXPECT_FALSE(status.ExcelButton(list)->isEnabled()) << list;
    EXPECT_TRUE(status.NotCountedLine(list)->text().startsWith("Не подсчитано в этой базе"));
    EXPECT_EQ(status.ListGrid(list)->geometry(), status.NotCountedLine(list)->geometry());
  }
  window.SetRunActive(true);
  window.SetRunActive(false);
  EXPECT_FALSE(status.ExcelButton(0)->isEnabled()) << "nothing to export after a run either";
  EXPECT_TRUE(hours.NotCountedLine(0)->isVisibleTo(&hours));
  EXPECT_FALSE(hours.Chart()->isVisibleTo(&hours));

  // The summary shows what the older statistics hold, and "—" for the rest.
  const CommonStatDlg& common = *window.CommonStats();
  EXPECT_EQ(QStringLiteral("—"), common.SummaryValue("not_found"));
  EXPECT_EQ(QStringLiteral("—"), common.SummaryValue("bot_share"));
  EXPECT_EQ(QStringLiteral("4"), common.SummaryValue("days"));

  Analyse(log.lines);
  window.Reload();
  EXPECT_FALSE(status.NotCountedLine(0)->isVisible());
  EXPECT_TRUE(status.ListGrid(1)->isVisible());
  EXPECT_TRUE(status.ExcelButton(1)->isEnabled());
  EXPECT_TRUE(hours.Chart()->isVisibleTo(&hours));
  EXPECT_EQ(QueryRows(status.Report(0)), GridCells(*status.ListGrid(0)));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

TEST_F(DimensionScreensTest, SummaryOfThePeriodOnTheCommonScreen) {
  MainDlg window;
  const CommonStatDlg& common = *window.CommonStats();
  for (const char* field : {"first_day", "last_day", "days", "views", "visitors", "addresses",
                            "traffic", "not_found", "bot_share"})
    EXPECT_EQ(QStringLiteral("—"), common.SummaryValue(field)) << field << " before any run";

  const GeneratedLog log = Generate(21, 1200);
  Analyse(log.lines);
  window.Reload();
  const QLocale locale;
  EXPECT_EQ(QStringLiteral("01/Mar/2024"), common.SummaryValue("first_day"));
  EXPECT_EQ(QStringLiteral("05/Mar/2024"), common.SummaryValue("last_day"));
  EXPECT_EQ(QStringLiteral("4"), common.SummaryValue("days"));
  const Cells days = GridCells(*common.Grid());
  EXPECT_EQ(locale.toString(std::stoll(days[0][3])), common.SummaryValue("views"));
  EXPECT_EQ(locale.toString(std::stoll(days[0][2])), common.SummaryValue("visitors"));
  int64_t not_found = 0;
  for (const auto& [url, n] : log.missing) not_found += n;
  EXPECT_EQ(locale.toString(qint64{not_found}), common.SummaryValue("not_found"));
  // Addresses are 10.a.b.c with a < 4, b < 8, c <= 30: at most 960, at least one.
  const int64_t addresses = locale.toLongLong(common.SummaryValue("addresses"));
  EXPECT_GT(addresses, 0);
  EXPECT_LE(addresses, 960);
  const double share = 100.0 * static_cast<double>(log.robot_requests) /
                       static_cast<double>(log.lines.size());
  EXPECT_EQ(locale.toString(share, 'f', 1) + QStringLiteral(" %"), common.SummaryValue("bot_share"));
  EXPECT_TRUE(common.SummaryValue("traffic").endsWith(QStringLiteral(" МБ")));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

// The drop-down of a screen plan offers the values of its column and keeps the rows of the
// chosen one; here over the status codes, which every database has.
TEST_F(DimensionScreensTest, ChoiceKeepsTheRowsOfOneValue) {
  Analyse(Generate(13, 1500).lines);
  const DimensionScreenPlan plan{"by_code", "by code", {"status", "no-such-report"}, {}, "code"};
  DimensionScreen screen(nullptr, plan);
  ASSERT_EQ(1, screen.ListCount()) << "a report the program does not describe is left out";
  screen.Reload();
  ASSERT_NE(nullptr, screen.Choice());
  const Cells all = GridCells(*screen.ListGrid(0));
  std::set<std::string> codes;
  for (const auto& row : all) codes.insert(row[0]);
  QStringList items{QStringLiteral("Все")};
  for (const std::string& code : codes) items << QString::fromStdString(code);
  QStringList shown;
  for (int i = 0; i < screen.Choice()->count(); ++i) shown << screen.Choice()->itemText(i);
  EXPECT_EQ(items, shown);

  const int index_404 = static_cast<int>(items.indexOf(QStringLiteral("404")));
  ASSERT_GT(index_404, 0);
  screen.Choice()->setCurrentIndex(index_404);
  emit screen.Choice()->activated(index_404);
  const Cells kept = GridCells(*screen.ListGrid(0));
  ASSERT_EQ(1u, kept.size());
  EXPECT_EQ("404", kept[0][0]);
  // A reload keeps the choice while its value is there; "Все" shows every row again.
  screen.Reload();
  EXPECT_EQ(kept, GridCells(*screen.ListGrid(0)));
  screen.OnChoice(0);
  EXPECT_EQ(all, GridCells(*screen.ListGrid(0)));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

// The crawler screen shows the days of the crawler chosen in its list: its requests and
// traffic of each day in calendar order, and a bar a day with the days it did not come empty.
TEST_F(DimensionScreensTest, ChoosingACrawlerShowsItsDays) {
  const struct {
    const char* name;
    const char* agent;
  } crawlers[] = {
      {"Bingbot", "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)"},
      {"GPTBot", "Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2)"},
      {"AhrefsBot", "Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)"},
      {"Googlebot", kGoogleBot},
  };
  // Days of two months, in an order that is not the calendar's as text; each crawler skips some.
  const char* days[] = {"28/Feb/2024", "01/Mar/2024", "03/Mar/2024", "10/Mar/2024"};
  const int day_numbers[] = {20240228, 20240301, 20240303, 20240310};
  std::map<std::string, std::map<int, std::pair<int64_t, int64_t>>> expected;  // day: requests, bytes
  std::mt19937 random(21);
  std::vector<std::string> lines;
  for (int i = 0; i < 900; ++i) {
    const int c = static_cast<int>(random() % 5), d = static_cast<int>(random() % 4);
    if (c < 4 && (c + d) % 4 == 3) continue;  // this crawler's day off
    const int64_t bytes = static_cast<int64_t>(random() % 3000);
    const std::string agent = c < 4 ? crawlers[c].agent : "Mozilla/5.0 (X11; Linux) Firefox/120.0";
    lines.push_back("10.1.2." + std::to_string(c) + " - - [" + days[d] + ":12:00:00 +0300] \"GET /p" +
                    std::to_string(i % 7) + ".html HTTP/1.1\" 200 " + std::to_string(bytes) +
                    " \"-\" \"" + agent + "\"");
    if (c < 4) {
      auto& [requests, traffic] = expected[crawlers[c].name][day_numbers[d]];
      ++requests;
      traffic += bytes;
    }
  }
  Analyse(lines);
  const auto days_of = [&](const std::string& name) {
    Cells rows;
    for (const auto& [number, counts] : expected.at(name))
      for (int d = 0; d < 4; ++d)
        if (day_numbers[d] == number)
          rows.push_back({days[d], std::to_string(counts.first), std::to_string(counts.second)});
    return rows;
  };
  MainDlg window;
  DimensionScreen& screen = Screen(window, "crawlers");
  ListCtrlGrid& list = *screen.ListGrid(0);
  ASSERT_NE(nullptr, screen.DaysGrid());
  EXPECT_EQ((std::vector<std::string>{"День", "Запросы", "Трафик, байт"}),
            Headers(*screen.DaysGrid()));
  ASSERT_EQ(4, list.Model()->RowCount());
  // At first the busiest crawler's days.
  EXPECT_EQ(days_of(list.Model()->Cell(0, 0)), GridCells(*screen.DaysGrid()));

  screen.show();
  for (int row = 3; row >= 0; --row) {
    const std::string name = list.Model()->Cell(row, 0);
    SCOPED_TRACE(name);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.visualRect(list.Model()->index(row, 1)).center());
    const Cells shown = GridCells(*screen.DaysGrid());
    EXPECT_EQ(days_of(name), shown);
    EXPECT_EQ(std::vector<std::string>{name}, std::vector<std::string>{screen.DaysKey().front()});
    EXPECT_TRUE(screen.DaysCaption()->text().contains(QString::fromStdString(name)));
    // One bar a day from its first day to its last, the days it skipped at 0.
    QBarSet& bars = *screen.DaysChart()->Bars();
    const QStringList labels = screen.DaysChart()->Labels();
    ASSERT_EQ(labels.size(), bars.count());
    const QDate first = DayDate(shown.front()[0]), last = DayDate(shown.back()[0]);
    ASSERT_EQ(first.daysTo(last) + 1, bars.count());
    int64_t sum = 0;
    for (int k = 0; k < bars.count(); ++k) {
      EXPECT_EQ(first.addDays(k), DayDate(labels[k].toStdString()));
      sum += static_cast<int64_t>(bars.at(k));
      const auto day = std::find_if(shown.begin(), shown.end(),
                                    [&](const auto& r) { return r[0] == labels[k].toStdString(); });
      EXPECT_EQ(day == shown.end() ? 0.0 : std::stod((*day)[1]), bars.at(k));
    }
    int64_t requests = 0;
    for (const auto& [number, counts] : expected.at(name)) requests += counts.first;
    EXPECT_EQ(requests, sum);
  }
  // A reload keeps the crawler; a category without it shows the first of that category.
  for (int row = 0; row < list.Model()->RowCount(); ++row)
    if (list.Model()->Cell(row, 0) == "Bingbot") screen.ShowDaysOfRow(row);
  ASSERT_EQ("Bingbot", screen.DaysKey().front());
  screen.Reload();
  EXPECT_EQ("Bingbot", screen.DaysKey().front());
  EXPECT_EQ(days_of("Bingbot"), GridCells(*screen.DaysGrid()));
  const int ai = screen.Choice()->findText(QStringLiteral("ИИ"));
  ASSERT_GT(ai, 0);
  screen.OnChoice(ai);
  EXPECT_EQ("GPTBot", screen.DaysKey().front());
  EXPECT_EQ(days_of("GPTBot"), GridCells(*screen.DaysGrid()));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

// A workbook text with its _xHHHH_ escapes (controls, and "_x" itself) read back.
std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text.compare(k, 2, "_x") == 0 && k + 7 <= text.size() && text[k + 6] == '_' &&
        std::all_of(text.begin() + k + 2, text.begin() + k + 6, ::isxdigit)) {
      out += static_cast<char>(std::stoi(text.substr(k + 2, 4), nullptr, 16));
      k += 6;
    } else {
      out += text[k];
    }
  }
  return out;
}

// The hostile log's texts on every new screen and in every list's workbook: shown without a
// control character, tooltips without markup of their own, written as plain texts.
TEST_F(DimensionScreensTest, HostileLinesAreInertOnEveryScreenAndWorkbook) {
  std::ifstream in(HITSIEVE_TEST_DATA "/hostile-lines.log", std::ios::binary);
  ASSERT_TRUE(in);
  std::vector<std::string> lines = Generate(3, 300).lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  // Not found, from a hostile referer, by a crawler with a hostile agent.
  lines.push_back("1.2.3.4 - - [01/Mar/2024:10:00:00 +0300] \"GET /=cmd|'/c calc'!A1<script> "
                  "HTTP/1.1\" 404 10 \"javascript:alert(1)\x1b[31m\" \"GPTBot/1.0 <b>\x07\"");
  Analyse(lines);
  MainDlg window;
  int texts = 0;
  for (const DimensionScreenPlan& plan : DimensionScreenPlans()) {
    DimensionScreen& screen = Screen(window, plan.name);
    for (int list = 0; list < screen.ListCount(); ++list) {
      const ListModel& model = *screen.ListGrid(list)->Model();
      for (int row = 0; row < model.RowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
          const QModelIndex index = model.index(row, column);
          for (QChar c : model.data(index, Qt::DisplayRole).toString()) {
            EXPECT_FALSE(c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                << plan.name << " " << row << ":" << column;
          }
          const QString tip = model.data(index, Qt::ToolTipRole).toString();
          EXPECT_FALSE(tip.contains(QStringLiteral("<script")) || tip.contains(QStringLiteral("<b>")))
              << tip.toStdString();
          texts += model.Kind(column) == CellKind::kText ? 1 : 0;
        }
      }
      opened_files_.clear();
      QTest::mouseClick(screen.ExcelButton(list), Qt::LeftButton);
      ASSERT_EQ(1, opened_files_.size()) << plan.name << " " << list;
      const auto sheet = test::ReadFirstSheet(QFile::encodeName(opened_files_[0]).toStdString());
      const Cells rows = GridCells(*screen.ListGrid(list));
      for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size() && c < 26; ++c) {
          const std::string at = std::string(1, static_cast<char>('A' + c)) + std::to_string(r + 2);
          const auto found = sheet.find(at);
          if (found == sheet.end()) {
            EXPECT_TRUE(rows[r][c].empty()) << plan.name << " " << at;
            continue;
          }
          const test::XlsxCell& cell = found->second;
          EXPECT_FALSE(cell.has_formula) << plan.name << " " << at << " " << cell.value;
          if (model.Kind(static_cast<int>(c)) == CellKind::kText) {
            EXPECT_TRUE(cell.is_text) << plan.name << " " << at;
            EXPECT_EQ(model.Cell(static_cast<int>(r), static_cast<int>(c)), Unescaped(cell.value))
                << plan.name << " " << at;
          }
        }
      }
      QFile::remove(opened_files_[0]);
    }
  }
  EXPECT_GT(texts, 50) << "the hostile texts should reach the lists";
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" | ").toStdString();
}

}  // namespace
}  // namespace hitsieve
