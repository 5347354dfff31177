#include "ui/settings_tab.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "engine/log_format/format_reader.h"
#include "engine/log_format/log_format.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "ui/analyse_prop_dlg.h"
#include "ui/kept_settings.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

const char kEmptyRunQuestion[] = QT_TRANSLATE_NOOP(
    "hitsieve::SettingsTab",
    "Список файлов пуст. Анализ заменит сохранённую статистику пустой. Продолжить?");
const char kFileFilter[] = "GZIP files (*.gz);;Log files (*.log);;All Files (*)";
// Longer paths than this are not resolved: they are listed as "Error" (and still analysed).
constexpr size_t kMaxFullPath = 4096;
// The closing message names the formats of at most this many files.
constexpr size_t kFormatFilesShown = 20;

// The last component of `path` made absolute, or "Error" when the path cannot be resolved.
std::string FileNamePart(const std::string& path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  if (error || path.empty() || full.native().size() >= kMaxFullPath) return "Error";
  return full.filename().native();
}

}  // namespace

SettingsTab::SettingsTab(Reloadable* reload_target, QWidget* parent)
    : ReportScreen(parent), reloadTarget_(reload_target) {
  RegisterStandardEngines(SearchEngineRegistry::Instance());

  const DialogUnits du(this);
  addButton_ = AddButton(tr("Добавить"), QStringLiteral("add"), du.Rect(0, 0, 50, 14));
  deleteButton_ =
      AddButton(tr("Удалить"), QStringLiteral("delete"), du.Rect(54, 0, 50, 14));
  analyseButton_ =
      AddButton(tr("Анализ"), QStringLiteral("analyse"), du.Rect(108, 0, 50, 14));
  // While a run is under way "Стоп" takes the place of the disabled "Анализ".
  stopButton_ =
      AddButton(tr("Стоп"), QStringLiteral("stop"), du.Rect(108, 0, 50, 14));
  stopButton_->hide();
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(false);
  // An empty bar until the first run. A range of 0..0 would make it a busy indicator that
  // moves for as long as the program is idle.
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setGeometry(du.Rect(162, 0, 151, 14));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setGeometry(du.Rect(324, 3, 73, 8));
  addBox_ = new QCheckBox(tr("Добавить к сохранённой статистике"), this);
  addBox_->setObjectName(QStringLiteral("add_to_stored"));
  addBox_->setChecked(false);
  addBox_->setGeometry(du.Rect(0, 17, 200, 10));
  fileList_ = new ListCtrlGrid(this);
  fileList_->setObjectName(QStringLiteral("files"));
  fileList_->setGeometry(du.Rect(0, 29, 399, 175));
  resize(du.Size(399, 204));

  using enum AnchorLayout::Flags;
  Layout().Init(this);
  Layout().Add(progress_, ANCHOR_TOP | ANCHOR_LEFT | ANCHOR_RIGHT);
  Layout().Add(status_, ANCHOR_TOP | ANCHOR_RIGHT);
  Layout().Add(fileList_, ANCHOR_ALL);
  fileList_->SetupLogFileColumns();

  connect(addButton_, &QPushButton::clicked, this, &SettingsTab::OnAdd);
  connect(deleteButton_, &QPushButton::clicked, this, &SettingsTab::OnDelete);
  connect(analyseButton_, &QPushButton::clicked, this, &SettingsTab::OnAnalyse);
  connect(stopButton_, &QPushButton::clicked, this, &SettingsTab::OnStop);

  logFiles_ = KeptLogFiles();
  RefillFileList();

  job_.files = &logFiles_;
  job_.observer = this;
  job_.save_progress = this;
  job_.read_progress = this;
  job_.report = &report_;
  job_.collected = [this](const StatsCollector& collector) {
    unrecognisedLines_.store(collector.unrecognised_lines());
    // What the closing message says about the files' formats, found here on the worker from
    // the start of each file, as the command line's summary finds it.
    fileFormats_.clear();
    // The run's own format (the UI thread leaves job_ alone while a run is under way); an add
    // may have left the collector with the format a log was counted in before.
    const std::shared_ptr<const LogFormat>& format = job_.log_format;
    const bool automatic = format && format->kind() == LogFormat::Kind::kAuto;
    if (format && !automatic) return;
    for (const RunReport::FileLines& file : report_.file_lines) {
      if (!automatic && !(file.lines > 0 && 2 * file.unrecognised > file.lines)) continue;
      const std::shared_ptr<const LogFormat> found = DetectLogFormat(ReadLogStart(file.path));
      FileFormat entry{file.path, found ? found->name() : std::string(), file.lines,
                       file.unrecognised};
      // A file mostly not recognised by the default reading is not combined after all.
      if (!automatic && found && found->kind() == LogFormat::Kind::kCombined) entry.found.clear();
      fileFormats_.push_back(std::move(entry));
    }
  };

  timer_ = new QTimer(this);
  timer_->setInterval(kTimerMs);
  connect(timer_, &QTimer::timeout, this, &SettingsTab::OnTimer);
  timer_->start();
}

SettingsTab::~SettingsTab() { WaitForRun(); }

void SettingsTab::Notify(int event) {
  // The read position is moved before the event is queued: once the timer has handled a
  // FILE_DONE, the position it reads already counts that file.
  if (event == RUN_STARTED) {
    workerFilesDone_.store(0);
    readPosition_.store(0);
  } else if (event == FILE_DONE) {
    readPosition_.store(static_cast<int64_t>(++workerFilesDone_) * kFileSteps);
  }
  std::lock_guard<std::mutex> lock(queueMutex_);
  events_.push_back(event);
}

void SettingsTab::SetPosition(int position) {
  savePosition_.store(position);
  Notify(SAVE_STEP);
}

void SettingsTab::FileProgress(int64_t done, int64_t size) {
  const int64_t part = size > 0 ? std::clamp<int64_t>(done, 0, size) * kFileSteps / size : 0;
  readPosition_.store(static_cast<int64_t>(workerFilesDone_.load()) * kFileSteps + part);
}

void SettingsTab::WaitForRun() { thread_.Join(); }

void SettingsTab::AddLogFiles(const QStringList& paths) {
  for (const QString& path : paths) logFiles_.insert(QFile::encodeName(path).toStdString());
  RefillFileList();
  KeepLogFiles(logFiles_);
}

void SettingsTab::OnAdd() {
  const QStringList paths = Seams().choose_files(this, QString::fromUtf8(kFileFilter));
  if (paths.isEmpty()) return;
  AddLogFiles(paths);
}

void SettingsTab::OnDelete() {
  std::set<std::string> selected;
  fileList_->SelectedTexts(selected);
  if (selected.empty()) return;
  for (const std::string& path : selected) logFiles_.erase(path);
  RefillFileList();
  KeepLogFiles(logFiles_);
}

void SettingsTab::RefillFileList() {
  std::vector<ListRow> rows;
  rows.reserve(logFiles_.size());
  for (const std::string& path : logFiles_) rows.push_back({FileNamePart(path), path});
  fileList_->SetRows(std::move(rows));
}

void SettingsTab::OnAnalyse() {
  if (runActive_) return;
  job_.add = addBox_->isChecked();
  // A run replaces the stored statistics: with no files that leaves nothing, so it is asked.
  if (!job_.add && logFiles_.empty() && !AskYesNo(this, tr(kEmptyRunQuestion)))
    return;
  job_.crawlers = KeptCrawlerMode();
  job_.country_database = KeptCountryDatabase();
  AnalysePropDlg dialog(job_.extensions, KeptExtensionText(), this, &job_.period,
                        &job_.log_format, KeptLogFormatText(), &job_.crawlers,
                        &job_.country_database);
  if (Seams().exec_dialog(dialog) != QDialog::Accepted) return;
  KeepCrawlerMode(job_.crawlers);
  KeepCountryDatabase(job_.country_database);
  KeepExtensionText(dialog.ExtensionEdit()->text());
  formatText_ = dialog.LogFormatBox()->currentText();
  KeepLogFormatText(formatText_);
  fileFormats_.clear();

  const int64_t files = static_cast<int64_t>(logFiles_.size());
  barScale_ = files <= INT_MAX / kFileSteps ? kFileSteps : 1;
  progress_->setRange(0, static_cast<int>(std::min<int64_t>(files * barScale_, INT_MAX)));
  progress_->setValue(0);
  workerFilesDone_.store(0);
  readPosition_.store(0);
  unrecognisedLines_.store(0);
  // Nothing else may touch the file list or the database until the run's last event.
  runActive_ = true;
  SetButtonsEnabled(false);
  ShowStopButton(true);
  if (reloadTarget_ != nullptr) reloadTarget_->SetRunActive(true);
  thread_.Start(job_);
}

int SettingsTab::TakeEvent() {
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (events_.empty()) return 0;
  const int event = events_.front();
  events_.pop_front();
  return event;
}

void SettingsTab::OnTimer() {
  // A message box shown below runs its own event loop, in which the timer fires again.
  if (inTimer_) return;
  inTimer_ = true;
  for (int event = TakeEvent(); event != 0; event = TakeEvent()) HandleEvent(event);
  ShowReadPosition();
  inTimer_ = false;
}

void SettingsTab::HandleEvent(int event) {
  switch (event) {
    case RUN_STARTED:
      SetButtonsEnabled(false);
      SetStatus(tr("Анализ..."));
      barCountsFiles_ = true;
      filesDone_ = 0;
      break;
    case FILE_DONE:
      ++filesDone_;
      ShowReadPosition();
      break;
    case SAVE_STARTED:
      // Saving is not stopped: it replaces the statistics in one transaction.
      stopButton_->setEnabled(false);
      barCountsFiles_ = false;
      SetStatus(tr("Сохранение..."));
      progress_->setRange(0, 5);
      progress_->setValue(0);
      break;
    case SAVE_STEP:
      progress_->setValue(savePosition_.load());
      break;
    case RUN_FINISHED:
      FinishRun();
      break;
    case RUN_FAILED:
      FailRun();
      break;
    case RUN_STOPPED:
      EndRun();
      SetButtonsEnabled(true);
      SetStatus(tr("Остановлено"));
      break;
    default:
      break;
  }
}

void SettingsTab::FinishRun() {
  SetStatus(tr("Обновление..."));
  EndRun();
  if (reloadTarget_ != nullptr) reloadTarget_->Reload();
  SetButtonsEnabled(true);
  // Random bytes or another program's log give few records and many lines that are none;
  // the status says so instead of a plain "done".
  const int64_t unrecognised = unrecognisedLines_.load();
  if (unrecognised > 0) {
    SetStatus(tr("Не распознано: %1").arg(unrecognised));
    status_->setToolTip(tr("%1 строк не распознано").arg(unrecognised));
  } else {
    SetStatus(tr("Готово"));
    status_->setToolTip(QString());
  }
  QString message = tr("Анализ завершен!");
  if (job_.add) {
    message += tr(" Пропущено уже проанализированных файлов: ") +
               QString::number(report_.skipped.size());
  }
  ShowMessage(this, message + FormatLines());
}

// For the closing message: the format a run with a format of its own used; with "auto", the
// format found in each file; with the default reading, a hint for each file most of whose
// lines it did not recognise. Empty for a default run that read its files well.
QString SettingsTab::FormatLines() const {
  const LogFormat* format = job_.log_format.get();
  if (format != nullptr && format->kind() != LogFormat::Kind::kAuto)
    return QStringLiteral("\n") + tr("Формат журналов: %1").arg(formatText_);
  QString lines;
  size_t shown = 0;
  for (const FileFormat& file : fileFormats_) {
    if (shown++ == kFormatFilesShown) {
      lines += QStringLiteral("\n") +
               tr("... и ещё файлов: %1").arg(fileFormats_.size() - kFormatFilesShown);
      break;
    }
    const QString name = QFile::decodeName(QByteArray::fromStdString(file.path));
    const QString found = QString::fromStdString(file.found);
    QString line;
    if (format != nullptr) {
      line = found.isEmpty()
                 ? tr("%1: combined (ни один известный формат не подходит к его первым строкам)")
                       .arg(name)
                 : QStringLiteral("%1: %2").arg(name, found);
    } else {
      line = tr("%1: не распознано %2 из %3 строк; выберите формат журнала auto (%4)")
                 .arg(name, QString::number(file.unrecognised), QString::number(file.lines),
                      found.isEmpty() ? tr("ни один известный формат не подходит")
                                      : tr("файл читается как %1").arg(found));
    }
    lines += QStringLiteral("\n") + line;
  }
  if (format != nullptr && !lines.isEmpty())
    lines = QStringLiteral("\n") + tr("Форматы журналов:") + lines;
  return lines;
}

void SettingsTab::FailRun() {
  EndRun();
  SetButtonsEnabled(true);
  SetStatus(tr("Ошибка"));
  ShowMessage(this, tr("Анализ не выполнен: ") +
                        QString::fromStdString(thread_.FailureMessage()));
}

// While files are read: the files whose FILE_DONE has been handled, or further when the worker
// has read more since. Never moves back, never past the end.
void SettingsTab::ShowReadPosition() {
  if (!barCountsFiles_) return;
  const int64_t steps =
      std::max(static_cast<int64_t>(filesDone_) * kFileSteps, readPosition_.load());
  const int64_t value = std::max<int64_t>(steps * barScale_ / kFileSteps, progress_->value());
  progress_->setValue(static_cast<int>(std::min<int64_t>(value, progress_->maximum())));
}

// The worker has posted its last event: join it and let the other screens use the database.
void SettingsTab::EndRun() {
  thread_.Join();
  ShowStopButton(false);
  barCountsFiles_ = false;
  runActive_ = false;
  if (reloadTarget_ != nullptr) reloadTarget_->SetRunActive(false);
}

void SettingsTab::OnStop() {
  if (!runActive_) return;
  thread_.Stop();
  stopButton_->setEnabled(false);
  SetStatus(tr("Остановка..."));
}

void SettingsTab::ShowStopButton(bool shown) {
  stopButton_->setEnabled(shown);
  stopButton_->setVisible(shown);
  analyseButton_->setVisible(!shown);
}

void SettingsTab::SetButtonsEnabled(bool enabled) {
  addButton_->setEnabled(enabled);
  deleteButton_->setEnabled(enabled);
  analyseButton_->setEnabled(enabled);
  addBox_->setEnabled(enabled);
}

void SettingsTab::SetStatus(const QString& text) {
  status_->setText(text);
  status_->repaint();
}

}  // namespace hitsieve
