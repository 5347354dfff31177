#include "ui/ui_export_host.h"

#include <QFile>

#include "ui/ui_seams.h"

namespace hitsieve {

void UiExportHost::ShowMessage(const std::string& text) {
  hitsieve::ShowMessage(parent_, QString::fromStdString(text));
}

bool UiExportHost::OpenWorkbook(const std::string& path) {
  return Seams().open_file(QFile::decodeName(QByteArray::fromStdString(path)));
}

}  // namespace hitsieve
