#ifndef HITSIEVE_UI_SETTINGS_TAB_H_
#define HITSIEVE_UI_SETTINGS_TAB_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "run/analysis_job.h"
#include "engine/log_reader.h"
#include "ui/report_screen.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace hitsieve {

class ListCtrlGrid;

// The log-files screen: the user lists log files and starts an analysis run, which works on a
// worker thread and reports through Notify, SetPosition and FileProgress. The run's events wait
// in a queue that a one-second timer drains on the UI thread, so the bar and the status move at
// most once a second. While files are read the bar has kFileSteps steps per file: whole files
// from FILE_DONE, and the part of the current file read so far. Owned by MainDlg; the worker is
// joined before the screen goes away.
class SettingsTab : public ReportScreen,
                    public AnalysisObserver,
                    public SaveProgressObserver,
                    public ReadProgressObserver {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 1000;
  static constexpr int kFileSteps = 1000;

  // `reload_target` (may be null) is reloaded after each run and told when runs start and end.
  SettingsTab(Reloadable* reload_target, QWidget* parent);
  ~SettingsTab() override;

  // The log-files screen has nothing to read from the database.
  void Reload() override {}

  // Any thread.
  void Notify(int event) override;
  void SetPosition(int position) override;
  // Any thread; stores the position for the next timer tick and never blocks.
  void FileProgress(int64_t done, int64_t size) override;

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
  // Asks the run under way to stop; the stored statistics stay as they were.
  void OnStop();
  // Drains the event queue; the timer calls it every second.
  void OnTimer();

 private:
  void RefillFileList();
  void HandleEvent(int event);
  void FinishRun();
  void FailRun();
  void EndRun();
  void SetButtonsEnabled(bool enabled);
  void ShowStopButton(bool shown);
  void SetStatus(const QString& text);
  int TakeEvent();
  void ShowReadPosition();
  QString FormatLines() const;

  QPushButton* addButton_;
  QPushButton* deleteButton_;
  QPushButton* analyseButton_;
  QPushButton* stopButton_;
  QProgressBar* progress_;
  QLabel* status_;
  QCheckBox* addBox_;  // add to the stored statistics instead of replacing them
  ListCtrlGrid* fileList_;
  QTimer* timer_;

  LogFileSet logFiles_;  // UI thread; the run works on its own copy
  Reloadable* reloadTarget_;
  AnalysisJob job_;
  RunReport report_;  // written by the worker before SAVE_STARTED, read after RUN_FINISHED
  bool runActive_ = false;
  bool inTimer_ = false;
  // The bar counts files from RUN_STARTED to SAVE_STARTED; FILE_DONE events handled so far.
  bool barCountsFiles_ = false;
  int filesDone_ = 0;
  // Bar units per kFileSteps: 1 only when a list so long that files * kFileSteps would not fit
  // in the bar's int range leaves it with whole-file steps.
  int barScale_ = kFileSteps;

  std::mutex queueMutex_;
  std::deque<int> events_;  // guarded by queueMutex_
  std::atomic<int> savePosition_{0};
  // Written by the worker (Notify, FileProgress), read by the timer. The read position is in
  // kFileSteps per file: the files the worker has finished plus the part of the current one,
  // held in one value so that the timer never pairs a file count with another file's part.
  std::atomic<int> workerFilesDone_{0};
  std::atomic<int64_t> readPosition_{0};
  // Lines of the run that were no log lines; written by the worker before saving starts.
  std::atomic<int64_t> unrecognisedLines_{0};
  // The log format of the run as the user gave it, and what the run found out about each file's
  // format: with "auto", the format found in it; with the default reading, for a file most of
  // whose lines were not recognised, the format that would read it ("" when none). Written by
  // the worker before saving starts, read after the run's last event.
  QString formatText_;
  struct FileFormat {
    std::string path;
    std::string found;
    int64_t lines = 0, unrecognised = 0;
  };
  std::vector<FileFormat> fileFormats_;

  AnalysisThread thread_;  // last member: joined first, by ~SettingsTab
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_SETTINGS_TAB_H_
