#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTranslator>
#include <QTreeWidget>

#include <QLabel>

#include "ui/common_stat_dlg.h"
#include "ui/dimension_screen.h"
#include "ui/languages.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/screens_tree_ctrl.h"
#include "ui/settings_tab.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

class LanguagesTest : public UiTest {
 protected:
  void TearDown() override {
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(translator);
      delete translator;
    }
    qunsetenv("HITSIEVE_LANG");
    UiTest::TearDown();
  }
};

TEST_F(LanguagesTest, EnvironmentChoosesTheLanguage) {
  const struct {
    const char* value;
    UiLanguage language;
  } cases[] = {{"en", UiLanguage::kEnglish}, {"EN", UiLanguage::kEnglish},
               {"ru", UiLanguage::kRussian}};
  for (const auto& c : cases) {
    qputenv("HITSIEVE_LANG", c.value);
    EXPECT_EQ(c.language, ChooseLanguage()) << c.value;
  }
}

TEST_F(LanguagesTest, EnglishMainWindowAndLists) {
  ASSERT_TRUE(InstallTranslations(*qApp, UiLanguage::kEnglish));
  MainDlg window;
  window.show();
  QStringList screens;
  for (int i = 0; i < window.Tree()->topLevelItemCount(); ++i)
    screens << window.Tree()->topLevelItem(i)->text(0);
  EXPECT_EQ((QStringList{"Log files", "Overview", "Pages", "Referers", "Search phrases",
                         "Search robots", "Status codes", "Time of day"}),
            screens.mid(0, 8));
  QStringList buttons;
  for (const char* name : {"add", "delete", "analyse", "stop"})
    buttons << window.Settings()->findChild<QPushButton*>(name)->text();
  EXPECT_EQ((QStringList{"Add", "Remove", "Analyse", "Stop"}), buttons);
  EXPECT_EQ(QStringLiteral("About"), window.AboutButton()->text());
  const ListModel& days = *window.CommonStats()->Grid()->Model();
  QStringList headers;
  for (int c = 0; c < days.columnCount(); ++c)
    headers << days.headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ((QStringList{"Date", "Hosts", "Visitors", "Views", "Searches"}), headers);

  // The lists of the dimension screens, their captions and the line of a dimension not counted.
  const auto& status = *static_cast<DimensionScreen*>(window.Screen(window.ScreenIndex("status")));
  QStringList titles;
  for (int list = 0; list < status.ListCount(); ++list) {
    const ListModel& model = *status.ListGrid(list)->Model();
    for (int c = 0; c < model.columnCount(); ++c)
      titles << model.headerData(c, Qt::Horizontal).toString();
    titles << status.Caption(list)->text();
  }
  EXPECT_EQ((QStringList{"Status code", "Requests", "Share, %", "Requests of people by status code",
                         "Page", "Requests", "Most often came from",
                         "Pages not found (404 and 410) and where people came from"}),
            titles);
  EXPECT_TRUE(status.NotCountedLine(0)->text().startsWith("Not counted in this statistics database"));
  QStringList summary;
  for (const QLabel* label : window.CommonStats()->findChild<QWidget*>("summary")->findChildren<QLabel*>())
    if (label->objectName().isEmpty()) summary << label->text();
  EXPECT_EQ((QStringList{"First day:", "Last day:", "Days:", "Views:", "Visitors (sum of days):",
                         "Distinct addresses:", "Traffic:", "Requests not found (404, 410):",
                         "Share of robot requests:"}),
            summary);
}

TEST_F(LanguagesTest, RussianBringsQtsOwnDialogTexts) {
  ASSERT_TRUE(InstallTranslations(*qApp, UiLanguage::kRussian));
  EXPECT_EQ(QStringLiteral("&Да"), QCoreApplication::translate("QPlatformTheme", "&Yes"));
  MainDlg window;
  EXPECT_EQ(QStringLiteral("Настройки"), window.Tree()->topLevelItem(0)->text(0));
}

}  // namespace
}  // namespace hitsieve
