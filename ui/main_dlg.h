#ifndef HITSIEVE_UI_MAIN_DLG_H_
#define HITSIEVE_UI_MAIN_DLG_H_

#include <vector>

#include <QDialog>

#include "ui/anchor_layout.h"
#include "ui/reloadable.h"

class QCloseEvent;
class QGroupBox;
class QKeyEvent;
class QPushButton;
class QResizeEvent;

namespace hitsieve {

class CommonStatDlg;
class ReportScreen;
class ScreensTreeCtrl;
class SettingsTab;

// The main window: the list of screens on the left, the frame holding the one visible screen
// on the right, the About button below the list. Owns the screens: the six described ones, then
// the screens of dimension reports this program describes; reloads every report screen at
// start-up and after each run. While a run is under way the window refuses to
// close, since the run reports into the log-files screen. UI thread only.
class MainDlg : public QDialog, public Reloadable {
  Q_OBJECT

 public:
  // The log files, common statistics, pages, referers, queries and robots screens come first.
  static constexpr int kDescribedScreenCount = 6;

  explicit MainDlg(QWidget* parent = nullptr);
  // Keeps the window's size for the next start.
  ~MainDlg() override;

  // Reloads the report screens in the order common, pages, referers, queries, robots, then the
  // dimension screens in tree order.
  void Reload() override;
  // Tells every report screen that a run started or ended.
  void SetRunActive(bool active) override;

  int ScreenCount() const { return static_cast<int>(screens_.size()); }
  // The screen whose object name is `name` ("status", "hours"...), or -1.
  int ScreenIndex(const QString& name) const;
  // REQUIRES: 0 <= index < ScreenCount(). Hides the current screen, fits and shows this one.
  void ShowScreen(int index);
  // Where a screen goes: the frame less its border and title, in this window's coordinates.
  QRect ScreenRect() const;
  void ShowAbout();

  ReportScreen* Screen(int index) const { return screens_[index]; }
  ReportScreen* CurrentScreen() const { return current_; }
  SettingsTab* Settings() const { return settings_; }
  CommonStatDlg* CommonStats() const { return common_; }
  ScreensTreeCtrl* Tree() const { return tree_; }
  QGroupBox* Frame() const { return frame_; }
  QPushButton* AboutButton() const { return aboutButton_; }
  const std::vector<Reloadable*>& ReloadList() const { return reloadList_; }

  void done(int result) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateScreens();
  void RestoreKeptView();
  void OnTreeSelectionChanged();
  // True when no run is under way; otherwise tells the user why the window stays open.
  bool MayClose();

  std::vector<ReportScreen*> screens_;  // children of this window, in tree order
  std::vector<Reloadable*> reloadList_;
  ReportScreen* current_ = nullptr;
  SettingsTab* settings_ = nullptr;
  CommonStatDlg* common_ = nullptr;
  ScreensTreeCtrl* tree_;
  QGroupBox* frame_;
  QPushButton* aboutButton_;
  AnchorLayout layout_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_MAIN_DLG_H_
