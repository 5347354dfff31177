#ifndef HITSIEVE_UI_UI_EXPORT_HOST_H_
#define HITSIEVE_UI_UI_EXPORT_HOST_H_

#include "export/spreadsheet_export.h"

class QWidget;

namespace hitsieve {

// Lets an export show its messages over a screen and open its workbook on the desktop.
class UiExportHost : public ExportHost {
 public:
  explicit UiExportHost(QWidget* parent) : parent_(parent) {}
  void ShowMessage(const std::string& text) override;
  bool OpenWorkbook(const std::string& path) override;
  // The user's documents folder, where a workbook saved in the spreadsheet program stays; the
  // temporary folder when there is none.
  std::string WorkbookFolder() override;

 private:
  QWidget* parent_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_UI_EXPORT_HOST_H_
