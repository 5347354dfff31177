#include "ui/about_dlg.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "store/stats_database.h"
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

  // Which statistics the window shows: the rule that picks the file depends on where the
  // program was started. A read-only field, so that a long path can be scrolled and copied.
  const std::string file = StatsDatabase::FileName();
  auto* file_label = new QLabel(StatsDatabase::IsAbsent()
                                    ? tr("Файл статистики (будет создан первым анализом):")
                                    : tr("Файл статистики:"),
                                this);
  file_label->setGeometry(du.Rect(58, 77, 233, 8));
  auto* file_edit = new QLineEdit(QFile::decodeName(QByteArray::fromStdString(file)), this);
  file_edit->setObjectName(QStringLiteral("databaseFile"));
  file_edit->setReadOnly(true);
  file_edit->setFrame(false);
  file_edit->setCursorPosition(0);
  file_edit->setGeometry(du.Rect(58, 86, 233, 11));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  ok->setGeometry(du.Rect(241, 101, 50, 16));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace hitsieve
