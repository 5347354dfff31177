#ifndef HITSIEVE_UI_SCREENS_TREE_CTRL_H_
#define HITSIEVE_UI_SCREENS_TREE_CTRL_H_

#include <QIcon>
#include <QTreeWidget>

namespace hitsieve {

// The main window's list of screens: one top-level item per screen, in screen order, each
// carrying its screen index. No lines, no expand buttons, no scrolling. UI thread only.
class ScreensTreeCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit ScreensTreeCtrl(QWidget* parent = nullptr);

  // The image of every item inserted from now on.
  void SetItemIcon(const QIcon& icon) { itemIcon_ = icon; }
  void InsertScreenItem(int index, const QString& label);
  // The screen index of the selected item, or -1 when none is selected.
  int SelectedScreenIndex() const;

 protected:
  // A click beside the items keeps the selection: the highlighted item is the visible screen.
  QItemSelectionModel::SelectionFlags selectionCommand(
      const QModelIndex& index, const QEvent* event = nullptr) const override;

 private:
  QIcon itemIcon_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_SCREENS_TREE_CTRL_H_
