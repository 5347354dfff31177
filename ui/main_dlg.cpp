#include "ui/main_dlg.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>

#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/common_stat_dlg.h"
#include "ui/dimension_screen.h"
#include "ui/kept_settings.h"
#include "ui/page_stats_tab.h"
#include "ui/queries_tab.h"
#include "ui/referer_tab.h"
#include "ui/robots_tab.h"
#include "ui/screens_tree_ctrl.h"
#include "ui/settings_tab.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

const char* const kScreenLabels[MainDlg::kDescribedScreenCount] = {
    QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Настройки"),
    QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Общая статистика"),
    QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Обращения к страницам"),
    QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Рефереры"),
    QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Поисковые запросы"),
    QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Поисковики"),
};

}  // namespace

MainDlg::MainDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Hitsieve"));
  setWindowIcon(AppIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(false);

  const DialogUnits du(this);
  resize(du.Size(602, 347));
  frame_ = new QGroupBox(this);
  frame_->setGeometry(du.Rect(132, 7, 463, 333));
  tree_ = new ScreensTreeCtrl(this);
  tree_->setGeometry(du.Rect(7, 7, 119, 315));
  aboutButton_ = new QPushButton(tr("О Программе"), this);
  aboutButton_->setAutoDefault(false);
  aboutButton_->setGeometry(du.Rect(7, 326, 119, 14));
  connect(aboutButton_, &QPushButton::clicked, this, &MainDlg::ShowAbout);

  tree_->SetItemIcon(AppIcon());
  CreateScreens();
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &MainDlg::OnTreeSelectionChanged);
  ShowScreen(0);

  using enum AnchorLayout::Flags;
  layout_.Init(this);
  layout_.Add(tree_, ANCHOR_TOP | ANCHOR_BOTTOM | ANCHOR_LEFT);
  layout_.Add(frame_, ANCHOR_ALL);
  layout_.Add(aboutButton_, ANCHOR_BOTTOM | ANCHOR_LEFT);
  Reload();
  RestoreKeptView();
}

MainDlg::~MainDlg() {
  if (!isMaximized() && !isFullScreen()) KeepWindowSize(size());
}

// The size and the screen of the last session, once the template layout has been recorded.
void MainDlg::RestoreKeptView() {
  if (const std::optional<QSize> size = KeptWindowSize()) resize(*size);
  const int screen = KeptScreen();
  if (screen >= 0 && screen < ScreenCount()) tree_->setCurrentItem(tree_->topLevelItem(screen));
}

void MainDlg::CreateScreens() {
  settings_ = new SettingsTab(this, this);
  common_ = new CommonStatDlg(this);
  screens_ = {settings_, common_, new PageStatsTab(this), new RefererTab(this),
              new QueriesTab(this), new RobotsTab(this)};
  std::vector<QString> labels;
  for (const char* label : kScreenLabels) labels.push_back(tr(label));
  // A screen of dimension reports only when the program describes one of its reports.
  for (const DimensionScreenPlan& plan : DimensionScreenPlans()) {
    if (FoundReports(plan).empty()) continue;
    screens_.push_back(new DimensionScreen(this, plan));
    labels.push_back(tr(plan.label));
  }
  for (int i = 0; i < ScreenCount(); ++i) {
    screens_[i]->hide();
    tree_->InsertScreenItem(i, labels[i]);
    if (i > 0) reloadList_.push_back(screens_[i]);
  }
}

int MainDlg::ScreenIndex(const QString& name) const {
  for (int i = 0; i < ScreenCount(); ++i)
    if (screens_[i]->objectName() == name) return i;
  return -1;
}

void MainDlg::Reload() {
  for (Reloadable* screen : reloadList_) screen->Reload();
}

void MainDlg::SetRunActive(bool active) {
  for (Reloadable* screen : reloadList_) screen->SetRunActive(active);
}

void MainDlg::ShowScreen(int index) {
  if (current_ != nullptr) current_->hide();
  current_ = screens_[index];
  current_->setGeometry(ScreenRect());
  current_->show();
}

QRect MainDlg::ScreenRect() const { return frame_->geometry().adjusted(8, 14, -10, -15); }

void MainDlg::ShowAbout() {
  AboutDlg about(this);
  Seams().exec_dialog(about);
}

void MainDlg::OnTreeSelectionChanged() {
  const int index = tree_->SelectedScreenIndex();
  if (index == -1) return;
  ShowScreen(index);
  KeepScreen(index);
}

void MainDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layout_.Apply();
  if (current_ != nullptr) current_->setGeometry(ScreenRect());
}

bool MainDlg::MayClose() {
  if (settings_ == nullptr || !settings_->IsRunActive()) return true;
  ShowMessage(this, tr("Идёт анализ. Окно можно закрыть после его окончания."));
  return false;
}

void MainDlg::closeEvent(QCloseEvent* event) {
  if (MayClose()) {
    QDialog::closeEvent(event);
  } else {
    event->ignore();
  }
}

// As in any dialog, Enter presses the focused button or else ends the window, like Escape.
// Keys pressed inside a screen never arrive here: the screens keep Enter and Escape.
void MainDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != 0) {
    QDialog::keyPressEvent(event);
    return;
  }
  if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
    button->click();
  } else {
    accept();
  }
}

// Enter and Escape end a dialog without a close event.
void MainDlg::done(int result) {
  if (MayClose()) QDialog::done(result);
}

}  // namespace hitsieve
