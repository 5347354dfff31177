#include "ui_test_support.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include "engine/page_filter.h"
#include "engine/search_engine.h"
#include "run/analysis_job.h"
#include "store/stats_database.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_seams.h"

namespace hitsieve {

void UiTest::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  StatsDatabase::SetFileName(QFile::encodeName(DatabasePath()).toStdString());
  home_ = qgetenv("HOME");
  xdgConfig_ = qgetenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(QDir().mkpath(HomePath()));
  qputenv("HOME", QFile::encodeName(HomePath()));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("xdg"))));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                     dir_.filePath(QStringLiteral("config")));
  UiSeams& seams = Seams();
  seams.show_message = [this](QWidget*, const QString& text) { messages_.append(text); };
  seams.ask_yes_no = [this](QWidget*, const QString& text) {
    questions_.append(text);
    return answer_yes_;
  };
  seams.choose_files = [this](QWidget*, const QString&) { return chosen_files_; };
  seams.exec_dialog = [this](QDialog& dialog) {
    ++dialogs_shown_;
    if (on_dialog_) return on_dialog_(dialog);
    dialog.accept();
    return dialog.result();
  };
  seams.open_file = [this](const QString& path) {
    opened_files_.append(path);
    return true;
  };
}

void UiTest::TearDown() {
  ResetSeams();
  qputenv("HOME", home_);
  if (xdgConfig_.isNull()) {
    qunsetenv("XDG_CONFIG_HOME");
  } else {
    qputenv("XDG_CONFIG_HOME", xdgConfig_);
  }
}

QString UiTest::WriteLog(const QString& name, const std::vector<std::string>& lines) const {
  const QString path = dir_.filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  for (const std::string& line : lines) {
    file.write(line.data(), static_cast<qint64>(line.size()));
    file.write("\n");
  }
  return path;
}

bool UiTest::WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  for (int waited = 0; !done() && waited < timeout_ms; waited += 20) QTest::qWait(20);
  return done();
}

namespace {

class NullObserver : public AnalysisObserver {
 public:
  void Notify(int) override {}
};

}  // namespace

void UiTest::Analyse(const std::vector<std::string>& log, bool dimensions) {
  RegisterStandardEngines(SearchEngineRegistry::Instance());
  const QString path = WriteLog(QStringLiteral("run%1.log").arg(++runs_), log);
  LogFileSet files{QFile::encodeName(path).toStdString()};
  NullObserver observer;
  AnalysisJob job;
  ParseExtensionList(kDefaultExtensionList, job.extensions);
  job.files = &files;
  job.observer = &observer;
  job.dimensions.builtin = dimensions;
  job.Run();
}

std::string LogLine(const std::string& ip, const std::string& day, const std::string& url,
                    const std::string& referer, const std::string& agent) {
  return ip + " - - [" + day + ":10:00:00 +0300] \"GET " + url + " HTTP/1.1\" 200 1000 \"" +
         referer + "\" \"" + agent + "\"";
}

std::vector<std::vector<std::string>> GridCells(const ListCtrlGrid& grid) {
  std::vector<std::vector<std::string>> cells;
  const ListModel& model = *grid.Model();
  for (int row = 0; row < model.RowCount(); ++row) {
    std::vector<std::string> texts;
    for (int column = 0; column < model.columnCount(); ++column)
      texts.push_back(model.Cell(row, column));
    cells.push_back(texts);
  }
  return cells;
}

}  // namespace hitsieve
