#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QTest>

#include <random>

#include "engine/text.h"
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

void ClickHeader(ListCtrlGrid& grid, int column) {
  QHeaderView* header = grid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
}

std::vector<std::string> Column(const ListCtrlGrid& grid, int column) {
  std::vector<std::string> texts;
  for (const auto& row : GridCells(grid)) texts.push_back(row[column]);
  return texts;
}

// Each kind of column sorts by its meaning, a second click reverses, the totals row stays
// first throughout, and the next fill shows the handed-over order again.
TEST(ListCtrlGrid, HeaderClicksSortByValueReverseAndKeepTheTotalsFirst) {
  ListCtrlGrid pages;
  pages.SetupPageStatsColumns();
  pages.FillPageStats({{1, "/b.html", 9, 0, 1572864, {}},
                       {2, "/A.html", 10, 3, 524288, {}},
                       {3, "/c.html", 100, 1, 10485760, {}},
                       {4, "/a2.html", 2, 0, 1048576, {}}});
  pages.resize(900, 300);
  pages.show();
  const Cells handed = GridCells(pages);
  const struct {
    const char* label;
    int column;
    std::vector<std::string> first, second;  // after the first and the second click
  } cases[] = {
      {"texts ignore case", 0,
       {"", "/A.html", "/a2.html", "/b.html", "/c.html"},
       {"", "/c.html", "/b.html", "/a2.html", "/A.html"}},
      {"numbers by value, largest first", 1,
       {"121", "100", "10", "9", "2"},
       {"121", "2", "9", "10", "100"}},
      {"a dash counts as 0; equal values keep their order", 2,
       {"4", "3", "1", "-", "-"},
       {"4", "-", "-", "1", "3"}},
      {"megabytes by value, not by text", 3,
       {"13,00", "10,00", "1,50", "1,00", "0,50"},
       {"13,00", "0,50", "1,00", "1,50", "10,00"}},
  };
  for (const auto& c : cases) {
    ClickHeader(pages, c.column);
    EXPECT_EQ(c.first, Column(pages, c.column)) << c.label;
    EXPECT_EQ(handed[0], GridCells(pages)[0]) << c.label;
    EXPECT_EQ(c.column, pages.horizontalHeader()->sortIndicatorSection()) << c.label;
    ClickHeader(pages, c.column);
    EXPECT_EQ(c.second, Column(pages, c.column)) << c.label;
  }
  // Rows with equal dashes stay in handed-over order both ways.
  ClickHeader(pages, 2);
  EXPECT_EQ("/b.html", GridCells(pages)[3][0]);
  EXPECT_EQ("/a2.html", GridCells(pages)[4][0]);

  pages.FillPageStats({{1, "/b.html", 9, 0, 1572864, {}},
                       {2, "/A.html", 10, 3, 524288, {}},
                       {3, "/c.html", 100, 1, 10485760, {}},
                       {4, "/a2.html", 2, 0, 1048576, {}}});
  EXPECT_EQ(handed, GridCells(pages)) << "a reload shows the described order";
  EXPECT_EQ(-1, pages.horizontalHeader()->sortIndicatorSection());
}

TEST(ListCtrlGrid, DaysSortInCalendarOrderAndNonDatesComeFirst) {
  ListCtrlGrid days;
  days.SetupCommonStatsColumns();
  days.FillCommonStats({{1, "01/Feb/2009", 1, 1, 1, 0},
                        {2, "01/Jan/2010", 1, 1, 1, 0},
                        {3, "02/Jan/2009", 1, 1, 1, 0},
                        {4, "garbage", 1, 1, 1, 0},
                        {5, "31/Dec/2008", 1, 1, 1, 0}});
  days.resize(900, 300);
  days.show();
  ClickHeader(days, 0);
  EXPECT_EQ((std::vector<std::string>{"", "garbage", "31/Dec/2008", "02/Jan/2009",
                                      "01/Feb/2009", "01/Jan/2010"}),
            Column(days, 0));
  ClickHeader(days, 0);
  EXPECT_EQ((std::vector<std::string>{"", "01/Jan/2010", "01/Feb/2009", "02/Jan/2009",
                                      "31/Dec/2008", "garbage"}),
            Column(days, 0));
  EXPECT_EQ("5", GridCells(days)[0][1]) << "the totals row is first and unchanged";
}

TEST(ListCtrlGrid, NumbersAreRightAlignedAndTextsLeft) {
  ListCtrlGrid grid;
  grid.SetupQueryStatsColumns();
  grid.FillQueryStats({{"phrase", 3, {3, 0, 0, 0, 0, 0}}});
  const auto alignment = [&](int column) {
    return grid.Model()->data(grid.Model()->index(1, column), Qt::TextAlignmentRole)
               .value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
  };
  EXPECT_EQ(Qt::AlignLeft, alignment(0));
  for (int column = 1; column < grid.Model()->columnCount(); ++column)
    EXPECT_EQ(Qt::AlignRight, alignment(column)) << column;
}

// Generated lists, sorted and filtered by every column, against a plain reading of the same
// rows: the shown rows are exactly those matching as written or percent-decoded, ordered by the
// column's value, with the totals row first: untouched without a filter, else the totals of the
// rows shown.
TEST(ListCtrlGrid, SortAndFilterAgreeWithAPlainReadingOfGeneratedRows) {
  std::mt19937 random(7);
  const std::vector<std::string> words = {"Слон", "слон", "СЛОН", "/index.html", "Ёж", "ёж",
                                          "/a b", "%D1%81", "", "x", "с"};
  for (int round = 0; round < 20; ++round) {
    std::vector<PageStatsRow> rows;
    const int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      PageStatsRow row{i, words[random() % words.size()] + words[random() % words.size()],
                       static_cast<int32_t>(random() % 5), static_cast<int32_t>(random() % 3),
                       static_cast<int64_t>(random() % 4) * 524288, {}};
      row.page = ConvertCodePage(row.page, kCodePageUtf8, kCodePage1251);
      rows.push_back(row);
    }
    ListCtrlGrid grid;
    grid.SetupPageStatsColumns();
    grid.FillPageStats(rows);
    const Cells handed = GridCells(grid);
    const QString filter = QString::fromStdString(words[random() % words.size()]);
    grid.SetFilterText(filter);
    const int column = static_cast<int>(random() % 4);
    const Qt::SortOrder order = random() % 2 ? Qt::AscendingOrder : Qt::DescendingOrder;
    grid.Model()->sort(column, order);

    Cells expected;
    for (size_t i = 1; i < handed.size(); ++i) {
      const QByteArray page = QByteArray::fromStdString(handed[i][0]);
      if (QString::fromUtf8(page).contains(filter, Qt::CaseInsensitive) ||
          QString::fromUtf8(QByteArray::fromPercentEncoding(page)).contains(filter, Qt::CaseInsensitive))
        expected.push_back(handed[i]);
    }
    std::vector<std::string> totals = handed[0];
    if (!filter.isEmpty()) {
      totals = {"Итого (отобрано)"};
      for (size_t column = 1; !expected.empty() && column < handed[0].size(); ++column) {
        double sum = 0;
        for (const auto& row : expected)
          sum += row[column] == "-" ? 0 : QString::fromStdString(row[column]).replace(',', '.').toDouble();
        totals.push_back(column == 3 ? QString::number(sum, 'f', 2).replace('.', ',').toStdString()
                         : sum == 0  ? "-"
                                     : std::to_string(static_cast<long>(sum)));
      }
      totals.resize(handed[0].size());  // over no rows: the first cell alone
    }
    const auto key = [&](const std::vector<std::string>& row) -> QVariant {
      if (column == 0) return QString::fromStdString(row[0]).toCaseFolded();
      QString text = QString::fromStdString(row[column]).replace(',', '.');
      return text == "-" ? 0.0 : text.toDouble();
    };
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
      const QVariant ka = key(a), kb = key(b);
      const bool less = column == 0 ? ka.toString() < kb.toString() : ka.toDouble() < kb.toDouble();
      const bool greater =
          column == 0 ? kb.toString() < ka.toString() : kb.toDouble() < ka.toDouble();
      return order == Qt::AscendingOrder ? less : greater;
    });
    expected.insert(expected.begin(), totals);
    EXPECT_EQ(expected, GridCells(grid)) << "round " << round << " column " << column
                                         << " filter " << filter.toStdString();
  }
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
