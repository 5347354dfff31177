#include <QChart>
#include <QFileInfo>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QTest>

#include "store/stats_database.h"
#include "ui/common_stat_dlg.h"
#include "ui/daily_chart.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using CommonStatDlgTest = UiTest;
using Cells = std::vector<std::vector<std::string>>;

void Execute(const std::string& sql) { StatsDatabase::Instance().session() << sql; }

TEST_F(CommonStatDlgTest, ShowsDaysInByteOrderOfTheDateWithTotalsFirst) {
  CommonStatDlg screen(nullptr);
  Execute("INSERT INTO common_stats (date, ips, visitors, views, searches) VALUES "
          "('02/Jan/2009', 2, 3, 4, 0), ('31/Dec/2008', 1, 1, 1, 1), "
          "('01/Jan/2009', 5, 5, 9, 2), ('01/Feb/2009', 1, 1, 2, 0)");
  screen.Reload();
  const Cells expected = {{"", "9", "10", "16", "3"},
                          {"01/Feb/2009", "1", "1", "2", "-"},
                          {"01/Jan/2009", "5", "5", "9", "2"},
                          {"02/Jan/2009", "2", "3", "4", "-"},
                          {"31/Dec/2008", "1", "1", "1", "1"}};
  EXPECT_EQ(expected, GridCells(*screen.Grid()));
  EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(CommonStatDlgTest, FailedReadShowsOneMessageAndKeepsThePreviousRows) {
  MainDlg window;  // reloads once at start-up: the empty table gives the totals row only
  CommonStatDlg& screen = *window.CommonStats();
  ASSERT_EQ(1, screen.Grid()->Model()->RowCount());
  Execute("INSERT INTO common_stats (date, ips, visitors, views, searches) VALUES "
          "('05/May/2009', 1, 1, 1, 0)");
  window.Reload();
  const Cells before = GridCells(*screen.Grid());
  ASSERT_EQ(2u, before.size());

  Execute("DROP TABLE common_stats");
  window.Reload();
  ASSERT_EQ(1, messages_.size());
  EXPECT_TRUE(messages_[0].contains(QStringLiteral("common_stats"))) << messages_[0].toStdString();
  EXPECT_EQ(before, GridCells(*screen.Grid()));
}

TEST_F(CommonStatDlgTest, ExcelOpensANewWorkbookEachTime) {
  CommonStatDlg screen(nullptr);
  Execute("INSERT INTO common_stats (date, ips, visitors, views, searches) VALUES "
          "('05/May/2009', 1, 1, 1, 0)");
  QPushButton* excel = screen.findChild<QPushButton*>("excel");
  QTest::mouseClick(excel, Qt::LeftButton);
  QTest::qWait(1100);  // workbook names carry the time to the second
  QTest::mouseClick(excel, Qt::LeftButton);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" ").toStdString();
  ASSERT_EQ(2, opened_files_.size());
  EXPECT_NE(opened_files_[0], opened_files_[1]);
  for (const QString& path : opened_files_) {
    EXPECT_TRUE(path.endsWith(".xlsx")) << path.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0) << path.toStdString();
    QFile::remove(path);
  }
}

TEST_F(CommonStatDlgTest, ExcelIsDisabledWhileARunIsUnderWay) {
  MainDlg window;
  QPushButton* excel = window.CommonStats()->findChild<QPushButton*>("excel");
  window.SetRunActive(true);
  EXPECT_FALSE(excel->isEnabled());
  window.SetRunActive(false);
  EXPECT_TRUE(excel->isEnabled());
}

}  // namespace
}  // namespace hitsieve

namespace hitsieve {
namespace {

// Each point as its local date and value.
std::vector<std::pair<QDate, double>> Points(const QLineSeries& series) {
  std::vector<std::pair<QDate, double>> points;
  for (const QPointF& p : series.points())
    points.emplace_back(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(p.x())).date(), p.y());
  return points;
}

double Noon(int year, int month, int day) {
  return static_cast<double>(QDateTime(QDate(year, month, day), QTime(12, 0)).toMSecsSinceEpoch());
}

TEST_F(CommonStatDlgTest, ChartShowsTheDaysInCalendarOrderAndCountsTheOthers) {
  MainDlg window;
  window.show();
  DailyChart& chart = *window.CommonStats()->Chart();
  EXPECT_TRUE(chart.Series(0)->points().isEmpty());
  Execute("INSERT INTO common_stats (date, ips, visitors, views, searches) VALUES "
          "('02/Nov/2026', 2, 3, 4, 0), ('28/Oct/2026', 1, 1, 1, 1), "
          "('01/Nov/2026', 5, 5, 9, 2), ('31/Feb/2026', 7, 7, 7, 7), "
          "('<b>x</b>', 8, 8, 8, 8)");
  window.Reload();  // the chart reloads with the grid

  const QStringList names = {"Хосты", "Посетители", "Просмотры", "Searches"};
  const std::vector<QDate> days = {QDate(2026, 10, 28), QDate(2026, 11, 1), QDate(2026, 11, 2)};
  const std::vector<std::vector<double>> values = {
      {1, 5, 2}, {1, 5, 3}, {1, 9, 4}, {1, 2, 0}};
  for (int i = 0; i < DailyChart::kSeriesCount; ++i) {
    EXPECT_EQ(names[i], chart.Series(i)->name());
    std::vector<std::pair<QDate, double>> expected;
    for (size_t d = 0; d < days.size(); ++d) expected.emplace_back(days[d], values[i][d]);
    EXPECT_EQ(expected, Points(*chart.Series(i))) << names[i].toStdString();
  }
  EXPECT_EQ(2, chart.LeftOut());
  EXPECT_TRUE(chart.chart()->title().contains(QStringLiteral("2"))) << "it says how many";

  // Hovering near a day names it and the line's value there.
  EXPECT_EQ(QStringLiteral("01.11.2026\nПросмотры: 9"),
            chart.HoverText(2, QPointF(Noon(2026, 11, 1) + 3600e3 * 5, 8.7)));
  EXPECT_EQ(QStringLiteral("28.10.2026\nХосты: 1"), chart.HoverText(0, QPointF(0, 0)));

  // A click on a legend entry hides its line, a second shows it again.
  QLegendMarker* views = chart.chart()->legend()->markers(chart.Series(2)).at(0);
  emit views->clicked();
  EXPECT_FALSE(chart.Series(2)->isVisible());
  EXPECT_TRUE(chart.Series(1)->isVisible());
  emit views->clicked();
  EXPECT_TRUE(chart.Series(2)->isVisible());

  Execute("DELETE FROM common_stats");
  window.Reload();
  EXPECT_TRUE(chart.Series(0)->points().isEmpty());
  EXPECT_EQ(0, chart.LeftOut());
  EXPECT_TRUE(chart.chart()->title().isEmpty());
}

}  // namespace
}  // namespace hitsieve
