#include "ui/ui_seams.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace hitsieve {

namespace {

UiSeams RealSeams() {
  UiSeams seams;
  // The same plain box for news and for errors, so it carries no icon that would call a
  // database error "information" or a finished run a warning.
  seams.show_message = [](QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Hitsieve"), text, QMessageBox::Ok,
                    parent);
    box.exec();
  };
  seams.choose_files = [](QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileNames(parent, QString(), QString(), filter);
  };
  seams.exec_dialog = [](QDialog& dialog) { return dialog.exec(); };
  seams.open_file = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };
  return seams;
}

}  // namespace

UiSeams& Seams() {
  static UiSeams seams = RealSeams();
  return seams;
}

void ResetSeams() { Seams() = RealSeams(); }

void ShowMessage(QWidget* parent, const QString& text) { Seams().show_message(parent, text); }

}  // namespace hitsieve
