#ifndef HITSIEVE_EXPORT_XLSX_FILE_H_
#define HITSIEVE_EXPORT_XLSX_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "export/report_tables.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// The pieces of the workbook writer: a temporary file beside the destination, the workbook
// written into it, and the final move that never replaces a file unless asked to. All failures
// are thrown as WorkbookError.
namespace hitsieve {

// An empty file with a unique name in a directory, removed again unless it has been placed.
class TemporaryFile {
 public:
  // `target` is the file this one will become; it only names the destination in messages.
  TemporaryFile(const std::string& directory, const std::string& target);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  const std::string& directory() const { return directory_; }

  // Moves the file to `destination` (same file system). Without `overwrite`, an existing
  // `destination` is left alone and false is returned; the temporary file then stays. With
  // `overwrite`, only a regular file is replaced (see RefuseUnsafeTarget), and the file put in
  // its place gets its permission bits.
  bool PlaceAt(const std::string& destination, bool overwrite);

 private:
  std::string directory_;
  std::string path_;
  bool placed_ = false;
};

// Throws SystemError when `path` exists and is not a regular file: a device, a pipe, a socket,
// a folder or a symbolic link. Replacing /dev/null or a pipe by renaming a file over it would
// break the system, and renaming over a link replaces the link, not the file it names, so a
// link is refused rather than followed. Every file the program writes passes this check before
// it is written and again just before the rename. The statistics database (by device and
// inode, whatever the name) and SQLite's files beside it are refused as well, with or without
// leave to replace.
void RefuseUnsafeTarget(const std::string& path);

// Throws WorkbookError(kWorkbookLimitCode) when `rows` data rows and a header do not fit a
// worksheet. Checked on the row count before a table is read, and again on the table.
void CheckFitsAWorksheet(int64_t rows, const std::string& target);

// Writes a table into a workbook in `file` as its rows come: first sheet, header in row 1 (bold,
// in the output language), columns from A; numeric columns as numbers, text columns always as text (converted from
// Windows-1251 to UTF-8, cut to what a cell holds). The library runs in its constant-memory
// mode: each finished row goes to a scratch file beside `file` at once, texts inline rather
// than shared, so the writer holds one row and the column widths, whatever the table's size.
// `target` names the destination in messages; every failure is thrown as WorkbookError.
class WorkbookWriter : public ReportTableSink {
 public:
  WorkbookWriter(const TemporaryFile& file, const std::string& target);
  // An unfinished workbook is closed into the temporary file, which its owner removes.
  ~WorkbookWriter() override;
  WorkbookWriter(const WorkbookWriter&) = delete;
  WorkbookWriter& operator=(const WorkbookWriter&) = delete;

  void Header(const std::vector<std::string>& titles, const std::vector<bool>& numeric) override;
  // Throws WorkbookError(kWorkbookLimitCode) for a row past the sheet's last one.
  void Row(const std::vector<std::string>& cells) override;
  // Sets the column widths and writes the file.
  void Finish();
  int64_t data_rows() const { return next_row_ == 0 ? 0 : next_row_ - 1; }

 private:
  void Write(const std::vector<std::string>& cells, bool data_row);

  std::string target_;
  std::string scratch_;  // the library keeps the pointer to it
  lxw_workbook* workbook_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format* bold_ = nullptr;
  std::vector<bool> numeric_;
  std::vector<size_t> widths_;
  int64_t next_row_ = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_XLSX_FILE_H_
