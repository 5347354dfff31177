#include "ui/referer_tab.h"

#include <exception>
#include <string>
#include <vector>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/text.h"
#include "store/report_queries.h"
#include "ui/kept_settings.h"
#include "ui/referer_grid.h"
#include "ui/ui_seams.h"

namespace hitsieve {

RefererTab::RefererTab(QWidget* parent) : ReportScreen(parent) {
  const DialogUnits du(this);
  hostGrid_ = new RefererGrid(this);
  hostGrid_->setObjectName(QStringLiteral("hosts"));
  hostGrid_->setGeometry(du.Rect(0, 20, 212, 293));
  pageGrid_ = new RefererGrid(this);
  pageGrid_->setObjectName(QStringLiteral("pages"));
  pageGrid_->setGeometry(du.Rect(218, 20, 257, 293));
  excludeLabel_ = new QLabel(tr("Исключить рефереры с указанного домена"), this);
  excludeLabel_->setObjectName(QStringLiteral("excludeLabel"));
  // The label ends where the template puts it, just before the edit; it grows to the left when
  // this font needs more room than the template's width.
  QRect label = du.Rect(151, 5, 148, 8);
  const QSize needed = excludeLabel_->sizeHint();
  if (needed.width() > label.width()) label.setLeft(label.right() + 1 - needed.width());
  if (needed.height() > label.height()) label.setTop(label.bottom() + 1 - needed.height());
  excludeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  excludeLabel_->setGeometry(label);
  excludeEdit_ = new QLineEdit(this);
  excludeEdit_->setObjectName(QStringLiteral("exclude"));
  excludeEdit_->setGeometry(du.Rect(301, 0, 111, 14));
  applyButton_ = AddButton(tr("Применить"), QStringLiteral("apply"),
                           du.Rect(425, 0, 50, 14));
  resize(du.Size(475, 313));

  using enum AnchorLayout::Flags;
  Layout().Init(this);
  // The whole referers are the long texts: their list takes the width the window gains.
  Layout().Add(hostGrid_, ANCHOR_TOP | ANCHOR_BOTTOM | ANCHOR_LEFT);
  Layout().Add(pageGrid_, ANCHOR_ALL);
  Layout().Add(excludeEdit_, ANCHOR_TOP | ANCHOR_RIGHT);
  Layout().Add(excludeLabel_, ANCHOR_TOP | ANCHOR_RIGHT);
  Layout().Add(applyButton_, ANCHOR_TOP | ANCHOR_RIGHT);
  hostGrid_->SetupColumns(0);
  pageGrid_->SetupColumns(1);
  pageGrid_->FitColumnsToWidth(0);
  filterEdit_ = AddFilterEdit(du.Rect(0, 0, 120, 14), {hostGrid_, pageGrid_});
  Layout().Add(filterEdit_, ANCHOR_TOP | ANCHOR_LEFT);
  connect(applyButton_, &QPushButton::clicked, this, &RefererTab::OnApply);

  // The text applied last stays in force from the first reload on.
  excludeEdit_->setText(KeptExclusionText());
  SetExclusion(excludeEdit_->text());
}

void RefererTab::SetExclusion(const QString& text) {
  // Referers are stored as the log's bytes, Cyrillic in Windows-1251: the typed text is
  // matched in that encoding.
  const std::string bytes = ConvertCodePage(text.toStdString(), kCodePageUtf8, kCodePage1251);
  hostGrid_->SetExclusionText(bytes);
  pageGrid_->SetExclusionText(bytes);
}

void RefererTab::Reload() {
  std::vector<RefererRow> rows;
  rows.reserve(5000);
  try {
    ReadRefererStats(rows);
    hostGrid_->Fill(rows);
    pageGrid_->Fill(rows);
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void RefererTab::SetRunActive(bool active) { applyButton_->setEnabled(!active); }

void RefererTab::OnApply() {
  SetExclusion(excludeEdit_->text());
  KeepExclusionText(excludeEdit_->text());
  Reload();
}

}  // namespace hitsieve
