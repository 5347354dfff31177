#ifndef HITSIEVE_EXPORT_XLSX_FILE_H_
#define HITSIEVE_EXPORT_XLSX_FILE_H_

#include <string>

#include "export/report_tables.h"

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
  // `overwrite`, only a regular file is replaced (see RefuseUnsafeTarget).
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
// it is written and again just before the rename.
void RefuseUnsafeTarget(const std::string& path);

// Throws WorkbookError(kWorkbookLimitCode) when `rows` data rows and a header do not fit a
// worksheet. Checked on the row count before a table is read, and again on the table.
void CheckFitsAWorksheet(int64_t rows, const std::string& target);

// Writes `table` as a workbook into `file` (first sheet, header in row 1, columns from A).
// `target` names the destination in messages.
void WriteWorkbookFile(const ReportTable& table, const TemporaryFile& file,
                       const std::string& target);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_XLSX_FILE_H_
