#include "ui/analyse_prop_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/text.h"
#include "ui/anchor_layout.h"

namespace hitsieve {

AnalysePropDlg::AnalysePropDlg(ExtensionSet& target, const QString& text, QWidget* parent)
    : QDialog(parent), target_(target) {
  setWindowTitle(QString());
  const DialogUnits du(this);
  setFixedSize(du.Size(223, 63));

  auto* label = new QLabel(QStringLiteral("Анализировать только эти файлы"), this);
  // As wide as the edit below it: the Cyrillic text is wider than the template allowed.
  label->setGeometry(du.Rect(7, 6, 209, 10));

  edit_ = new QLineEdit(text, this);
  edit_->setObjectName(QStringLiteral("extensions"));
  edit_->setGeometry(du.Rect(7, 17, 209, 14));

  auto* ok = new QPushButton(QStringLiteral("Анализ"), this);
  ok->setDefault(true);
  ok->setGeometry(du.Rect(110, 42, 50, 14));
  auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
  cancel->setGeometry(du.Rect(166, 42, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void AnalysePropDlg::accept() {
  // The engine compares extensions as Windows-1251 bytes, case-insensitively.
  const std::string text = ConvertCodePage(edit_->text().toStdString(), kCodePageUtf8,
                                           kCodePage1251);
  ParseExtensionList(text, target_);
  QDialog::accept();
}

}  // namespace hitsieve
