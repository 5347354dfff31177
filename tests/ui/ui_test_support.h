#ifndef HITSIEVE_TESTS_UI_UI_TEST_SUPPORT_H_
#define HITSIEVE_TESTS_UI_UI_TEST_SUPPORT_H_

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QDialog>
#include <QStringList>
#include <QTemporaryDir>

namespace hitsieve {

class ListCtrlGrid;

// Every test gets a database file, a settings folder and a home folder (without a documents
// folder, so workbooks go to the temporary folder) of its own in a fresh folder, and seams
// that record message boxes, answer questions with `answer_yes_` (no by default), answer the
// file dialog with `chosen_files` and run our dialogs through `on_dialog` (by default: accept
// with the text as it is).
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes `lines` (each ended by LF) into a file of the temporary folder; returns its path.
  QString WriteLog(const QString& name, const std::vector<std::string>& lines) const;
  QString DatabasePath() const { return dir_.filePath(QStringLiteral("stats.db")); }
  QString TempPath(const QString& name) const { return dir_.filePath(name); }
  QString HomePath() const { return dir_.filePath(QStringLiteral("home")); }

  // One whole analysis run over `log` on this thread, replacing the database's statistics;
  // `dimensions` false makes the statistics of a program that did not count them.
  void Analyse(const std::vector<std::string>& log, bool dimensions = true);

  // Processes events until `done` holds or `timeout_ms` has passed; returns `done()`.
  static bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 15000);

  QStringList messages_;
  QStringList questions_;
  bool answer_yes_ = false;
  QStringList chosen_files_;
  QStringList opened_files_;
  std::function<int(QDialog&)> on_dialog_;
  int dialogs_shown_ = 0;

 private:
  QTemporaryDir dir_;
  QByteArray home_, xdgConfig_;
  int runs_ = 0;
};

// A combined-format log line.
std::string LogLine(const std::string& ip, const std::string& day, const std::string& url,
                    const std::string& referer = "-", const std::string& agent = "Mozilla/5.0");

// The cell texts of a grid, row by row, as UTF-8.
std::vector<std::vector<std::string>> GridCells(const ListCtrlGrid& grid);

}  // namespace hitsieve

#endif  // HITSIEVE_TESTS_UI_UI_TEST_SUPPORT_H_
