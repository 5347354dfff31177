#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include "store/stats_database.h"
#include "ui/common_stat_dlg.h"
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
