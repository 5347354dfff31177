#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <string>
#include <vector>

#include "store/database_location.h"
#include "ui/common_stat_dlg.h"
#include "ui/desktop_arguments.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/report_screen.h"
#include "ui/screens_tree_ctrl.h"
#include "ui/settings_tab.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

using MainDlgTest = UiTest;

struct Geometries {
  QRect tree, frame, about, screen, progress, status, files, add;
  bool operator==(const Geometries&) const = default;
};

Geometries Measure(const MainDlg& window) {
  const SettingsTab& tab = *window.Settings();
  return {window.Tree()->geometry(),
          window.Frame()->geometry(),
          window.AboutButton()->geometry(),
          window.CurrentScreen()->geometry(),
          tab.findChild<QProgressBar*>("progress")->geometry(),
          tab.findChild<QLabel*>("status")->geometry(),
          tab.findChild<ListCtrlGrid*>("files")->geometry(),
          tab.findChild<QPushButton*>("add")->geometry()};
}

QRect Grown(const QRect& r, int dx, int dy) { return r.adjusted(0, 0, dx, dy); }

TEST_F(MainDlgTest, ResizingFollowsTheAnchorsAndShrinkingBackRestoresExactly) {
  MainDlg window;
  window.show();
  const QSize initial = window.size();
  const Geometries start = Measure(window);
  EXPECT_EQ(window.ScreenRect(), start.screen);
  EXPECT_EQ(start.frame.adjusted(8, 14, -10, -15), start.screen);

  const struct {
    const char* label;
    int dx, dy;
  } cases[] = {{"enlarged", 150, 100}, {"wider only", 333, 0}, {"below the template", -60, -45}};
  for (const auto& c : cases) {
    window.resize(initial + QSize(c.dx, c.dy));
    const Geometries now = Measure(window);
    EXPECT_EQ(Grown(start.tree, 0, c.dy), now.tree) << c.label;
    EXPECT_EQ(Grown(start.frame, c.dx, c.dy), now.frame) << c.label;
    EXPECT_EQ(start.about.translated(0, c.dy), now.about) << c.label;
    EXPECT_EQ(Grown(start.screen, c.dx, c.dy), now.screen) << c.label;
    EXPECT_EQ(Grown(start.progress, c.dx, 0), now.progress) << c.label;
    EXPECT_EQ(start.status.translated(c.dx, 0), now.status) << c.label;
    EXPECT_EQ(Grown(start.files, c.dx, c.dy), now.files) << c.label;
    EXPECT_EQ(start.add, now.add) << c.label;

    window.resize(initial);
    EXPECT_TRUE(start == Measure(window)) << c.label;
  }
}

TEST_F(MainDlgTest, TreeListsTheScreensInOrderAndSwitchesBetweenThem) {
  MainDlg window;
  window.show();
  const char* labels[] = {"Настройки",         "Общая статистика", "Обращения к страницам",
                          "Рефереры",          "Поисковые запросы", "Поисковики"};
  ScreensTreeCtrl& tree = *window.Tree();
  ASSERT_EQ(window.ScreenCount(), tree.topLevelItemCount());
  ASSERT_LT(MainDlg::kDescribedScreenCount, window.ScreenCount());
  for (int i = 0; i < MainDlg::kDescribedScreenCount; ++i)
    EXPECT_EQ(QString::fromUtf8(labels[i]), tree.topLevelItem(i)->text(0)) << i;
  EXPECT_EQ(-1, tree.SelectedScreenIndex());
  EXPECT_EQ(window.Screen(0), window.CurrentScreen());

  // Enlarge while the log-files screen shows: the next screen must appear already fitted.
  window.resize(window.size() + QSize(120, 80));
  for (int pick : {1, 4, 2, 5, 3, 6, 7, 0, 0}) {
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                      tree.visualItemRect(tree.topLevelItem(pick)).center());
    EXPECT_EQ(pick, tree.SelectedScreenIndex()) << pick;
    EXPECT_EQ(window.Screen(pick), window.CurrentScreen()) << pick;
    EXPECT_EQ(window.ScreenRect(), window.CurrentScreen()->geometry()) << pick;
    for (int i = 0; i < window.ScreenCount(); ++i)
      EXPECT_EQ(i == pick, window.Screen(i)->isVisible()) << pick << " " << i;
  }
  // A click below the last item keeps the choice, as the list's highlight and the screen agree.
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(5, tree.viewport()->height() - 5));
  EXPECT_EQ(0, tree.SelectedScreenIndex());
  EXPECT_EQ(window.Screen(0), window.CurrentScreen());

  // The common statistics list stretched with its screen, above the chart at the bottom.
  const ListCtrlGrid* grid = window.CommonStats()->Grid();
  const QWidget* chart = window.CommonStats()->findChild<QWidget*>("chart");
  EXPECT_EQ(window.CommonStats()->width(), grid->geometry().right() + 1);
  EXPECT_EQ(window.CommonStats()->width(), chart->geometry().right() + 1);
  EXPECT_EQ(window.CommonStats()->height(), chart->geometry().bottom() + 1);
  EXPECT_LT(grid->geometry().bottom(), chart->geometry().top());
}

TEST_F(MainDlgTest, ReloadListHoldsTheReportScreensInOrder) {
  MainDlg window;
  std::vector<Reloadable*> expected;
  for (int i = 1; i < window.ScreenCount(); ++i) expected.push_back(window.Screen(i));
  EXPECT_EQ(expected, window.ReloadList());
  EXPECT_TRUE(messages_.isEmpty());  // a fresh database gets its tables: no error at start-up
}

TEST_F(MainDlgTest, AboutButtonShowsTheAboutBox) {
  MainDlg window;
  window.show();
  QString title, shown_file;
  QStringList texts;
  on_dialog_ = [&](QDialog& dialog) {
    title = dialog.windowTitle();
    for (const QLabel* label : dialog.findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts.append(label->text());
    shown_file = dialog.findChild<QLineEdit*>(QStringLiteral("databaseFile"))->text();
    return int(QDialog::Accepted);
  };
  QTest::mouseClick(window.AboutButton(), Qt::LeftButton);
  EXPECT_EQ(1, dialogs_shown_);
  EXPECT_EQ(QStringLiteral("О программе"), title);
  EXPECT_TRUE(texts.contains(QStringLiteral("Hitsieve Версия 1.0")));
  // The version, three credit lines and the statistics file, which no run has written yet.
  EXPECT_EQ(5, texts.size());
  EXPECT_TRUE(texts.contains(QStringLiteral("Файл статистики (будет создан первым анализом):")));
  EXPECT_EQ(DatabasePath(), shown_file);
}

TEST_F(MainDlgTest, EnterAndEscapeInsideAScreenKeepTheWindowOpen) {
  MainDlg window;
  window.show();
  for (int pick : {0, 1}) {
    window.ShowScreen(pick);
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
      QTest::keyClick(window.CurrentScreen(), key);
      EXPECT_TRUE(window.isVisible()) << pick << " " << key;
    }
  }
}

// In the window itself Enter and Escape act as in any dialog: Enter presses the focused button
// or else, like Escape, ends the window and with it the program.
TEST_F(MainDlgTest, EnterAndEscapeInTheWindowItselfActAsInAnyDialog) {
  const struct {
    const char* label;
    bool on_about_button;
    Qt::Key key;
    bool stays_open;
    int about_boxes;
  } cases[] = {
      {"Enter on the About button", true, Qt::Key_Return, true, 1},
      {"Enter on the screen list", false, Qt::Key_Return, false, 0},
      {"keypad Enter on the screen list", false, Qt::Key_Enter, false, 0},
      {"Escape on the screen list", false, Qt::Key_Escape, false, 0},
  };
  for (const auto& c : cases) {
    MainDlg window;
    window.show();
    dialogs_shown_ = 0;
    QWidget* target = c.on_about_button ? static_cast<QWidget*>(window.AboutButton())
                                        : static_cast<QWidget*>(window.Tree());
    target->setFocus();
    QTest::keyClick(target, c.key, c.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    EXPECT_EQ(c.stays_open, window.isVisible()) << c.label;
    EXPECT_EQ(c.about_boxes, dialogs_shown_) << c.label;
  }
}

}  // namespace
}  // namespace hitsieve

namespace hitsieve {
namespace {

TEST(DesktopArguments, DbOptionThenTheEnvironmentThenTheDefaultRule) {
  const struct {
    std::vector<std::string> args;
    const char* database;  // nullptr: none given
    const char* error;     // nullptr: none
  } cases[] = {
      {{}, nullptr, nullptr},
      {{"--db", "a.dt"}, "a.dt", nullptr},
      {{"--db=/x/b.dt"}, "/x/b.dt", nullptr},
      {{"--db"}, nullptr, "option --db needs a file name"},
      {{"--db="}, nullptr, "option --db needs a file name, not an empty text"},
      {{"--db", "a", "--db", "b"}, "a", "option --db given twice"},
      {{"--bogus"}, nullptr, "unknown option --bogus (try --help)"},
      {{"logs.log"}, nullptr, "unexpected argument logs.log (try --help)"},
  };
  for (const auto& c : cases) {
    const DesktopArguments parsed = ParseDesktopArguments(c.args, /*strict=*/true);
    const std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(c.database != nullptr, parsed.database.has_value()) << label;
    if (c.database != nullptr && parsed.database) {
      EXPECT_EQ(c.database, *parsed.database) << label;
    }
    EXPECT_EQ(c.error != nullptr ? c.error : "", parsed.error) << label;
  }
  // Before the application has taken Qt's options, those pass; help is still seen.
  const DesktopArguments early = ParseDesktopArguments({"-platform", "offscreen", "--help"}, false);
  EXPECT_TRUE(early.help);
  EXPECT_TRUE(early.error.empty());

  const std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(here + "/a.dt", ChooseDesktopDatabase(ParseDesktopArguments({"--db", "a.dt"}, true),
                                                  "/env/e.dt"));
  EXPECT_EQ("/env/e.dt", ChooseDesktopDatabase(DesktopArguments{}, "/env/e.dt"));
  EXPECT_EQ(DefaultDatabaseFile(), ChooseDesktopDatabase(DesktopArguments{}, ""));
  EXPECT_EQ(DefaultDatabaseFile(), ChooseDesktopDatabase(DesktopArguments{}, nullptr));
}

}  // namespace
}  // namespace hitsieve
