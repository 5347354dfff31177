#include <QChart>
#include <QFileInfo>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QTest>

#include <random>
#include <set>

#include "store/stats_database.h"
#include "ui/common_stat_dlg.h"
#include "ui/daily_chart.h"
#include "ui/day_axis.h"
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
  // Both within the same second, most likely: the name that carries the time gets a number.
  QTest::mouseClick(excel, Qt::LeftButton);
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

namespace hitsieve {
namespace {

// Every period from one day to ten years, at every label budget a chart width gives: the labels
// are days of the period, in order, each text once, no more than fit, and never none.
TEST(DayAxis, LabelsFallOnDaysOfThePeriodWithoutRepeats) {
  std::mt19937 random(23);
  std::vector<int> lengths;
  for (int n = 1; n <= 120; ++n) lengths.push_back(n);
  for (int n : {365, 366, 731, 1461, 3652, 3653}) lengths.push_back(n);
  for (int k = 0; k < 200; ++k) lengths.push_back(1 + static_cast<int>(random() % 3653));
  for (int length : lengths) {
    const QDate first = QDate(2000, 1, 1).addDays(static_cast<qint64>(random() % 9000));
    const QDate last = first.addDays(length - 1);
    for (int budget : {1, 2, 3, 4, 6, 9, 14, 25}) {
      const AxisDays axis = ChooseAxisDays(first, last, budget);
      const std::string label = first.toString(Qt::ISODate).toStdString() + " +" +
                                std::to_string(length) + " days, " + std::to_string(budget);
      ASSERT_FALSE(axis.days.empty()) << label;
      EXPECT_LE(axis.days.size(), static_cast<size_t>(budget)) << label;
      std::set<QString> texts;
      for (size_t i = 0; i < axis.days.size(); ++i) {
        EXPECT_TRUE(axis.days[i] >= first && axis.days[i] <= last) << label;
        if (i > 0) EXPECT_LT(axis.days[i - 1], axis.days[i]) << label;
        texts.insert(axis.days[i].toString(axis.format));
      }
      EXPECT_EQ(axis.days.size(), texts.size()) << label << ": a label repeats";
      // A budget that takes every day shows every day.
      if (budget >= length) EXPECT_EQ(static_cast<size_t>(length), axis.days.size()) << label;
    }
  }
}

TEST(DayAxis, BusyRangeLeavesOutDaysMoreThanAYearAway) {
  const std::vector<QDate> days = {DayDate("01/Jan/0000"), DayDate("15/Jun/0050"),
                                   QDate(2009, 3, 1),      QDate(2009, 3, 2),
                                   QDate(2010, 3, 2),      DayDate("31/Dec/9999")};
  EXPECT_EQ((std::pair<size_t, size_t>{2, 5}), BusyRange(days, {1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(50, DayDate("15/Jun/0050").year()) << "never 1950";
  EXPECT_FALSE(DayDate("31/Feb/2009").isValid());
  // Two runs as long: the busier one.
  EXPECT_EQ((std::pair<size_t, size_t>{0, 1}),
            BusyRange({QDate(2001, 1, 1), QDate(2005, 1, 1)}, {9, 1}));
}

class DailyChartTest : public UiTest {
 protected:
  static std::vector<CommonStatsRow> Days(const std::vector<std::string>& texts) {
    std::vector<CommonStatsRow> rows;
    for (const std::string& text : texts) {
      const int64_t n = static_cast<int64_t>(rows.size());
      rows.push_back({n + 1, text, n + 1, n + 2, n + 3, n});
    }
    return rows;
  }
};

// The four days of the report that showed "17.05, 18.05, 18.05, 19.05, 19.05, 20.05": one label
// under each day's point, and stray years neither squeeze the chart nor turn into 19xx.
TEST_F(DailyChartTest, LabelsSitUnderTheDaysAndStrayYearsAreLeftOut) {
  DailyChart chart;
  chart.resize(900, 300);
  chart.show();
  chart.SetDays(Days({"17/May/2009", "18/May/2009", "19/May/2009", "20/May/2009", "01/Jan/0000",
                      "31/Dec/9999", "15/Jun/0050", "bad"}));
  EXPECT_EQ((QStringList{"17.05.2009", "18.05.2009", "19.05.2009", "20.05.2009"}),
            chart.LabelTexts());
  EXPECT_EQ(4, chart.Series(0)->count());
  EXPECT_EQ(3, chart.FarAway());
  EXPECT_EQ(4, chart.LeftOut());
  EXPECT_TRUE(chart.chart()->title().contains(QStringLiteral(": 3"))) << "it says how many";

  chart.resize(150, 300);  // a narrow chart keeps fewer labels, still on the days
  EXPECT_LT(chart.LabelTexts().size(), 4);
  EXPECT_FALSE(chart.LabelTexts().isEmpty());

  chart.SetDays(Days({"15/Jun/0050", "16/Jun/0050"}));  // the only traffic is in year 50
  EXPECT_EQ(0, chart.FarAway());
  EXPECT_EQ(QStringLiteral("16.06.0050\nХосты: 2"),
            chart.HoverText(0, QPointF(chart.Series(0)->at(1).x(), 0)));
}

// The pointer over the plot, moved as the window system moves it, shows the nearest day and
// every visible line's value; off the plot it shows nothing.
TEST_F(DailyChartTest, PointerOverThePlotShowsTheDayAndItsValues) {
  QWidget window;
  window.resize(800, 400);
  auto* chart = new DailyChart(&window);
  chart->setGeometry(0, 0, 800, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  chart->SetDays(Days({"01/Mar/2009", "02/Mar/2009", "03/Mar/2009"}));
  ASSERT_TRUE(WaitUntil([&] { return chart->chart()->plotArea().width() > 100; }));

  const QPointF point = chart->Series(2)->at(1);  // 02/Mar, views 4
  const QPointF in_scene = chart->chart()->mapToScene(chart->chart()->mapToPosition(point));
  const QPoint in_view = chart->mapFromScene(in_scene);
  const QPoint in_window = chart->viewport()->mapTo(&window, in_view + QPoint(3, -2));
  QTest::mouseMove(window.windowHandle(), in_window);
  ASSERT_TRUE(WaitUntil([&] { return chart->HoverLabel()->isVisible(); }));
  EXPECT_EQ(QStringLiteral("02.03.2009\nХосты: 2\nПосетители: 3\nПросмотры: 4\nSearches: 1"),
            chart->HoverLabel()->text());

  chart->Series(1)->setVisible(false);  // a hidden line is not named
  QTest::mouseMove(window.windowHandle(), in_window + QPoint(1, 0));
  EXPECT_FALSE(chart->HoverLabel()->text().contains(QStringLiteral("Посетители")));

  QTest::mouseMove(window.windowHandle(), chart->viewport()->mapTo(&window, QPoint(2, 2)));
  EXPECT_TRUE(WaitUntil([&] { return !chart->HoverLabel()->isVisible(); }));
}

// The chart takes its share of the height the screen gains, instead of a fixed height.
TEST_F(DailyChartTest, ChartGrowsWithTheScreen) {
  CommonStatDlg screen(nullptr);
  screen.show();
  const QSize initial = screen.size();
  const int chart_before = screen.Chart()->height(), grid_before = screen.Grid()->height();
  screen.resize(initial + QSize(0, 300));
  EXPECT_GE(screen.Chart()->height(), chart_before + 150);
  EXPECT_GE(screen.Grid()->height(), grid_before + 100);
  EXPECT_LT(screen.Grid()->geometry().bottom(), screen.Chart()->geometry().top());
  EXPECT_EQ(screen.height(), screen.Chart()->geometry().bottom() + 1);
  screen.resize(initial);
  EXPECT_EQ(chart_before, screen.Chart()->height());
}

}  // namespace
}  // namespace hitsieve
