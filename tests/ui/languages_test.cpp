#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTranslator>
#include <QTreeWidget>

#include "ui/common_stat_dlg.h"
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
                         "Search robots"}),
            screens);
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
}

TEST_F(LanguagesTest, RussianBringsQtsOwnDialogTexts) {
  ASSERT_TRUE(InstallTranslations(*qApp, UiLanguage::kRussian));
  EXPECT_EQ(QStringLiteral("&Да"), QCoreApplication::translate("QPlatformTheme", "&Yes"));
  MainDlg window;
  EXPECT_EQ(QStringLiteral("Настройки"), window.Tree()->topLevelItem(0)->text(0));
}

}  // namespace
}  // namespace hitsieve
