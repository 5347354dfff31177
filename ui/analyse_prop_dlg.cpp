#include "ui/analyse_prop_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/text.h"
#include "ui/anchor_layout.h"
#include "ui/ui_seams.h"

namespace hitsieve {

AnalysePropDlg::AnalysePropDlg(ExtensionSet& target, const QString& text, QWidget* parent,
                               Period* period)
    : QDialog(parent), target_(target), period_(period) {
  setWindowTitle(QString());
  const DialogUnits du(this);
  // The period's row goes between the extensions and the buttons.
  const int extra = period != nullptr ? 20 : 0;
  setFixedSize(du.Size(223, 63 + extra));

  auto* label = new QLabel(tr("Анализировать только эти файлы"), this);
  // As wide as the edit below it: the Cyrillic text is wider than the template allowed.
  label->setGeometry(du.Rect(7, 6, 209, 10));

  edit_ = new QLineEdit(text, this);
  edit_->setObjectName(QStringLiteral("extensions"));
  edit_->setGeometry(du.Rect(7, 17, 209, 14));

  if (period != nullptr) {
    auto* from = new QLabel(tr("Период с"), this);
    from->setGeometry(du.Rect(7, 41, 40, 10));
    first_ = new QLineEdit(this);
    first_->setObjectName(QStringLiteral("first_day"));
    first_->setPlaceholderText(tr("ГГГГ-ММ-ДД"));
    first_->setGeometry(du.Rect(48, 39, 60, 14));
    auto* to = new QLabel(tr("по"), this);
    to->setGeometry(du.Rect(114, 41, 16, 10));
    last_ = new QLineEdit(this);
    last_->setObjectName(QStringLiteral("last_day"));
    last_->setPlaceholderText(tr("ГГГГ-ММ-ДД"));
    last_->setGeometry(du.Rect(132, 39, 60, 14));
  }

  auto* ok = new QPushButton(tr("Анализ"), this);
  ok->setDefault(true);
  ok->setGeometry(du.Rect(110, 42 + extra, 50, 14));
  auto* cancel = new QPushButton(tr("Отмена"), this);
  cancel->setGeometry(du.Rect(166, 42 + extra, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void AnalysePropDlg::accept() {
  if (period_ != nullptr) {
    Period period;
    const struct {
      QLineEdit* edit;
      std::optional<int>& day;
    } ends[] = {{first_, period.first}, {last_, period.last}};
    for (const auto& end : ends) {
      const QString text = end.edit->text().trimmed();
      if (text.isEmpty()) continue;
      end.day = ParseIsoDay(text.toStdString());
      if (!end.day) {
        ShowMessage(this, tr("Дата периода пишется как ГГГГ-ММ-ДД: ") + text);
        return;
      }
    }
    if (period.first && period.last && *period.first > *period.last) {
      ShowMessage(this, tr("Начало периода позже его конца"));
      return;
    }
    *period_ = period;
  }
  // The engine compares extensions as Windows-1251 bytes, case-insensitively.
  const std::string text = ConvertCodePage(edit_->text().toStdString(), kCodePageUtf8,
                                           kCodePage1251);
  ParseExtensionList(text, target_);
  QDialog::accept();
}

}  // namespace hitsieve
