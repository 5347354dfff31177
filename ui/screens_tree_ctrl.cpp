#include "ui/screens_tree_ctrl.h"

#include <QHeaderView>

namespace hitsieve {

ScreensTreeCtrl::ScreensTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(0);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setIconSize(QSize(16, 16));
}

void ScreensTreeCtrl::InsertScreenItem(int index, const QString& label) {
  auto* item = new QTreeWidgetItem(this);
  item->setText(0, label);
  if (!itemIcon_.isNull()) item->setIcon(0, itemIcon_);
  item->setData(0, Qt::UserRole, index);
}

QItemSelectionModel::SelectionFlags ScreensTreeCtrl::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const {
  if (!index.isValid()) return QItemSelectionModel::NoUpdate;
  return QTreeWidget::selectionCommand(index, event);
}

int ScreensTreeCtrl::SelectedScreenIndex() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return -1;
  return selected.first()->data(0, Qt::UserRole).toInt();
}

}  // namespace hitsieve
