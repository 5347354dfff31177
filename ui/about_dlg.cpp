#include "ui/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/anchor_layout.h"
#include "ui/app_icon.h"

namespace hitsieve {

namespace {

const char* const kCredits[] = {
    QT_TRANSLATE_NOOP("hitsieve::AboutDlg", "Статистика посещений по журналам сервера"),
    QT_TRANSLATE_NOOP("hitsieve::AboutDlg", "Запросы, страницы, рефереры, роботы"),
    QT_TRANSLATE_NOOP("hitsieve::AboutDlg", "Свободная программа для владельцев сайтов"),
};

}  // namespace

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("О программе"));
  setWindowIcon(AppIcon());
  const DialogUnits du(this);
  setFixedSize(du.Size(298, 124));

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(32, 32));
  icon->setGeometry(QRect(du.X(22), du.Y(18), 32, 32));

  auto* version = new QLabel(tr("Hitsieve Версия 1.0"), this);
  version->setObjectName(QStringLiteral("version"));
  version->setGeometry(du.Rect(58, 17, 233, 8));
  const int credit_tops[] = {39, 51, 64};
  for (int i = 0; i < 3; ++i) {
    auto* credit = new QLabel(tr(kCredits[i]), this);
    credit->setGeometry(du.Rect(58, credit_tops[i], 233, 8));
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  ok->setGeometry(du.Rect(241, 101, 50, 16));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace hitsieve
