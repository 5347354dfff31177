#include "ui/ui_export_host.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "ui/ui_seams.h"

namespace hitsieve {

void UiExportHost::ShowMessage(const std::string& text) {
  hitsieve::ShowMessage(parent_, QString::fromStdString(text));
}

bool UiExportHost::OpenWorkbook(const std::string& path) {
  return Seams().open_file(QFile::decodeName(QByteArray::fromStdString(path)));
}

}  // namespace hitsieve

namespace hitsieve {

std::string UiExportHost::WorkbookFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QDir(documents).exists())
    return QFile::encodeName(documents).toStdString();
  return ExportHost::WorkbookFolder();
}

}  // namespace hitsieve
