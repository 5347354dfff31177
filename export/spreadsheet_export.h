#ifndef HITSIEVE_EXPORT_SPREADSHEET_EXPORT_H_
#define HITSIEVE_EXPORT_SPREADSHEET_EXPORT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "export/report_tables.h"

namespace hitsieve {

// What an export needs from the window. The desktop program implements it with a message box
// and the desktop's default application; tests replace it.
class ExportHost {
 public:
  virtual ~ExportHost() = default;
  // One modal message box with an OK button. `text` is UTF-8.
  virtual void ShowMessage(const std::string& text) = 0;
  // Open the workbook with the desktop's default application; false when none could open it.
  virtual bool OpenWorkbook(const std::string& path) = 0;
  // The folder that receives the workbook; the system's temporary folder unless overridden.
  // Throws std::filesystem::filesystem_error when there is none.
  virtual std::string WorkbookFolder();
};

// Copies one report table into a new workbook in the host's workbook folder and opens it. Made on the
// stack by a screen's "Excel" button, used once. UI thread, never while a run is under way.
class SpreadsheetExport {
 public:
  explicit SpreadsheetExport(ExportHost& host) : host_(host) {}
  virtual ~SpreadsheetExport() = default;

  // Fill `table` from the screen's query; on a database error show its message and return false.
  virtual bool BuildTable(ReportTable& table) = 0;

  // Checks the row count, then writes the screen's table into a new .xlsx file as it is read
  // (never holding it whole) and opens it. False when anything failed: a database error is shown
  // with its own message, a workbook failure as WriteWorkbook shows it; no file is left behind.
  bool Export();

  // Write `table` to a new .xlsx file and open it; on failure show one "_com_error:" message
  // box and return false, leaving no file behind.
  bool WriteWorkbook(const ReportTable& table);

 protected:
  // Hands the screen's table to `sink` as its query reads it; throws the database's errors.
  virtual void StreamTable(ReportTableSink& sink) = 0;
  // Names the workbook: hitsieve-<kind>-<yyyy-mm-dd-hhmmss>.xlsx.
  virtual const char* Kind() const = 0;
  // The statistics table the export reads, counted before it is read.
  virtual const char* Table() const = 0;
  ExportHost& host_;

 private:
  // WriteWorkbook for a table that `stream` hands over row by row; `known_rows`, when not
  // negative, is checked against a worksheet's size first.
  bool Write(const std::function<void(ReportTableSink&)>& stream, int64_t known_rows = -1);
};

class CommonStatsExport : public SpreadsheetExport {
 public:
  using SpreadsheetExport::SpreadsheetExport;
  bool BuildTable(ReportTable& table) override;

 protected:
  void StreamTable(ReportTableSink& sink) override { StreamCommonStatsTable(sink); }
  const char* Kind() const override { return "common"; }
  const char* Table() const override { return "common_stats"; }
};

class PageStatsExport : public SpreadsheetExport {
 public:
  using SpreadsheetExport::SpreadsheetExport;
  bool BuildTable(ReportTable& table) override;

 protected:
  void StreamTable(ReportTableSink& sink) override { StreamPageStatsTable(sink); }
  const char* Kind() const override { return "pages"; }
  const char* Table() const override { return "page_stats"; }
};

class QueryStatsExport : public SpreadsheetExport {
 public:
  using SpreadsheetExport::SpreadsheetExport;
  bool BuildTable(ReportTable& table) override;

 protected:
  void StreamTable(ReportTableSink& sink) override { StreamQueryStatsTable(sink); }
  const char* Kind() const override { return "queries"; }
  const char* Table() const override { return "query_stats"; }
};

// Write `table` as an .xlsx workbook at `path` (header in row 1, columns from A; numeric
// columns as numbers, text columns always as text, converted from Windows-1251 to UTF-8).
// Writes a temporary file beside `path` and renames it, so no half-written file is left.
// Refuses an existing `path` unless `overwrite`. Throws std::runtime_error on failure.
void WriteXlsx(const ReportTable& table, const std::string& path, bool overwrite);
// The same for a table handed to the sink by `stream` as it is read (see WorkbookWriter);
// returns the number of data rows written.
int64_t WriteXlsx(const std::function<void(ReportTableSink&)>& stream, const std::string& path,
                  bool overwrite);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_SPREADSHEET_EXPORT_H_
