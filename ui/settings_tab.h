#ifndef HITSIEVE_UI_SETTINGS_TAB_H_
#define HITSIEVE_UI_SETTINGS_TAB_H_

#include <atomic>
#include <deque>
#include <mutex>

#include "engine/analysis_job.h"
#include "ui/report_screen.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace hitsieve {

class ListCtrlGrid;

// The log-files screen: the user lists log files and starts an analysis run, which works on a
// worker thread and reports through Notify and SetPosition. The run's events wait in a queue
// that a one-second timer drains on the UI thread, so the bar and the status move at most once
// a second. Owned by MainDlg; the worker is joined before the screen goes away.
class SettingsTab : public ReportScreen, public AnalysisObserver, public SaveProgressObserver {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 1000;

  // `reload_target` (may be null) is reloaded after each run and told when runs start and end.
  SettingsTab(Reloadable* reload_target, QWidget* parent);
  ~SettingsTab() override;

  // The log-files screen has nothing to read from the database.
  void Reload() override {}

  // Any thread.
  void Notify(int event) override;
  void SetPosition(int position) override;

  // True from pressing "Анализ" until the run's last event has been handled.
  bool IsRunActive() const { return runActive_; }
  // Blocks until the worker, if any, has ended. Its remaining events stay queued.
  void WaitForRun();

  const LogFileSet& LogFiles() const { return logFiles_; }
  // Adds paths (local 8-bit encoding) as the file dialog would.
  void AddLogFiles(const QStringList& paths);

  void OnAdd();
  void OnDelete();
  void OnAnalyse();
  // Drains the event queue; the timer calls it every second.
  void OnTimer();

 private:
  void RefillFileList();
  void HandleEvent(int event);
  void FinishRun();
  void FailRun();
  void EndRun();
  void SetButtonsEnabled(bool enabled);
  void SetStatus(const QString& text);
  int TakeEvent();

  QPushButton* addButton_;
  QPushButton* deleteButton_;
  QPushButton* analyseButton_;
  QProgressBar* progress_;
  QLabel* status_;
  ListCtrlGrid* fileList_;
  QTimer* timer_;

  LogFileSet logFiles_;  // UI thread; the run works on its own copy
  Reloadable* reloadTarget_;
  AnalysisJob job_;
  bool runActive_ = false;
  bool inTimer_ = false;

  std::mutex queueMutex_;
  std::deque<int> events_;  // guarded by queueMutex_
  std::atomic<int> savePosition_{0};

  AnalysisThread thread_;  // last member: joined first, by ~SettingsTab
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_SETTINGS_TAB_H_
