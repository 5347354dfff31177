#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "export/html_report.h"
#include "export/report_language.h"
#include "export/xlsx_file.h"
#include "store/database_location.h"
#include "store/stats_database.h"

namespace hitsieve::cli {

const char kHtmlHelp[] =
    "Usage: hitsieve-cli html --output FILE.html [--db FILE] [--force] [--lang ru|en]\n"
    "\n"
    "Writes the stored statistics as one self-contained web page: a summary, the daily chart\n"
    "with a date range, the five reports as sortable, filterable tables with every row, and a\n"
    "panel per crawler. The page loads nothing from the network; open it in any browser or send\n"
    "it as an attachment.\n"
    "\n"
    "Options:\n"
    "  --output FILE  the page to write (required); an existing FILE is refused\n"
    "  --force        replace an existing FILE\n"
    "  --db FILE      statistics database\n"
    "                 (default: dat1.dt in the current folder if one is there, otherwise\n"
    "                 $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "                 unless XDG_DATA_HOME is set; that folder is made when first written)\n"
    "  --lang LANG    the page's language, ru or en; by default the desktop's: HITSIEVE_LANG,\n"
    "                 else English when the system's language is English, else Russian\n"
    "  -h, --help     show this help\n";

void UseReportLanguage(const ParsedArguments& parsed, const std::string& command) {
  const std::optional<std::string> code = parsed.Value("--lang");
  if (!code) return;
  const std::optional<ReportLanguage> language = ParseReportLanguage(*code);
  if (!language) throw UsageError(command + ": unknown language '" + *code + "' (ru or en)");
  SetOutputLanguage(*language);
}

int HtmlCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed =
      ParseArguments(args, {{"--help"}, {"--output", true}, {"--db", true}, {"--force"}, {"--lang", true}});
  if (parsed.Has("--help")) {
    std::fputs(kHtmlHelp, stdout);
    return kExitOk;
  }
  if (!parsed.operands.empty()) throw UsageError("html: unexpected argument '" + parsed.operands[0] + "'");
  const std::string path = parsed.Value("--output").value_or("");
  if (path.empty()) throw UsageError("html: --output FILE is required");
  const bool force = parsed.Has("--force");
  UseReportLanguage(parsed, "html");
  UseDatabase(parsed.Value("--db").value_or(DefaultDatabaseFile()), /*create=*/false);
  // The database itself, a link or a device is refused before "use --force" is suggested.
  RefuseUnsafeTarget(path);
  std::error_code ignored;
  if (!force && std::filesystem::symlink_status(path, ignored).type() !=
                    std::filesystem::file_type::not_found)
    throw std::runtime_error(path + " already exists (use --force to replace it)");

  WriteHtmlReportFile(path, force);
  std::printf("report page written to %s\n", path.c_str());
  return kExitOk;
}

}  // namespace hitsieve::cli
