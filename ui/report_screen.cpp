#include "ui/report_screen.h"

#include <vector>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "ui/list_ctrl_grid.h"

namespace hitsieve {

QPushButton* ReportScreen::AddButton(const QString& text, const QString& name,
                                     const QRect& rect) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(name);
  button->setAutoDefault(false);
  button->setGeometry(rect);
  return button;
}

QLineEdit* ReportScreen::AddFilterEdit(const QRect& rect,
                                       std::initializer_list<ListCtrlGrid*> grids) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QStringLiteral("filter"));
  edit->setPlaceholderText(QCoreApplication::translate("hitsieve::ReportScreen", "Поиск"));
  edit->setClearButtonEnabled(true);
  edit->setGeometry(rect);
  std::vector<ListCtrlGrid*> targets(grids);
  connect(edit, &QLineEdit::textChanged, this, [targets](const QString& text) {
    for (ListCtrlGrid* grid : targets) grid->SetFilterText(text);
  });
  return edit;
}

void ReportScreen::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void ReportScreen::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layout_.Apply();
}

}  // namespace hitsieve
