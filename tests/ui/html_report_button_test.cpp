// The "HTML" button of the daily screen: it writes the report page and hands it to the browser.

#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include "store/stats_database.h"
#include "ui/common_stat_dlg.h"
#include "ui/main_dlg.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using HtmlReportButtonTest = UiTest;

TEST_F(HtmlReportButtonTest, WritesANewPageOfTheStatisticsAndOpensIt) {
  MainDlg window;
  StatsDatabase::Instance().session()
      << "INSERT INTO page_stats (page, visits, searches, bandwidth, google, yandex, rambler, "
         "mailru, aport, webalta) VALUES ('/<b>bold</b>.html', 3, 0, 10, 0, 0, 0, 0, 0, 0)";
  QPushButton* html = window.CommonStats()->findChild<QPushButton*>("html");
  ASSERT_NE(nullptr, html);
  QTest::mouseClick(html, Qt::LeftButton);
  QTest::mouseClick(html, Qt::LeftButton);  // the same second: the second page gets a free name
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" ").toStdString();
  ASSERT_EQ(2, opened_files_.size());
  EXPECT_NE(opened_files_[0], opened_files_[1]);
  for (const QString& path : opened_files_) {
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("hitsieve-report-")) << path.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray page = file.readAll();
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.contains("\"/\\u003cb\\u003ebold\\u003c/b\\u003e.html\",3,"));
    file.close();
    QFile::remove(path);
  }
}

TEST_F(HtmlReportButtonTest, DisabledWhileARunIsUnderWayAndFailuresAreShown) {
  MainDlg window;
  QPushButton* html = window.CommonStats()->findChild<QPushButton*>("html");
  window.SetRunActive(true);
  EXPECT_FALSE(html->isEnabled());
  window.SetRunActive(false);
  EXPECT_TRUE(html->isEnabled());

  StatsDatabase::Instance().session() << "DROP TABLE robot_log";
  QTest::mouseClick(html, Qt::LeftButton);
  ASSERT_EQ(1, messages_.size());
  EXPECT_TRUE(messages_[0].contains("robot_log")) << messages_[0].toStdString();
  EXPECT_TRUE(opened_files_.isEmpty());
}

}  // namespace
}  // namespace hitsieve
