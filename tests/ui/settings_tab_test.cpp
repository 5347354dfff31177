#include <zlib.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "run/analysis_job.h"
#include "ui/analyse_prop_dlg.h"
#include "ui/common_stat_dlg.h"
#include "ui/list_ctrl_grid.h"
#include "ui/main_dlg.h"
#include "ui/settings_tab.h"
#include "ui/ui_seams.h"
#include "ui_test_support.h"

namespace hitsieve {
namespace {

const QString kDone = QStringLiteral("Анализ завершен!");

// A log-files screen whose reader, each time it reports a position strictly inside a file of at
// least `min_size` bytes, waits until the test lets it go on. The test then knows for certain
// that the run is inside that file, however busy the machine: nothing depends on how long
// anything takes.
class GatedSettingsTab : public SettingsTab {
 public:
  GatedSettingsTab(Reloadable* reload_target, int64_t min_size)
      : SettingsTab(reload_target, nullptr), min_size_(min_size) {}
  // The worker may be waiting here: let it go before the members it waits on go away.
  ~GatedSettingsTab() override {
    Open();
    WaitForRun();
  }

  // Worker thread.
  void FileProgress(int64_t done, int64_t size) override {
    SettingsTab::FileProgress(done, size);
    if (size < min_size_ || done <= 0 || done >= size) return;
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t round = round_;
    ++waiting_;
    changed_.wait(lock, [&] { return open_ || round_ != round; });
  }

  // True while the reader waits inside the file.
  bool Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_ > 0;
  }
  // Lets the waiting reader go on to its next report.
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++round_;
      waiting_ = 0;
    }
    changed_.notify_all();
  }
  // Lets the reader run on without waiting again.
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }

 private:
  const int64_t min_size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t round_ = 0;  // guarded by mutex_
  int waiting_ = 0;     // guarded by mutex_
  bool open_ = false;   // guarded by mutex_
};

class SettingsTabTest : public UiTest {
 protected:
  struct Controls {
    QPushButton* add;
    QPushButton* remove;
    QPushButton* analyse;
    QProgressBar* progress;
    QLabel* status;
    ListCtrlGrid* files;
  };

  static Controls Find(SettingsTab& tab) {
    return {tab.findChild<QPushButton*>("add"),     tab.findChild<QPushButton*>("delete"),
            tab.findChild<QPushButton*>("analyse"), tab.findChild<QProgressBar*>("progress"),
            tab.findChild<QLabel*>("status"),       tab.findChild<ListCtrlGrid*>("files")};
  }

  static bool ButtonsEnabled(const Controls& c) {
    return c.add->isEnabled() && c.remove->isEnabled() && c.analyse->isEnabled();
  }
  static bool ButtonsDisabled(const Controls& c) {
    return !c.add->isEnabled() && !c.remove->isEnabled() && !c.analyse->isEnabled();
  }

  static QPushButton* ExcelButton(MainDlg& window) {
    return window.CommonStats()->findChild<QPushButton*>("excel");
  }

  bool WaitForMessage(const QString& prefix) {
    return WaitUntil([&] {
      for (const QString& m : messages_)
        if (m.startsWith(prefix)) return true;
      return false;
    });
  }

  // Adds `paths` through the Add button and the file dialog.
  void AddThroughDialog(const Controls& c, const QStringList& paths) {
    chosen_files_ = paths;
    QTest::mouseClick(c.add, Qt::LeftButton);
  }
};

TEST_F(SettingsTabTest, RunShowsProgressStatusMessageAndDaysInByteOrder) {
  MainDlg window;
  window.show();
  Controls c = Find(*window.Settings());
  const QString log = WriteLog("access.log", {LogLine("10.0.0.1", "02/Jan/2009", "/index.html"),
                                              LogLine("10.0.0.2", "01/Feb/2009", "/a.html"),
                                              LogLine("10.0.0.3", "31/Dec/2008", "/b.htm"),
                                              LogLine("10.0.0.3", "31/Dec/2008", "/c.htm")});
  AddThroughDialog(c, {log});
  ASSERT_EQ(1, c.files->Model()->RowCount());
  EXPECT_EQ("access.log", c.files->Model()->Cell(0, 0));
  EXPECT_EQ(log.toStdString(), c.files->Model()->Cell(0, 1));

  QString opened_with;
  on_dialog_ = [&](QDialog& dialog) {
    opened_with = dialog.findChild<QLineEdit*>("extensions")->text();
    dialog.accept();
    return dialog.result();
  };
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  EXPECT_EQ(QStringLiteral("html; htm; php; asp; zip; jsp; txt"), opened_with);
  // At once, not a timer tick later: nothing may change the files or the database now.
  EXPECT_TRUE(ButtonsDisabled(c));
  EXPECT_FALSE(ExcelButton(window)->isEnabled());
  EXPECT_EQ(0, c.progress->minimum());
  EXPECT_EQ(SettingsTab::kFileSteps, c.progress->maximum());
  EXPECT_EQ(0, c.progress->value());

  ASSERT_TRUE(WaitForMessage(kDone));
  EXPECT_EQ(QStringList{kDone}, messages_);
  EXPECT_EQ(QStringLiteral("Готово"), c.status->text());
  EXPECT_TRUE(ButtonsEnabled(c));
  EXPECT_TRUE(ExcelButton(window)->isEnabled());
  EXPECT_EQ(5, c.progress->maximum());
  EXPECT_EQ(5, c.progress->value());
  const std::vector<std::vector<std::string>> expected = {
      {"", "3", "3", "4", "-"},
      {"01/Feb/2009", "1", "1", "1", "-"},
      {"02/Jan/2009", "1", "1", "1", "-"},
      {"31/Dec/2008", "1", "1", "2", "-"}};
  EXPECT_EQ(expected, GridCells(*window.CommonStats()->Grid()));
}

// The worker's calls as the timer handler turns them into the bar and the status. The range
// 0..3000 (1000 steps a file) comes from pressing "Анализ" with three files; the first of them
// is missing, so that run fails at once and leaves the screen idle for the injected calls below.
TEST_F(SettingsTabTest, TimerTurnsEventsAndReadPositionsIntoBarAndStatus) {
  SettingsTab tab(nullptr, nullptr);
  Controls c = Find(tab);
  // Idle before the first run: an empty bar, not a busy indicator (which a 0..0 range shows).
  EXPECT_LT(c.progress->minimum(), c.progress->maximum());
  EXPECT_EQ(c.progress->minimum(), c.progress->value());
  tab.AddLogFiles({TempPath("1-missing.log"), WriteLog("2.log", {}), WriteLog("3.log", {})});
  tab.OnAnalyse();
  EXPECT_EQ(3 * SettingsTab::kFileSteps, c.progress->maximum());
  tab.WaitForRun();
  tab.OnTimer();
  ASSERT_EQ(1, messages_.size());
  messages_.clear();

  struct Read {
    int64_t done, size;
  };
  const struct {
    const char* label;
    std::vector<int> events;
    std::vector<Read> reads;  // after the events, as the worker calls them
    int save_position;        // > 0: SetPosition after the events
    const char* status;
    int maximum, value;
    bool buttons;
  } steps[] = {
      {"started", {RUN_STARTED}, {}, 0, "Анализ...", 3000, 0, false},
      {"first file opened", {}, {{0, 2000}}, 0, "Анализ...", 3000, 0, false},
      {"a quarter of the first file", {}, {{500, 2000}}, 0, "Анализ...", 3000, 250, false},
      {"two blocks in one tick", {}, {{900, 2000}, {1500, 2000}}, 0, "Анализ...", 3000, 750,
       false},
      {"first file done", {FILE_DONE}, {}, 0, "Анализ...", 3000, 1000, false},
      {"second done, half the third read", {FILE_DONE}, {{0, 60}, {30, 60}}, 0, "Анализ...",
       3000, 2500, false},
      {"an earlier position never moves back", {}, {{10, 60}}, 0, "Анализ...", 3000, 2500,
       false},
      {"more than the size is the whole file", {}, {{90, 60}}, 0, "Анализ...", 3000, 3000,
       false},
      {"third file done", {FILE_DONE}, {}, 0, "Анализ...", 3000, 3000, false},
      {"saving", {SAVE_STARTED}, {}, 0, "Сохранение...", 5, 0, false},
      {"a read while saving is ignored", {}, {{60, 60}}, 0, "Сохранение...", 5, 0, false},
      {"position 2", {}, {}, 2, "Сохранение...", 5, 2, false},
      {"unknown code ignored", {3, 42}, {}, 0, "Сохранение...", 5, 2, false},
      {"position 5", {}, {}, 5, "Сохранение...", 5, 5, false},
      {"finished", {RUN_FINISHED}, {}, 0, "Готово", 5, 5, true},
  };
  for (const auto& step : steps) {
    for (int event : step.events) tab.Notify(event);
    for (const Read& read : step.reads) tab.FileProgress(read.done, read.size);
    if (step.save_position > 0) tab.SetPosition(step.save_position);
    tab.OnTimer();
    EXPECT_EQ(QString::fromUtf8(step.status), c.status->text()) << step.label;
    EXPECT_EQ(step.maximum, c.progress->maximum()) << step.label;
    EXPECT_EQ(step.value, c.progress->value()) << step.label;
    EXPECT_EQ(step.buttons, ButtonsEnabled(c)) << step.label;
    EXPECT_EQ(!step.buttons, ButtonsDisabled(c)) << step.label;
  }
  EXPECT_EQ(QStringList{kDone}, messages_);
}

// A position read before the previous tick's FILE_DONE was posted belongs to the finished file:
// the bar shows the files done, not that file's part on top of them.
TEST_F(SettingsTabTest, FileDoneQueuedAfterAReadCountsOnlyOnce) {
  SettingsTab tab(nullptr, nullptr);
  Controls c = Find(tab);
  tab.AddLogFiles({TempPath("1-missing.log"), WriteLog("2.log", {})});
  tab.OnAnalyse();
  tab.WaitForRun();
  tab.OnTimer();
  tab.Notify(RUN_STARTED);
  tab.FileProgress(0, 100);
  tab.FileProgress(90, 100);
  tab.OnTimer();
  EXPECT_EQ(900, c.progress->value());
  tab.FileProgress(100, 100);
  tab.Notify(FILE_DONE);
  tab.OnTimer();
  EXPECT_EQ(1000, c.progress->value());
  tab.FileProgress(0, 100);
  tab.OnTimer();
  EXPECT_EQ(1000, c.progress->value());
}

// A real run over a gzip log of several of the engine's blocks: the reader reports after each
// block, and the timer, called at each report here, sees the bar stop at more than one place
// inside the file.
TEST_F(SettingsTabTest, RealRunMovesTheBarInsideALargeFile) {
  std::string text;
  for (int i = 0; text.size() < (16u << 20); ++i)
    text += LogLine("10.1." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250),
                    std::to_string(10 + i % 9) + "/Mar/2009", "/p" + std::to_string(i % 997) + ".html",
                    "http://example.org/from" + std::to_string(i % 31) + ".html") +
            "\n";
  const QString path = TempPath("big.log.gz");
  gzFile gz = gzopen(QFile::encodeName(path).constData(), "wb1");
  ASSERT_NE(nullptr, gz);
  ASSERT_EQ(static_cast<int>(text.size()), gzwrite(gz, text.data(), text.size()));
  ASSERT_EQ(Z_OK, gzclose(gz));

  GatedSettingsTab tab(nullptr, 1);
  Controls c = Find(tab);
  tab.AddLogFiles({path});
  tab.OnAnalyse();
  std::set<int> inside;
  // At each report from inside the file the worker waits for one tick of the timer.
  while (messages_.isEmpty() && inside.size() < 3) {
    ASSERT_TRUE(WaitUntil([&] {
      tab.OnTimer();
      return tab.Waiting() || !messages_.isEmpty();
    }));
    tab.OnTimer();
    if (c.progress->maximum() == SettingsTab::kFileSteps && c.progress->value() > 0 &&
        c.progress->value() < SettingsTab::kFileSteps)
      inside.insert(c.progress->value());
    tab.Release();
  }
  tab.Open();
  EXPECT_TRUE(WaitForMessage(kDone));
  EXPECT_EQ(QStringList{kDone}, messages_);
  EXPECT_GE(inside.size(), 2u);
}

// A gzip log of about `megabytes` MB of text, written with fast compression.
QString WriteBigGzip(const QString& path, size_t megabytes) {
  std::string text;
  for (int i = 0; text.size() < (megabytes << 20); ++i)
    text += LogLine("10.2." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250),
                    std::to_string(10 + i % 9) + "/Apr/2010", "/q" + std::to_string(i % 991) + ".html") +
            "\n";
  gzFile gz = gzopen(QFile::encodeName(path).constData(), "wb1");
  EXPECT_NE(nullptr, gz);
  EXPECT_EQ(static_cast<int>(text.size()), gzwrite(gz, text.data(), text.size()));
  EXPECT_EQ(Z_OK, gzclose(gz));
  return path;
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  return file.readAll();
}

// "Стоп" inside a large gzip file ends the run before it saves: the database file is byte for
// byte what the previous run left, the lists stay, and the status says the run was stopped.
// The click comes while the reader waits inside the large file, so the run cannot have ended.
TEST_F(SettingsTabTest, StopInsideALargeGzipFileLeavesTheDatabaseAsItWas) {
  MainDlg window;
  GatedSettingsTab tab(&window, 4096);
  Controls c = Find(tab);
  tab.AddLogFiles({WriteLog("small.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html")})});
  tab.OnAnalyse();
  ASSERT_TRUE(WaitForMessage(kDone));
  const QByteArray before = FileBytes(DatabasePath());
  const auto shown = GridCells(*window.CommonStats()->Grid());
  ASSERT_EQ(2u, shown.size());
  QPushButton* stop = tab.findChild<QPushButton*>("stop");
  EXPECT_TRUE(stop->isHidden());

  tab.AddLogFiles({WriteBigGzip(TempPath("zz-big.log.gz"), 16)});
  tab.OnAnalyse();
  EXPECT_FALSE(stop->isHidden());
  EXPECT_TRUE(c.analyse->isHidden()) << "the stop button takes its place";
  ASSERT_TRUE(WaitUntil([&] { return tab.Waiting(); })) << "the run reads inside the large file";
  QTest::mouseClick(stop, Qt::LeftButton);
  tab.Open();
  ASSERT_TRUE(WaitUntil([&] { return !tab.IsRunActive(); }));
  EXPECT_EQ(QStringLiteral("Остановлено"), c.status->text());
  EXPECT_EQ(QStringList{kDone}, messages_) << "no second \"finished\" for a stopped run";
  EXPECT_TRUE(ButtonsEnabled(c));
  EXPECT_TRUE(stop->isHidden());
  EXPECT_FALSE(c.analyse->isHidden());
  EXPECT_EQ(before, FileBytes(DatabasePath()));
  EXPECT_EQ(shown, GridCells(*window.CommonStats()->Grid()));
}

TEST_F(SettingsTabTest, FailedRunShowsErrorAndKeepsPreviousStatistics) {
  MainDlg window;
  window.show();
  Controls c = Find(*window.Settings());
  AddThroughDialog(c, {WriteLog("good.log", {LogLine("10.0.0.1", "05/May/2009", "/x.html")})});
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  ASSERT_TRUE(WaitForMessage(kDone));
  const auto before = GridCells(*window.CommonStats()->Grid());
  ASSERT_EQ(2u, before.size());
  messages_.clear();

  AddThroughDialog(c, {TempPath("vanished.log")});
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  ASSERT_TRUE(WaitForMessage(QStringLiteral("Анализ не выполнен: ")));
  ASSERT_EQ(1, messages_.size());
  EXPECT_GT(messages_[0].size(), QStringLiteral("Анализ не выполнен: ").size());
  EXPECT_EQ(QStringLiteral("Ошибка"), c.status->text());
  EXPECT_TRUE(ButtonsEnabled(c));
  EXPECT_TRUE(ExcelButton(window)->isEnabled());
  EXPECT_EQ(before, GridCells(*window.CommonStats()->Grid()));
  window.Reload();  // the database still holds the previous run
  EXPECT_EQ(before, GridCells(*window.CommonStats()->Grid()));
  EXPECT_EQ(1, messages_.size());
}

TEST_F(SettingsTabTest, ExtensionTextDecidesWhichPagesCount) {
  const struct {
    const char* label;
    const char* text;  // nullptr: cancel
    const char* views;
  } cases[] = {
      {"default list", "html; htm; php; asp; zip; jsp; txt", "2"},
      {"edited to php only", " php ;", "1"},
      {"empty text counts every page", "", "3"},
      {"cancel starts no run", nullptr, nullptr},
  };
  MainDlg window;
  window.show();
  Controls c = Find(*window.Settings());
  AddThroughDialog(c, {WriteLog("x.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html"),
                                          LogLine("10.0.0.1", "05/May/2009", "/b.php"),
                                          LogLine("10.0.0.1", "05/May/2009", "/c.png")})});
  for (const auto& row : cases) {
    messages_.clear();
    on_dialog_ = [&](QDialog& dialog) {
      if (row.text == nullptr) {
        dialog.reject();
      } else {
        dialog.findChild<QLineEdit*>("extensions")->setText(QString::fromUtf8(row.text));
        dialog.accept();
      }
      return dialog.result();
    };
    QTest::mouseClick(c.analyse, Qt::LeftButton);
    if (row.views == nullptr) {
      EXPECT_TRUE(ButtonsEnabled(c)) << row.label;
      EXPECT_FALSE(window.Settings()->IsRunActive()) << row.label;
      window.Settings()->OnTimer();  // whatever a run would have queued
      EXPECT_TRUE(messages_.isEmpty()) << row.label;
      continue;
    }
    ASSERT_TRUE(WaitForMessage(kDone)) << row.label;
    const auto cells = GridCells(*window.CommonStats()->Grid());
    ASSERT_EQ(2u, cells.size()) << row.label;
    EXPECT_EQ(row.views, cells[1][3]) << row.label;
  }
}

TEST_F(SettingsTabTest, EmptyListRunsOnlyWhenTheUserSaysYes) {
  MainDlg window;
  window.show();
  Controls c = Find(*window.Settings());
  AddThroughDialog(c, {WriteLog("x.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html")})});
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  ASSERT_TRUE(WaitForMessage(kDone));
  EXPECT_TRUE(questions_.isEmpty()) << "a list with files is not asked about";
  messages_.clear();
  c.files->selectAll();
  QTest::mouseClick(c.remove, Qt::LeftButton);
  ASSERT_EQ(0, c.files->Model()->RowCount());

  QFile database(DatabasePath());
  ASSERT_TRUE(database.open(QIODevice::ReadOnly));
  const QByteArray before = database.readAll();
  database.close();
  const auto shown = GridCells(*window.CommonStats()->Grid());
  const int dialogs = dialogs_shown_;
  QTest::mouseClick(c.analyse, Qt::LeftButton);  // the default answer is no
  ASSERT_EQ(1, questions_.size());
  EXPECT_EQ(dialogs, dialogs_shown_) << "no extension dialog after a no";
  EXPECT_FALSE(window.Settings()->IsRunActive());
  window.Settings()->OnTimer();  // whatever a run would have queued
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_EQ(shown, GridCells(*window.CommonStats()->Grid()));
  ASSERT_TRUE(database.open(QIODevice::ReadOnly));
  EXPECT_EQ(before, database.readAll());
  database.close();

  answer_yes_ = true;
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  EXPECT_EQ(0, c.progress->maximum());
  ASSERT_TRUE(WaitForMessage(kDone));
  const auto cells = GridCells(*window.CommonStats()->Grid());
  ASSERT_EQ(1u, cells.size());
  EXPECT_EQ("", cells[0][0]);
}

TEST_F(SettingsTabTest, AddKeepsPathsInByteOrderWithoutDuplicates) {
  SettingsTab tab(nullptr, nullptr);
  Controls c = Find(tab);
  const QString a = TempPath("a.log"), b = TempPath("b.log"), upper_b = TempPath("B.log");
  AddThroughDialog(c, {b, a, a});
  AddThroughDialog(c, {upper_b, a});
  chosen_files_.clear();  // cancelled dialog: nothing changes
  QTest::mouseClick(c.add, Qt::LeftButton);

  const std::vector<std::vector<std::string>> expected = {{"B.log", upper_b.toStdString()},
                                                          {"a.log", a.toStdString()},
                                                          {"b.log", b.toStdString()}};
  EXPECT_EQ(expected, GridCells(*c.files));
  EXPECT_EQ(3u, tab.LogFiles().size());
}

TEST_F(SettingsTabTest, UnresolvablePathIsListedAsErrorAndKept) {
  SettingsTab tab(nullptr, nullptr);
  Controls c = Find(tab);
  const QString long_path = TempPath(QString(5000, QLatin1Char('x')) + ".log");
  AddThroughDialog(c, {long_path});
  ASSERT_EQ(1, c.files->Model()->RowCount());
  EXPECT_EQ("Error", c.files->Model()->Cell(0, 0));
  EXPECT_EQ(long_path.toStdString(), c.files->Model()->Cell(0, 1));
}

TEST_F(SettingsTabTest, DeleteRemovesEverySelectedRowAtOnce) {
  SettingsTab tab(nullptr, nullptr);
  Controls c = Find(tab);
  AddThroughDialog(c, {TempPath("1.log"), TempPath("2.log"), TempPath("3.log"),
                       TempPath("4.log")});
  QTest::mouseClick(c.remove, Qt::LeftButton);  // nothing selected: nothing removed
  EXPECT_EQ(4, c.files->Model()->RowCount());

  QItemSelectionModel* selection = c.files->selectionModel();
  for (int row : {0, 2, 3})
    selection->select(c.files->Model()->index(row, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::mouseClick(c.remove, Qt::LeftButton);
  const std::vector<std::vector<std::string>> expected = {
      {"2.log", TempPath("2.log").toStdString()}};
  EXPECT_EQ(expected, GridCells(*c.files));
  EXPECT_EQ(1u, tab.LogFiles().size());
}

TEST_F(SettingsTabTest, TimerDoesNothingWhileItsMessageBoxIsOpen) {
  SettingsTab tab(nullptr, nullptr);
  Controls c = Find(tab);
  QString status_in_box;
  Seams().show_message = [&](QWidget*, const QString& text) {
    messages_.append(text);
    if (text != kDone || messages_.size() > 1) return;
    tab.Notify(RUN_STARTED);  // arrives while the box is open
    tab.OnTimer();            // and the timer ticks meanwhile
    status_in_box = c.status->text();
  };
  tab.Notify(RUN_FINISHED);
  tab.OnTimer();
  EXPECT_EQ(QStringLiteral("Готово"), status_in_box);
  // Handled after the box closed, in the same drain.
  EXPECT_EQ(QStringLiteral("Анализ..."), c.status->text());
}

TEST_F(SettingsTabTest, WindowStaysOpenDuringRunAndSaysWhy) {
  MainDlg window;
  window.show();
  Controls c = Find(*window.Settings());
  AddThroughDialog(c, {WriteLog("x.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html")})});
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());
  ASSERT_EQ(2, messages_.size());
  EXPECT_TRUE(messages_[0].startsWith(QStringLiteral("Идёт анализ")));

  ASSERT_TRUE(WaitForMessage(kDone));
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace hitsieve

namespace hitsieve {
namespace {

// The add box (off by default) adds what is new; the finish message counts the files skipped
// as already analysed. The dialog's period fields start empty, refuse a text that is no date
// and limit the run to their days.
TEST_F(SettingsTabTest, AddBoxAddsOnlyWhatIsNewAndThePeriodLimitsTheDays) {
  MainDlg window;
  window.show();
  Controls c = Find(*window.Settings());
  auto* add = window.Settings()->findChild<QCheckBox*>("add_to_stored");
  ASSERT_NE(nullptr, add);
  EXPECT_FALSE(add->isChecked());
  AddThroughDialog(c, {WriteLog("x.log", {LogLine("10.0.0.1", "05/May/2009", "/a.html"),
                                          LogLine("10.0.0.2", "06/May/2009", "/a.html")})});
  QStringList first_texts;
  on_dialog_ = [&](QDialog& dialog) {
    first_texts << dialog.findChild<QLineEdit*>("first_day")->text()
                << dialog.findChild<QLineEdit*>("last_day")->text();
    dialog.accept();
    return dialog.result();
  };
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  ASSERT_TRUE(WaitForMessage(kDone));
  EXPECT_EQ((QStringList{"", ""}), first_texts);
  EXPECT_EQ(3u, GridCells(*window.CommonStats()->Grid()).size());  // the total and two days

  // Added again with the box checked: the same file is skipped and nothing doubles.
  messages_.clear();
  add->setChecked(true);
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  ASSERT_TRUE(WaitForMessage(kDone));
  EXPECT_EQ(QStringList{kDone + QStringLiteral(" Пропущено уже проанализированных файлов: 1")},
            messages_);
  auto cells = GridCells(*window.CommonStats()->Grid());
  ASSERT_EQ(3u, cells.size());
  EXPECT_EQ("1", cells[1][3]);

  // A replacing run over one day of the period; a month that does not exist keeps the
  // dialog open with a message.
  messages_.clear();
  add->setChecked(false);
  int tries = 0;
  on_dialog_ = [&](QDialog& dialog) {
    auto* first = dialog.findChild<QLineEdit*>("first_day");
    first->setText(QStringLiteral("2009-13-06"));
    dialog.accept();
    EXPECT_NE(QDialog::Accepted, dialog.result());
    ++tries;
    first->setText(QStringLiteral("2009-05-06"));
    dialog.accept();
    return dialog.result();
  };
  QTest::mouseClick(c.analyse, Qt::LeftButton);
  ASSERT_TRUE(WaitForMessage(kDone));
  EXPECT_EQ(1, tries);
  EXPECT_TRUE(messages_.front().startsWith(QStringLiteral("Дата периода"))) << messages_.front().toStdString();
  cells = GridCells(*window.CommonStats()->Grid());
  ASSERT_EQ(2u, cells.size());
  EXPECT_EQ("06/May/2009", cells[1][0]);
}

}  // namespace
}  // namespace hitsieve
