#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/report_kinds.h"
#include "export/spreadsheet_export.h"
#include "export/xlsx_file.h"
#include "store/report_queries.h"
#include "store/sqlitepp/transaction.h"
#include "store/database_location.h"
#include "store/stats_database.h"

namespace hitsieve::cli {

const char kExportHelp[] =
    "Usage: hitsieve-cli export (common|pages|queries) --xlsx FILE [--db FILE] [--force]\n"
    "                          [--lang ru|en]\n"
    "\n"
    "Writes one report table to an .xlsx workbook: the header in row 1, one database row per\n"
    "sheet row, numbers as numbers (traffic in bytes), texts always as text.\n"
    "\n"
    "Options:\n"
    "  --xlsx FILE  the workbook to write (required); an existing FILE is refused\n"
    "  --force      replace an existing FILE (only a regular file: a device, a pipe, a\n"
    "               folder or a symbolic link is never replaced)\n"
    "  --db FILE    statistics database\n"
    "               (default: dat1.dt in the current folder if one is there, otherwise\n"
    "               $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "               unless XDG_DATA_HOME is set; that folder is made when first written)\n"
    "  --lang LANG  the header row's language, ru or en; by default the desktop's:\n"
    "               HITSIEVE_LANG, else English when the system's language is English,\n"
    "               else Russian\n"
    "  -h, --help   show this help\n";

int ExportCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed =
      ParseArguments(args, {{"--help"}, {"--xlsx", true}, {"--db", true}, {"--force"}, {"--lang", true}});
  if (parsed.Has("--help")) {
    std::fputs(kExportHelp, stdout);
    return kExitOk;
  }
  if (parsed.operands.size() != 1)
    throw UsageError("export: name exactly one of " + ReportKindNames(/*exportable_only=*/true));
  const std::string& name = parsed.operands[0];
  const ReportKind* kind = FindReportKind(name);
  if (kind == nullptr || !kind->exportable) {
    throw UsageError("export: unknown report '" + name + "' (" +
                     ReportKindNames(/*exportable_only=*/true, " or ") + ")");
  }
  const std::string path = parsed.Value("--xlsx").value_or("");
  if (path.empty()) throw UsageError("export: --xlsx FILE is required");
  const bool force = parsed.Has("--force");
  UseReportLanguage(parsed, "export");
  UseDatabase(parsed.Value("--db").value_or(DefaultDatabaseFile()), /*create=*/false);
  // Found before the table is built; the writer checks again just before it replaces a file.
  RefuseUnsafeTarget(path);
  std::error_code ignored;
  if (!force && std::filesystem::symlink_status(path, ignored).type() !=
                    std::filesystem::file_type::not_found)
    throw std::runtime_error(path + " already exists (use --force to replace it)");

  // One read transaction: the rows streamed are the rows counted.
  sqlitepp::transaction snapshot(StatsDatabase::Instance().session());
  // Refused on its row count, before millions of rows are read for nothing.
  CheckFitsAWorksheet(CountStatsRows(kind->table), path);
  const int64_t rows = WriteXlsx(kind->stream_table, path, force);
  snapshot.commit();
  std::printf("%s: %lld rows written to %s\n", name.c_str(), static_cast<long long>(rows),
              path.c_str());
  return kExitOk;
}

}  // namespace hitsieve::cli
