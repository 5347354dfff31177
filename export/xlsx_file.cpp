#include "export/xlsx_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <utility>

#include "engine/text.h"
#include "export/spreadsheet_export.h"
#include "export/report_language.h"
#include "export/workbook_error.h"
#include "store/stats_database.h"

namespace hitsieve {

namespace {

constexpr const char kWriterSource[] = "xlsx writer";
constexpr size_t kMaxColumnWidth = 60;
constexpr size_t kMaxCellCharacters = 32767;  // what a worksheet cell holds

std::string RandomSuffix() {
  static std::random_device device;
  static std::mt19937_64 generator(device());
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%016llx",
                static_cast<unsigned long long>(generator()));
  return buffer;
}

// A cell holds at most kMaxCellCharacters characters; a longer text (a huge URL from a log) is cut
// there rather than failing the whole export. Returns the number of UTF-8 characters kept
// (bytes that do not continue a sequence).
size_t CutToCellLimit(std::string& text) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++characters > kMaxCellCharacters) {
      text.resize(i);
      return kMaxCellCharacters;
    }
  }
  return characters;
}

// The library takes C strings, so a NUL would end the cell there and lose what follows (a page
// "/x\0y.html" would read "/x"). It goes in the workbook's escape form, which the library uses
// for every other control character. A text that itself reads like that form ("_x0041_", which
// a spreadsheet would show as "A") has its underscore escaped first, so that it shows as written.
void EscapeNul(std::string& text) {
  auto is_hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  for (size_t at = text.find("_x"); at != std::string::npos; at = text.find("_x", at + 1)) {
    if (at + 7 <= text.size() && text[at + 6] == '_' &&
        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at + 2),
                    text.begin() + static_cast<std::ptrdiff_t>(at + 6), is_hex)) {
      text.replace(at, 1, "_x005F_");
      at += 6;
    }
  }
  for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at + 7))
    text.replace(at, 1, "_x0000_");
}

// The cell as a number when the whole text is a decimal integer, or digits with a decimal
// point and more digits ("12.34", a share in percent).
bool ParseNumber(const std::string& text, double& value) {
  int64_t number = 0;
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, number);
  if (text.empty() || result.ec != std::errc()) return false;
  if (result.ptr == end) {
    value = static_cast<double>(number);
    return true;
  }
  const char* point = result.ptr;
  if (*point != '.' || point + 1 == end || point == text.data() ||
      !std::all_of(point + 1, end, [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  return std::from_chars(text.data(), end, value, std::chars_format::fixed).ptr == end;
}

void SetColumnWidths(lxw_worksheet* sheet, const std::vector<size_t>& widths) {
  for (size_t k = 0; k < widths.size(); ++k) {
    const double width = static_cast<double>(std::clamp<size_t>(widths[k] + 2, 8, kMaxColumnWidth));
    worksheet_set_column(sheet, static_cast<lxw_col_t>(k), static_cast<lxw_col_t>(k), width,
                         nullptr);
  }
}

// The permission bits of the regular file `path`, or nothing when there is none.
std::optional<mode_t> PermissionsOf(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return info.st_mode & 0777;
}

// Throws when `path` (whose lstat is `info`) is the statistics database or one of the files
// SQLite keeps beside it: replacing them would turn the statistics into a report. Compared by
// device and inode, so another name for the same file (a hard link, a path through a linked
// folder) is caught too.
void RefuseTheDatabase(const std::string& path, const struct stat& info) {
  const std::string database = StatsDatabase::DatabaseFile();
  if (database.empty()) return;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    struct stat own;
    if (::stat((database + suffix).c_str(), &own) != 0) continue;
    if (own.st_dev == info.st_dev && own.st_ino == info.st_ino) {
      throw SystemError(EEXIST, path + " is the statistics database " + database + suffix +
                                    "; it is never replaced by a report",
                        kWriterSource);
    }
  }
}

WorkbookError WriterError(lxw_error error, int error_number, const std::string& target) {
  std::string description = "Could not write the workbook " + target + " (" +
                            lxw_strerror(error) + ")";
  // These failures come from file calls, whose errno says why.
  const bool from_file = error == LXW_ERROR_CREATING_XLSX_FILE ||
                         error == LXW_ERROR_CREATING_TMPFILE ||
                         error == LXW_ERROR_READING_TMPFILE ||
                         error == LXW_ERROR_ZIP_FILE_OPERATION;
  if (from_file && error_number != 0) return SystemError(error_number, description, kWriterSource);
  return WorkbookError(kWriterFailureBase | static_cast<uint32_t>(error), 0, description,
                       kWriterSource);
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& directory, const std::string& target)
    : directory_(directory.empty() ? std::string(".") : directory) {
  // O_EXCL with a random name; the mode leaves the permissions to the user's umask, as for any
  // file the user saves. When it is to replace a file, nobody the replaced file kept out may
  // read it meanwhile: it gets that file's permissions at once (the owner keeps reading and
  // writing it until it is placed).
  const std::optional<mode_t> kept = PermissionsOf(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = directory_ + "/.hitsieve-" + RandomSuffix() + ".tmp";
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (kept) ::fchmod(fd, *kept | S_IRUSR | S_IWUSR);
      ::close(fd);
      path_ = std::move(candidate);
      return;
    }
    if (errno != EEXIST) {
      throw SystemError(errno, "Could not create a temporary file for " + target + " in " +
                                   directory_, kWriterSource);
    }
  }
  throw SystemError(EEXIST, "Could not find a free temporary name in " + directory_,
                    kWriterSource);
}

TemporaryFile::~TemporaryFile() {
  if (!placed_) ::unlink(path_.c_str());
}

void RefuseUnsafeTarget(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return;  // missing: nothing to replace
  if (S_ISREG(info.st_mode)) {
    RefuseTheDatabase(path, info);
    return;
  }
  const char* what = S_ISLNK(info.st_mode)   ? "a symbolic link"
                     : S_ISDIR(info.st_mode) ? "a folder"
                     : S_ISFIFO(info.st_mode) ? "a pipe"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                                              : "a device";
  throw SystemError(EEXIST, path + " is " + what + ", not a regular file; it is not replaced",
                    kWriterSource);
}

bool TemporaryFile::PlaceAt(const std::string& destination, bool overwrite) {
  // Without `overwrite` the rename itself refuses any existing name. With it, the check leaves
  // a window until the rename in which only someone who may write the folder could swap in
  // another kind of file.
  if (overwrite) {
    RefuseUnsafeTarget(destination);
    // A replaced file keeps its permissions: a private report stays private.
    if (const std::optional<mode_t> kept = PermissionsOf(destination))
      ::chmod(path_.c_str(), *kept);
  }
  int result = overwrite ? std::rename(path_.c_str(), destination.c_str())
                         : ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, destination.c_str(),
                                       RENAME_NOREPLACE);
  if (result != 0 && !overwrite && (errno == EINVAL || errno == ENOSYS)) {
    // The file system cannot rename without replacing: a hard link fails on an existing name too.
    result = ::link(path_.c_str(), destination.c_str());
    if (result == 0) ::unlink(path_.c_str());
  }
  if (result == 0) {
    placed_ = true;
    return true;
  }
  if (errno == EEXIST && !overwrite) return false;
  throw SystemError(errno, "Could not save " + destination, kWriterSource);
}

void CheckFitsAWorksheet(int64_t rows, const std::string& target) {
  if (rows < static_cast<int64_t>(LXW_ROW_MAX)) return;
  throw WorkbookError(kWorkbookLimitCode, 0,
                      "The table has " + std::to_string(rows) +
                          " rows, more than a worksheet holds; the workbook " + target +
                          " was not written",
                      kWriterSource);
}

WorkbookWriter::WorkbookWriter(const TemporaryFile& file, const std::string& target)
    : target_(target), scratch_(file.directory()) {
  // The library's own scratch files go beside ours, in a directory known to be writable (not
  // /tmp, which may be memory).
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = scratch_.data();
  workbook_ = workbook_new_opt(file.path().c_str(), &options);
  if (workbook_ == nullptr) throw WriterError(LXW_ERROR_MEMORY_MALLOC_FAILED, 0, target);
  sheet_ = workbook_add_worksheet(workbook_, nullptr);
  bold_ = workbook_add_format(workbook_);
  if (sheet_ == nullptr || bold_ == nullptr) {
    workbook_close(std::exchange(workbook_, nullptr));
    throw WriterError(LXW_ERROR_MEMORY_MALLOC_FAILED, 0, target);
  }
  format_set_bold(bold_);
}

WorkbookWriter::~WorkbookWriter() {
  // Freeing alone would keep the sheet's scratch file open (and its disk space taken) until the
  // process ends; closing releases it, at the price of writing a workbook that the temporary
  // file's owner then removes.
  if (workbook_ != nullptr) workbook_close(workbook_);
}

void WorkbookWriter::Header(const std::vector<std::string>& titles,
                            const std::vector<bool>& numeric) {
  numeric_ = numeric;
  std::vector<std::string> translated;
  for (const std::string& title : titles) translated.push_back(Translated(title));
  Write(translated, /*data_row=*/false);
}

void WorkbookWriter::Row(const std::vector<std::string>& cells) {
  if (next_row_ >= static_cast<int64_t>(LXW_ROW_MAX)) CheckFitsAWorksheet(next_row_, target_);
  Write(cells, /*data_row=*/true);
}

// A data row's cells are Windows-1251 (the header is UTF-8 already).
void WorkbookWriter::Write(const std::vector<std::string>& cells, bool data_row) {
  if (widths_.size() < cells.size()) widths_.resize(cells.size(), 0);
  const auto row = static_cast<lxw_row_t>(next_row_);
  for (size_t k = 0; k < cells.size(); ++k) {
    const auto column = static_cast<lxw_col_t>(k);
    double number = 0;
    lxw_error error;
    if (data_row && k < numeric_.size() && numeric_[k] && ParseNumber(cells[k], number)) {
      error = worksheet_write_number(sheet_, row, column, number, nullptr);
      widths_[k] = std::max(widths_[k], cells[k].size());
    } else {
      // Always a string cell: a text that looks like a formula ("=1+1") must stay text.
      std::string text = data_row ? Cp1251ToUtf8(cells[k]) : cells[k];
      const size_t characters = CutToCellLimit(text);
      EscapeNul(text);
      error = worksheet_write_string(sheet_, row, column, text.c_str(), data_row ? nullptr : bold_);
      widths_[k] = std::max(widths_[k], characters);
    }
    if (error != LXW_NO_ERROR) throw WriterError(error, 0, target_);
  }
  ++next_row_;
}

void WorkbookWriter::Finish() {
  SetColumnWidths(sheet_, widths_);
  lxw_workbook* workbook = std::exchange(workbook_, nullptr);
  // Closing also frees the workbook, whatever it returns.
  errno = 0;
  const lxw_error error = workbook_close(workbook);
  if (error != LXW_NO_ERROR) throw WriterError(error, errno, target_);
}

int64_t WriteXlsx(const std::function<void(ReportTableSink&)>& stream, const std::string& path,
                  bool overwrite) {
  RefuseUnsafeTarget(path);
  std::string directory = std::filesystem::path(path).parent_path().string();
  TemporaryFile file(directory, path);
  WorkbookWriter writer(file, path);
  stream(writer);
  writer.Finish();
  if (!file.PlaceAt(path, overwrite))
    throw SystemError(EEXIST, "The file " + path + " already exists", kWriterSource);
  return writer.data_rows();
}

void WriteXlsx(const ReportTable& table, const std::string& path, bool overwrite) {
  CheckFitsAWorksheet(static_cast<int64_t>(table.rows.size()), path);
  WriteXlsx(
      [&table](ReportTableSink& sink) {
        sink.Header(table.header, table.numeric);
        for (const auto& row : table.rows) sink.Row(row);
      },
      path, overwrite);
}

}  // namespace hitsieve
