#include "ui/report_screen.h"

#include <QKeyEvent>
#include <QPushButton>

namespace hitsieve {

QPushButton* ReportScreen::AddButton(const QString& text, const QString& name,
                                     const QRect& rect) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(name);
  button->setAutoDefault(false);
  button->setGeometry(rect);
  return button;
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
