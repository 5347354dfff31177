#include "ui/main_app.h"

#include <cstdio>
#include <string>
#include <vector>

#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidgetItem>

#include "export/report_language.h"
#include "store/stats_database.h"
#include "ui/desktop_arguments.h"
#include "ui/languages.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/screens_tree_ctrl.h"
#include "ui/settings_tab.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

void ApplyStartupHooks(MainDlg& window) {
  const QByteArray logs = qgetenv("HITSIEVE_LOGS");
  if (!logs.isEmpty())
    window.Settings()->AddLogFiles(QFile::decodeName(logs).split(QLatin1Char(':'),
                                                                 Qt::SkipEmptyParts));
  // A screen's number in the tree, or a dimension screen's name ("status", "hours"...).
  bool ok = false;
  int screen = qEnvironmentVariableIntValue("HITSIEVE_SCREEN", &ok);
  if (!ok) {
    screen = window.ScreenIndex(qEnvironmentVariable("HITSIEVE_SCREEN"));
    ok = screen >= 0;
  }
  if (ok && screen >= 0 && screen < window.ScreenCount())
    window.Tree()->setCurrentItem(window.Tree()->topLevelItem(screen));
  // The shown screen's list sorted by a column (as one header click does) and its search field
  // filled in, for screenshots of both.
  const int column = qEnvironmentVariableIntValue("HITSIEVE_SORT", &ok);
  if (ok && window.CurrentScreen() != nullptr) {
    if (auto* grid = window.CurrentScreen()->findChild<ListCtrlGrid*>())
      if (column >= 0 && column < grid->Model()->columnCount()) grid->SortByColumnClicked(column);
  }
  const QString search = qEnvironmentVariable("HITSIEVE_SEARCH");
  if (!search.isEmpty() && window.CurrentScreen() != nullptr) {
    if (auto* edit = window.CurrentScreen()->findChild<QLineEdit*>(QStringLiteral("filter")))
      edit->setText(search);
  }
  // A row of the shown screen's list chosen, as a click chooses it (the crawler whose days show).
  const int row = qEnvironmentVariableIntValue("HITSIEVE_ROW", &ok);
  if (ok && window.CurrentScreen() != nullptr) {
    if (auto* grid = window.CurrentScreen()->findChild<ListCtrlGrid*>())
      if (row >= 0 && row < grid->Model()->RowCount()) grid->selectRow(row);
  }
  // Opened once the window's event loop runs, so that they show over the finished window.
  const QByteArray dialog = qgetenv("HITSIEVE_DIALOG");
  if (dialog == "about") {
    QTimer::singleShot(0, &window, [&window] { window.ShowAbout(); });
  } else if (dialog == "extensions") {
    QTimer::singleShot(0, &window, [&window] { window.Settings()->OnAnalyse(); });
  }
  if (qEnvironmentVariableIntValue("HITSIEVE_AUTORUN") == 1) {
    const auto exec_dialog = Seams().exec_dialog;
    Seams().exec_dialog = [](QDialog& dialog) {
      dialog.accept();
      return dialog.result();
    };
    window.Settings()->OnAnalyse();
    Seams().exec_dialog = exec_dialog;
  }
}

}  // namespace

MainApp::MainApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Hitsieve"));
  setApplicationVersion(QStringLiteral("1.0"));
  setDesktopFileName(QStringLiteral("hitsieve"));
  const UiLanguage language = ChooseLanguage();
  InstallTranslations(*this, language);
  // Workbooks and report pages speak the window's language.
  SetOutputLanguage(language == UiLanguage::kEnglish ? ReportLanguage::kEnglish
                                                     : ReportLanguage::kRussian);
}

int MainApp::Run() {
  // Qt has taken its own options out by now: what is left must be ours.
  std::vector<std::string> args;
  for (const QString& arg : arguments().mid(1)) args.push_back(QFile::encodeName(arg).toStdString());
  const DesktopArguments parsed = ParseDesktopArguments(args, /*strict=*/true);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "hitsieve: %s\n", parsed.error.c_str());
    return 2;
  }
  const QByteArray environment_db = qgetenv("HITSIEVE_DB");
  StatsDatabase::SetFileName(ChooseDesktopDatabase(
      parsed, environment_db.isEmpty() ? nullptr : environment_db.constData()));
  MainDlg window;
  window.show();
  ApplyStartupHooks(window);
  window.exec();
  return 0;
}

}  // namespace hitsieve
