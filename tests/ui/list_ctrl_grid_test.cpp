#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QTest>

#include "export/report_lists.h"
#include "ui/list_ctrl_grid.h"
#include "ui/referer_grid.h"
#include "ui/robot_log_grid.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using Cells = std::vector<std::vector<std::string>>;

TEST(ListCtrlGrid, ModelKeepsItsContractThroughEveryChange) {
  ListCtrlGrid grid;
  QAbstractItemModelTester tester(grid.Model(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  grid.SetupCommonStatsColumns();
  grid.FillCommonStats({{1, "01/Jan/2009", 1, 2, 3, 0}, {2, "02/Jan/2009", 4, 5, 6, 7}});
  grid.InsertRow({"x", "1"}, 1);  // shorter than the columns
  grid.SetupLogFileColumns();
  grid.InsertRow({"a", "b"}, 0);
  grid.DeleteAllItems();
  EXPECT_EQ(0, grid.Model()->rowCount());
  EXPECT_EQ(2, grid.Model()->columnCount());
}

TEST(ListCtrlGrid, ShowsTheSharedRenderingWithTitlesAndWidths) {
  ListCtrlGrid grid;
  grid.SetupPageStatsColumns();
  const std::vector<PageStatsRow> rows = {
      {1, "/a.html", 3, 0, 1048576, {1, 0, 0, 0, 0, 0}},
      {2, "/b.html", 1, 1, 1572864, {0, 0, 0, 0, 2, 0}}};
  grid.FillPageStats(rows);
  std::vector<ListRow> rendered = RenderPageStats(rows);
  Cells expected(rendered.begin(), rendered.end());
  EXPECT_EQ(expected, GridCells(grid));
  EXPECT_EQ("1,00", GridCells(grid)[1][3]);
  EXPECT_EQ("1,50", GridCells(grid)[2][3]);

  const ListColumns& columns = PageStatsColumns();
  ASSERT_EQ(static_cast<int>(columns.size()), grid.Model()->columnCount());
  for (int i = 0; i < grid.Model()->columnCount(); ++i) {
    EXPECT_EQ(QString::fromStdString(columns[i].title),
              grid.Model()->headerData(i, Qt::Horizontal).toString()) << i;
    EXPECT_EQ(columns[i].width, grid.columnWidth(i)) << i;
  }
  EXPECT_FALSE(grid.Model()->flags(grid.Model()->index(0, 0)) & Qt::ItemIsEditable);
}

TEST(ListCtrlGrid, HeaderClickKeepsTheOrderOfTheRows) {
  ListCtrlGrid grid;
  grid.SetupQueryStatsColumns();
  grid.FillQueryStats({{"b", 5, {5, 0, 0, 0, 0, 0}}, {"a", 2, {0, 2, 0, 0, 0, 0}},
                       {"c", 9, {0, 0, 9, 0, 0, 0}}});
  grid.resize(600, 300);
  grid.show();
  const Cells before = GridCells(grid);
  QHeaderView* header = grid.horizontalHeader();
  for (int column : {0, 1, 0})
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
  EXPECT_EQ(before, GridCells(grid));
  EXPECT_TRUE(grid.selectionModel()->selectedRows().isEmpty());
}

TEST(ListCtrlGrid, SelectedTextsTakesTheSecondCellOfEverySelectedRow) {
  ListCtrlGrid grid;
  grid.SetupLogFileColumns();
  for (int i = 0; i < 5; ++i) grid.InsertRow({"f" + std::to_string(i), "p" + std::to_string(i)}, i);
  std::set<std::string> none;
  grid.SelectedTexts(none);
  EXPECT_TRUE(none.empty());

  for (int row : {4, 1})
    grid.selectionModel()->select(grid.Model()->index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  std::set<std::string> texts{"kept"};
  grid.SelectedTexts(texts);
  EXPECT_EQ((std::set<std::string>{"kept", "p1", "p4"}), texts);
}

TEST(RefererGrid, ShowsRowsOfItsModeLessTheExcludedOnes) {
  const std::vector<RefererRow> rows = {{1, "http://a.ru/x?q=spam", 1, 9},
                                        {2, "a.ru", 0, 9},
                                        {3, "http://b.ru/", 1, 4},
                                        {4, "b.ru", 0, 4},
                                        {5, "SPAM.ru", 0, 2}};
  const struct {
    const char* label;
    int mode;
    const char* exclusion;
    Cells expected;
  } cases[] = {
      {"hosts, nothing excluded", 0, "", {{"a.ru", "9"}, {"b.ru", "4"}, {"SPAM.ru", "2"}}},
      {"pages, nothing excluded", 1, "", {{"http://a.ru/x?q=spam", "9"}, {"http://b.ru/", "4"}}},
      {"pages, text in the query part", 1, "spam", {{"http://b.ru/", "4"}}},
      {"hosts, case must match", 0, "spam", {{"a.ru", "9"}, {"b.ru", "4"}, {"SPAM.ru", "2"}}},
      {"hosts, excluded anywhere", 0, ".ru", {}},
  };
  for (const auto& c : cases) {
    RefererGrid grid;
    grid.SetupColumns(c.mode);
    grid.SetExclusionText(c.exclusion);
    grid.Fill(rows);
    EXPECT_EQ(c.mode, grid.Mode()) << c.label;
    EXPECT_EQ(c.expected, GridCells(grid)) << c.label;
    EXPECT_EQ(QString::fromStdString(RefererColumns(c.mode)[0].title),
              grid.Model()->headerData(0, Qt::Horizontal).toString()) << c.label;
  }
}

TEST(RobotLogGrid, FiltersByRobotWhileTheSummaryKeepsEveryCount) {
  RobotLogGrid log;
  log.SetupColumns();
  log.Rows() = {{"Yandex", "/a", 200, "1.1.1.1", "01/Feb/2009"},
                {"Googlebot", "/b", 404, "2.2.2.2", "02/Jan/2009"},
                {"Yandex", "/c", 200, "1.1.1.1", "02/Jan/2009"}};
  log.FillAll();
  EXPECT_EQ(3, log.Model()->RowCount());

  ListCtrlGrid summary;
  summary.SetupRobotSummaryColumns();
  summary.FillRobotSummary(log);
  const Cells counts = {{"Googlebot", "1"}, {"Yandex", "2"}};
  EXPECT_EQ(counts, GridCells(summary));

  log.FillForRobot("Yandex");
  const Cells yandex = {{"Yandex", "/a", "200", "1.1.1.1", "01/Feb/2009"},
                        {"Yandex", "/c", "200", "1.1.1.1", "02/Jan/2009"}};
  EXPECT_EQ(yandex, GridCells(log));
  log.FillForRobot("yandex");
  EXPECT_EQ(0, log.Model()->RowCount());
  log.FillForRobot("");
  EXPECT_EQ(3, log.Model()->RowCount());
  summary.FillRobotSummary(log);
  EXPECT_EQ(counts, GridCells(summary));
}

}  // namespace
}  // namespace hitsieve
