#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/report_kinds.h"
#include "cli/text_output.h"
#include "engine/text.h"
#include "export/report_tables.h"
#include "store/sqlitepp/transaction.h"
#include "store/database_location.h"
#include "store/stats_database.h"

namespace hitsieve::cli {

const char kReportHelp[] =
    "Usage: hitsieve-cli report (common|pages|queries|referers|robots|status|notfound|hours|\n"
    "                            crawlers|engines|browsers|versions|systems|devices|\n"
    "                            countries) [--db FILE] [--format text|csv]\n"
    "\n"
    "Prints one report of the last analysis run on stdout, in UTF-8.\n"
    "  common    the summary of the period (text only), then the days\n"
    "  status    requests per status code (robots' left out, every page counted)\n"
    "  notfound  URLs answered 404 or 410: requests and the referer that led there most\n"
    "  hours     views and visitors per hour of the day (as the server wrote the time);\n"
    "            visitors are counted per day and hour and summed over the days\n"
    "  crawlers  every crawler of the built-in list that came (described robots too, whatever\n"
    "            --crawlers said): category, requests, days seen, first and last day, traffic\n"
    "  engines   arrivals from search engines by phrase, \"(not provided)\" where the\n"
    "            engine sent none\n"
    "  browsers  visitors and views per browser (as the agent rules name it), like hours\n"
    "  versions  the same per browser and major version\n"
    "  systems   visitors and views per operating system\n"
    "  devices   visitors and views per device class (desktop, phone, tablet, bot, other)\n"
    "  countries visitors and views per country of the client address; addresses the\n"
    "            country database does not know, proxies' among them, as \"unknown\"\n"
    "Formats:\n"
    "  text  the list as the window shows it: totals row first, \"-\" for zero, traffic in\n"
    "        megabytes; referers show the hosts list and then the addresses list, robots\n"
    "        the requests and then the requests per robot (default)\n"
    "  csv   the export table: header row, then the database rows with plain numbers and\n"
    "        traffic in bytes, quoted as RFC 4180 asks\n"
    "\n"
    "Texts from the logs are made harmless: in text, and in csv when stdout is a terminal,\n"
    "control characters (C0, DEL and C1) are shown as '?'; in csv, a text cell that starts\n"
    "with '=', '+', '-', '@', TAB or CR gets a leading apostrophe (') so that a spreadsheet\n"
    "does not run it as a formula. Numbers stay plain.\n"
    "\n"
    "Options:\n"
    "  --db FILE      statistics database, opened read-only, never created or changed\n"
    "                 (default: dat1.dt in the current folder if one is there, otherwise\n"
    "                 $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "                 unless XDG_DATA_HOME is set; that folder is made when first written)\n"
    "  --format FMT   text or csv\n"
    "  --raw          csv only: write the texts' bytes unchanged (for scripts)\n"
    "  -h, --help     show this help\n";

namespace {

// Writes the export table as CSV, one record as each row is read.
class CsvTableWriter : public ReportTableSink {
 public:
  CsvTableWriter(std::ostream& out, const CsvCellRule& rule) : out_(out), rule_(rule) {}

  void Header(const std::vector<std::string>& titles, const std::vector<bool>& numeric) override {
    numeric_ = numeric;
    WriteCsvRecord(out_, titles);
  }

  void Row(const std::vector<std::string>& cells) override {
    fields_.clear();
    for (size_t i = 0; i < cells.size(); ++i) {
      const bool numeric = i < numeric_.size() && numeric_[i];
      fields_.push_back(numeric ? cells[i] : CsvTextCell(Cp1251ToUtf8(cells[i]), rule_));
    }
    WriteCsvRecord(out_, fields_);
  }

 private:
  std::ostream& out_;
  CsvCellRule rule_;
  std::vector<bool> numeric_;
  std::vector<std::string> fields_;
};

// Where a report is written while the database is read: stdout itself when it is a regular
// file (it takes the rows as fast as they come), otherwise an unlinked scratch file in
// $TMPDIR (or /tmp). When no scratch file can be made, stdout after all.
class ReportSpool {
 public:
  ReportSpool() {
    struct stat info;
    if (fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode)) return;
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                       "/hitsieve-report-XXXXXX";
    fd_ = mkstemp(path.data());
    if (fd_ < 0) return;
    file_.open(path, std::ios::binary | std::ios::trunc);
    ::unlink(path.c_str());
    if (!file_) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~ReportSpool() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReportSpool(const ReportSpool&) = delete;
  ReportSpool& operator=(const ReportSpool&) = delete;

  std::ostream& stream() { return fd_ >= 0 ? static_cast<std::ostream&>(file_) : std::cout; }

  // Copies what was written to stdout. Throws when the scratch file failed (a full disk).
  void CopyToStandardOutput() {
    if (fd_ < 0) return;
    file_.flush();
    if (!file_) throw std::runtime_error("cannot write the report to a scratch file");
    std::vector<char> buffer(1 << 16);
    off_t offset = 0;
    for (;;) {
      const ssize_t got = ::pread(fd_, buffer.data(), buffer.size(), offset);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw std::runtime_error("cannot read the report's scratch file");
      if (got == 0) break;
      std::cout.write(buffer.data(), got);
      if (!std::cout) break;
      offset += got;
    }
  }

 private:
  int fd_ = -1;
  std::ofstream file_;
};

}  // namespace

int ReportCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed =
      ParseArguments(args, {{"--help"}, {"--db", true}, {"--format", true}, {"--raw"}});
  if (parsed.Has("--help")) {
    std::fputs(kReportHelp, stdout);
    return kExitOk;
  }
  if (parsed.operands.size() != 1)
    throw UsageError("report: name exactly one of " + ReportKindNames(/*exportable_only=*/false));
  const ReportKind* kind = FindReportKind(parsed.operands[0]);
  if (kind == nullptr) throw UsageError("report: unknown report '" + parsed.operands[0] + "'");
  const std::string format = parsed.Value("--format").value_or("text");
  if (format != "text" && format != "csv")
    throw UsageError("report: unknown format '" + format + "' (text or csv)");
  const bool raw = parsed.Has("--raw");
  if (raw && format != "csv") throw UsageError("report: --raw is for --format csv only");

  UseDatabase(parsed.Value("--db").value_or(DefaultDatabaseFile()), /*create=*/false);
  const CsvCellRule rule =
      raw ? CsvCellRule{false, false} : CsvCellRule{isatty(STDOUT_FILENO) != 0, true};
  // Rows go out as they are read, and a list is read twice (widths and totals first): one
  // read transaction makes every pass see the same rows, even if an analysis saves meanwhile.
  // A save waits for it, so the report must not hang on a slow reader of its output (a pager
  // left open): unless stdout is a file, it is written to a scratch file first and copied
  // out after the database is let go.
  ReportSpool spool;
  std::ostream& out = spool.stream();
  {
    sqlitepp::transaction snapshot(StatsDatabase::Instance().session());
    if (format == "csv") {
      CsvTableWriter writer(out, rule);
      if (!kind->dimension.empty()) StreamDimensionReport(writer, kind->dimension);
      else kind->stream_table(writer);
    } else if (!kind->dimension.empty()) {
      PrintDimensionReport(out, kind->dimension);
    } else {
      kind->print_text(out);
    }
    snapshot.commit();
  }
  spool.CopyToStandardOutput();
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the report to standard output");
  return kExitOk;
}

}  // namespace hitsieve::cli
