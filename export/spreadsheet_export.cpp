#include "export/spreadsheet_export.h"

#include <cerrno>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

#include "export/workbook_error.h"
#include "export/xlsx_file.h"
#include "store/report_queries.h"
#include "store/sqlitepp/exception.h"

namespace hitsieve {

namespace {

constexpr int kMaxNameAttempts = 1000;
// For a failure that is neither a file nor a library error (memory, for one).
constexpr uint32_t kUnexpectedCode = 0x8000FFFF;

// Local time as yyyy-mm-dd-hhmmss.
std::string Timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d-%H%M%S", &local);
  return buffer;
}

// Moves the written workbook to "<base>.xlsx", or "<base>-2.xlsx", "<base>-3.xlsx"... when
// that name is taken: a workbook from an earlier export may still be open in a spreadsheet.
std::string PlaceUnderFreeName(TemporaryFile& file, const std::string& base) {
  for (int n = 1; n <= kMaxNameAttempts; ++n) {
    std::string path = n == 1 ? base + ".xlsx" : base + "-" + std::to_string(n) + ".xlsx";
    if (file.PlaceAt(path, /*overwrite=*/false)) return path;
  }
  throw SystemError(EEXIST, "Every name for the workbook " + base + ".xlsx is taken",
                    "xlsx writer");
}

// A failure from outside our own writer, in the same form.
WorkbookError AsWorkbookError(const std::exception& e) {
  if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
    if (fs->code().category() == std::generic_category() ||
        fs->code().category() == std::system_category()) {
      return SystemError(fs->code().value(), "Could not find the temporary folder (" +
                                                 fs->path1().string() + ")",
                         "temporary folder");
    }
  }
  return WorkbookError(kUnexpectedCode, 0, std::string("Could not export the table: ") + e.what(),
                       "workbook export");
}

}  // namespace

std::string ExportHost::WorkbookFolder() {
  return std::filesystem::temp_directory_path().string();
}

bool SpreadsheetExport::Export() {
  // A table larger than a worksheet is refused on its row count, before it is read.
  try {
    CheckFitsAWorksheet(CountStatsRows(Table()), std::string("hitsieve-") + Kind() + ".xlsx");
  } catch (const WorkbookError& e) {
    host_.ShowMessage(e.ComErrorText());
    return false;
  } catch (const std::exception& e) {
    host_.ShowMessage(e.what());
    return false;
  }
  return Write([this](ReportTableSink& sink) { StreamTable(sink); });
}

bool SpreadsheetExport::WriteWorkbook(const ReportTable& table) {
  return Write(
      [&table](ReportTableSink& sink) {
        sink.Header(table.header, table.numeric);
        for (const auto& row : table.rows) sink.Row(row);
      },
      static_cast<int64_t>(table.rows.size()));
}

bool SpreadsheetExport::Write(const std::function<void(ReportTableSink&)>& stream,
                              int64_t known_rows) {
  try {
    const std::string directory = host_.WorkbookFolder();
    const std::string base = directory + "/hitsieve-" + Kind() + "-" + Timestamp();
    if (known_rows >= 0) CheckFitsAWorksheet(known_rows, base + ".xlsx");
    std::string path;
    {
      TemporaryFile file(directory, base + ".xlsx");
      WorkbookWriter writer(file, base + ".xlsx");
      stream(writer);
      writer.Finish();
      path = PlaceUnderFreeName(file, base);
    }
    // The workbook is complete from here on; if nothing can open it, it stays where the
    // message says, so the user can still open it by hand.
    if (!host_.OpenWorkbook(path)) {
      throw WorkbookError(kNoOpenerCode, 0, "No application could open the workbook " + path,
                          "desktop opener");
    }
    return true;
  } catch (const WorkbookError& e) {
    host_.ShowMessage(e.ComErrorText());
  } catch (const sqlitepp::exception& e) {
    // Reading the table failed while it was being written: the database's own message.
    host_.ShowMessage(e.what());
  } catch (const std::exception& e) {
    host_.ShowMessage(AsWorkbookError(e).ComErrorText());
  }
  return false;
}

namespace {

// Runs one table builder; a failure is shown with its own message and leaves `table` empty.
bool BuildShowingErrors(ExportHost& host, void (*build)(ReportTable&), ReportTable& table) {
  try {
    build(table);
    return true;
  } catch (const std::exception& e) {
    table = ReportTable{};
    host.ShowMessage(e.what());
    return false;
  }
}

}  // namespace

bool CommonStatsExport::BuildTable(ReportTable& table) {
  return BuildShowingErrors(host_, &BuildCommonStatsTable, table);
}

bool PageStatsExport::BuildTable(ReportTable& table) {
  return BuildShowingErrors(host_, &BuildPageStatsTable, table);
}

bool QueryStatsExport::BuildTable(ReportTable& table) {
  return BuildShowingErrors(host_, &BuildQueryStatsTable, table);
}

}  // namespace hitsieve
