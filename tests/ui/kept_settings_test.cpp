#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "run/analysis_job.h"
#include "ui/common_stat_dlg.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/referer_grid.h"
#include "ui/referer_tab.h"
#include "ui/screens_tree_ctrl.h"
#include "ui/settings_tab.h"
#include "ui/ui_seams.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using KeptSettingsTest = UiTest;

RefererTab& Referers(MainDlg& window) { return *static_cast<RefererTab*>(window.Screen(3)); }

TEST_F(KeptSettingsTest, SecondWindowStartsWhereTheFirstLeftOff) {
  const QString log = WriteLog("ру.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html",
                                                   "http://spam.example/x"),
                                           LogLine("10.0.0.2", "05/May/2009", "/b.html",
                                                   "http://friend.example/y")});
  const QString other = WriteLog("other.log", {});
  QSize kept_size;
  {
    MainDlg window;
    window.show();
    chosen_files_ = {log, other};
    QTest::mouseClick(window.Settings()->findChild<QPushButton*>("add"), Qt::LeftButton);
    on_dialog_ = [](QDialog& dialog) {
      dialog.findChild<QLineEdit*>("extensions")->setText(QStringLiteral("html; shtml"));
      return static_cast<int>(QDialog::Rejected);  // a cancelled dialog keeps nothing
    };
    QTest::mouseClick(window.Settings()->findChild<QPushButton*>("analyse"), Qt::LeftButton);
    on_dialog_ = [](QDialog& dialog) {
      dialog.findChild<QLineEdit*>("extensions")->setText(QStringLiteral("html; php"));
      dialog.accept();
      return dialog.result();
    };
    QTest::mouseClick(window.Settings()->findChild<QPushButton*>("analyse"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !window.Settings()->IsRunActive(); }));
    Referers(window).ExcludeEdit()->setText(QStringLiteral("spam"));
    QTest::mouseClick(Referers(window).findChild<QPushButton*>("apply"), Qt::LeftButton);
    window.Tree()->setCurrentItem(window.Tree()->topLevelItem(3));
    window.resize(window.size() + QSize(120, 80));
    kept_size = window.size();
  }

  MainDlg window;
  window.show();
  EXPECT_EQ(kept_size, window.size());
  EXPECT_EQ(window.Screen(3), window.CurrentScreen());
  EXPECT_EQ(window.ScreenRect(), window.CurrentScreen()->geometry());
  const std::vector<std::vector<std::string>> files = {
      {"other.log", other.toStdString()}, {"ру.log", log.toStdString()}};
  const SettingsTab& settings = *window.Settings();
  EXPECT_EQ(files, GridCells(*settings.findChild<ListCtrlGrid*>("files")));
  EXPECT_EQ(2u, settings.LogFiles().size());
  EXPECT_EQ(QStringLiteral("spam"), Referers(window).ExcludeEdit()->text());
  // The exclusion is in force from the first reload, not only in the edit.
  const std::vector<std::vector<std::string>> hosts = {{"friend.example", "1"}};
  EXPECT_EQ(hosts, GridCells(*Referers(window).HostGrid()));

  QString opened_with;
  on_dialog_ = [&](QDialog& dialog) {
    opened_with = dialog.findChild<QLineEdit*>("extensions")->text();
    return static_cast<int>(QDialog::Rejected);
  };
  window.Settings()->OnAnalyse();
  EXPECT_EQ(QStringLiteral("html; php"), opened_with);
}

TEST_F(KeptSettingsTest, AFreshStartShowsTheDescribedDefaults) {
  MainDlg window;
  window.show();
  EXPECT_EQ(window.Screen(0), window.CurrentScreen());
  EXPECT_TRUE(window.Settings()->LogFiles().empty());
  EXPECT_TRUE(Referers(window).ExcludeEdit()->text().isEmpty());
  QString opened_with;
  answer_yes_ = true;
  on_dialog_ = [&](QDialog& dialog) {
    opened_with = dialog.findChild<QLineEdit*>("extensions")->text();
    return static_cast<int>(QDialog::Rejected);
  };
  window.Settings()->OnAnalyse();
  EXPECT_EQ(QStringLiteral("html; htm; php; asp; zip; jsp; txt"), opened_with);
}

// A box opens only when the one before it has been closed, whoever asks for it meanwhile.
TEST_F(KeptSettingsTest, MessageBoxesNeverOpenOverEachOther) {
  int open = 0, most_open = 0;
  Seams().show_message = [&](QWidget*, const QString& text) {
    most_open = std::max(most_open, ++open);
    messages_.append(text);
    if (text == "first") {
      ShowMessage(nullptr, QStringLiteral("second"));
      ShowMessage(nullptr, QStringLiteral("third"));
      EXPECT_FALSE(AskYesNo(nullptr, QStringLiteral("question"))) << "no box over a box";
    }
    if (text == "second") ShowMessage(nullptr, QStringLiteral("fourth"));
    --open;
  };
  ShowMessage(nullptr, QStringLiteral("first"));
  EXPECT_EQ(1, most_open);
  EXPECT_EQ((QStringList{"first", "second", "third", "fourth"}), messages_);
  EXPECT_TRUE(questions_.isEmpty());
  ShowMessage(nullptr, QStringLiteral("later"));  // the queue is usable again
  EXPECT_EQ(5, messages_.size());
}

// The box that says why the window stays open is still open when the run ends: the end of the
// run is told after it has been closed.
TEST_F(KeptSettingsTest, FinishedRunWaitsForTheOpenBox) {
  MainDlg window;
  window.show();
  window.Settings()->AddLogFiles(
      {WriteLog("x.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html")})});
  QStringList shown_while_open;
  Seams().show_message = [&](QWidget*, const QString& text) {
    messages_.append(text);
    if (!text.startsWith(QStringLiteral("Идёт анализ"))) return;
    // The run's end is handled meanwhile; its message waits for this box to close.
    WaitUntil([&] { return !window.Settings()->IsRunActive(); });
    shown_while_open = messages_;
  };
  window.Settings()->OnAnalyse();
  EXPECT_FALSE(window.close());
  ASSERT_EQ(1, shown_while_open.size());
  ASSERT_EQ(2, messages_.size());
  EXPECT_EQ(QStringLiteral("Анализ завершен!"), messages_[1]);
}

TEST_F(KeptSettingsTest, WorkbookGoesToTheDocumentsFolderWhenThereIsOne) {
  CommonStatDlg screen(nullptr);
  QPushButton* excel = screen.findChild<QPushButton*>("excel");
  const QString documents = QDir(HomePath()).filePath(QStringLiteral("Documents"));
  ASSERT_TRUE(QDir().mkpath(documents));
  QTest::mouseClick(excel, Qt::LeftButton);
  ASSERT_TRUE(QDir().rmdir(documents) || QDir(documents).removeRecursively());
  QTest::mouseClick(excel, Qt::LeftButton);  // no documents folder: the temporary folder
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join(" ").toStdString();
  ASSERT_EQ(2, opened_files_.size());
  EXPECT_EQ(documents, QFileInfo(opened_files_[0]).absolutePath());
  EXPECT_TRUE(QFileInfo(opened_files_[0]).fileName().startsWith("hitsieve-common-"));
  EXPECT_EQ(QDir::tempPath(), QFileInfo(opened_files_[1]).absolutePath());
  QFile::remove(opened_files_[1]);
}

}  // namespace
}  // namespace hitsieve
