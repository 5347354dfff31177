#include <signal.h>
#include <unistd.h>

#include <atomic>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/log_pieces.h"
#include "cli/pending_database.h"
#include "cli/run_progress.h"
#include "cli/text_output.h"
#include "engine/dimensions/country_database.h"
#include "engine/log_format/format_reader.h"
#include "engine/log_format/log_format.h"
#include "engine/page_filter.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "run/analysis_job.h"
#include "store/database_location.h"
#include "store/stats_database.h"

namespace hitsieve::cli {

const char kAnalyseHelp[] =
    "Usage: hitsieve-cli analyse [--extensions TEXT] [--db FILE] [--add]\n"
    "                            [--from DAY] [--to DAY] [--strict SHARE]\n"
    "                            [--skip-databases] [--log-format FORMAT]\n"
    "                            [--crawlers described|all] [--geoip FILE]\n"
    "                            [--described-only] LOGFILE...\n"
    "       hitsieve-cli analyse --byte-range BEGIN-END --db PART [--extensions TEXT]\n"
    "                            [--log-format FORMAT] [--crawlers described|all] LOGFILE\n"
    "\n"
    "Reads every LOGFILE (a name ending in .gz is decompressed) and replaces the statistics\n"
    "in the database with what they hold. Files are read in byte order of their absolute\n"
    "paths; a file named twice, or through two paths, is read once. If any file cannot be\n"
    "read, or saving fails, the database keeps its previous statistics.\n"
    "\n"
    "With --add, only what is new in the files is added to the stored statistics. Logs are\n"
    "recognised by their text, not their names: text counted before is skipped, a log that\n"
    "grew is read from where the last run stopped, a rotated or compressed copy counts only\n"
    "its lines beyond what was read, and a copy of text counted before (an old backup, or\n"
    "the copy copytruncate made while the log grew on) adds nothing. A log that shares its\n"
    "first 64 KiB with a counted one and then parts from it adds the lines from where they\n"
    "part. A plain log's final line without a line feed is left for a later run (it may\n"
    "still be being written).\n"
    "\n"
    "A LOGFILE that is the database itself (under any name) or another SQLite database is\n"
    "no log: the run fails before anything is read or written, unless --skip-databases.\n"
    "\n"
    "Lines that are no log lines (no fields, or a day that is not a date like 01/Dec/2008)\n"
    "are still read as the parser always has, but counted: the summary says how many. A line\n"
    "of 64 MiB or more is skipped and counted among them.\n"
    "\n"
    "Options:\n"
    "  --extensions TEXT  page extensions that count, separated by ';'\n"
    "                     (default \"html; htm; php; asp; zip; jsp; txt\"; \"\" counts every page)\n"
    "  --add              add to the stored statistics instead of replacing them\n"
    "  --from DAY         count only records of DAY (YYYY-MM-DD) and later\n"
    "  --to DAY           count only records of DAY (YYYY-MM-DD) and earlier\n"
    "  --db FILE          statistics database, created with its tables when missing\n"
    "                     (default: dat1.dt in the current folder if one is there, otherwise\n"
    "                     $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "                     unless XDG_DATA_HOME is set; that folder is made when first written)\n"
    "  --strict SHARE     fail the run, keeping the previous statistics, when more than\n"
    "                     SHARE of the lines are not recognised (0.05 or 5%)\n"
    "  --skip-databases   leave out, with a note, any LOGFILE that is an SQLite database\n"
    "                     (the database itself included) and read the others\n"
    "  --log-format FORMAT  how the log lines are written (default combined):\n"
    "                     a preset (combined, common, vhost_combined, w3c, caddy), auto\n"
    "                     (each file's format recognised from its first lines), an Apache\n"
    "                     LogFormat string ('%h %l %u %t \"%r\" %>s %b'), an nginx log_format\n"
    "                     string ('$remote_addr [$time_local] \"$request\" $status'), or an\n"
    "                     nginx JSON template starting with '{'. Lines that do not fit are\n"
    "                     counted as not recognised\n"
    "  --crawlers WHICH   which crawlers' requests the statistics leave out: described\n"
    "                     (the default) leaves out the described search engines' robots\n"
    "                     only, all also every other crawler, feed reader, monitor and\n"
    "                     script the built-in crawler list knows (they are not added to the\n"
    "                     robot log). The choice and the list's version are stored with the\n"
    "                     statistics; --add under another choice or list is refused\n"
    "  --byte-range BEGIN-END  read only the lines of one plain LOGFILE that begin at byte\n"
    "                     offsets from BEGIN up to (not including) END, into PART, a new file:\n"
    "                     a piece of the log. Pieces are joined with 'merge --pieces-of', which\n"
    "                     refuses gaps and overlaps; a plain merge refuses a piece. Not for\n"
    "                     gzip logs, the formats w3c and auto, --add, --from, --to, --strict\n"
    "  --geoip FILE       the country database (MaxMind DB format, such as a GeoLite2\n"
    "                     Country file) the countries of the client addresses are looked\n"
    "                     up in (default: the one that comes with the program). A file\n"
    "                     that is missing or damaged is refused before anything is read.\n"
    "                     With --add, the database must be the one the stored statistics\n"
    "                     were counted with\n"
    "  --described-only   count only the days, pages, referers, phrases and robots: no\n"
    "                     status codes, hours, browsers, systems or countries (faster;\n"
    "                     their reports then say they are not counted)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Progress goes to stderr; a one-line summary goes to stdout. Ctrl+C (SIGINT) stops the\n"
    "run before it saves, leaves the database unchanged and exits with status 130.\n";

namespace {

struct RunSummary {
  size_t files = 0;
  long long lines = 0;
  size_t days = 0, pages = 0, phrases = 0, robot_hits = 0;
  long long unrecognised = 0, too_long = 0;
  long long other_crawlers = 0;
};

// 1327 as "1,327".
std::string GroupedNumber(long long number) {
  const std::string digits = std::to_string(number);
  std::string grouped;
  for (size_t k = 0; k < digits.size(); ++k) {
    const size_t left = digits.size() - k;
    if (k > 0 && left % 3 == 0 && digits[k - 1] != '-') grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

CrawlerMode ParseCrawlerMode(const std::optional<std::string>& text) {
  if (!text || *text == "described") return CrawlerMode::kDescribed;
  if (*text == "all") return CrawlerMode::kAll;
  throw UsageError("analyse: --crawlers takes described or all, not '" + *text + "'");
}

// "0.05" or "5%": a share between 0 and 1.
double ParseShare(const std::string& text) {
  const bool percent = !text.empty() && text.back() == '%';
  const std::string number = percent ? text.substr(0, text.size() - 1) : text;
  size_t used = 0;
  double value = -1;
  try {
    value = std::stod(number, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (number.empty() || used != number.size() || !(value >= 0))
    throw UsageError("analyse: --strict needs a share such as 0.05 or 5%, not '" + text + "'");
  if (percent) value /= 100;
  if (value > 1) throw UsageError("analyse: --strict share '" + text + "' is above 100%");
  return value;
}

// Thrown on the worker after the last file, before saving: the run fails and the database
// keeps its statistics.
void CheckShareRecognised(const StatsCollector& collector, double share) {
  const int64_t lines = collector.records() + collector.lines_without_record();
  const int64_t unrecognised = collector.unrecognised_lines();
  if (unrecognised == 0 || static_cast<double>(unrecognised) <= share * static_cast<double>(lines))
    return;
  throw std::runtime_error(std::to_string(unrecognised) + " of " + std::to_string(lines) +
                           " lines are not recognised, more than --strict allows");
}

// The absolute path without "." elements and repeated separators, so that "a.log" and
// "./a.log" name one file. Symbolic links and ".." are left alone: removing "x/.." is only
// right when x is no link, and the order of the run is that of the names as given.
std::string AbsolutePath(const std::string& name) {
  std::filesystem::path result;
  for (const std::filesystem::path& element : std::filesystem::absolute(name)) {
    if (element == "." || element.empty()) continue;
    result /= element;
  }
  return result.string();
}

LogFileSet AbsolutePaths(const std::vector<std::string>& operands) {
  LogFileSet files;
  for (const std::string& operand : operands) {
    if (operand.empty()) throw UsageError("analyse: an empty file name was given");
    files.insert(AbsolutePath(operand));
  }
  return files;
}

// One line, so that a cron mail or a script's log shows the whole failure in one place.
// A pipe or a device would be read as an empty log and the run would replace the statistics
// with nothing, and a folder is no log: both are refused before the run starts. A missing file
// is left to the run, which reports it like any file it cannot open.
void RefuseWhatIsNoFile(const LogFileSet& files) {
  for (const std::string& file : files) {
    std::error_code ignored;
    const std::filesystem::file_status status = std::filesystem::status(file, ignored);
    if (std::filesystem::is_directory(status))
      throw std::runtime_error(file + ": a folder, not a log file");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
      throw std::runtime_error(file + ": not a regular file (pipes and devices cannot be read)");
  }
}

void PrintFailure(const RunProgress& progress, const std::string& database,
                  const std::string& message) {
  const std::string file = PrintableText(progress.FileInProgress());
  std::string where;
  if (!file.empty())
    where = file + ": ";
  else if (progress.SaveStarted())
    where = "saving failed: " + database + ": ";
  else if (!progress.RunStarted())
    where = "database " + PrintableText(database) + ": ";
  std::fprintf(stderr, "hitsieve-cli: error: %s%s (the database keeps its previous statistics)\n",
               where.c_str(), message.c_str());
}

// What the run read: with --add the files skipped and the new text; with a period what it
// left out. Log names are shown as inert text.
void PrintAdded(const RunReport& report, bool add, const Period& period) {
  if (add) {
    std::printf("added %zu %s, skipped %zu: %lld new bytes, %lld new lines\n", report.files_read,
                report.files_read == 1 ? "file" : "files", report.skipped.size(),
                static_cast<long long>(report.new_bytes), static_cast<long long>(report.new_lines));
    for (const std::string& name : report.skipped)
      std::printf("already analysed: %s\n", PrintableText(name).c_str());
  }
  if (period.Limited()) {
    std::printf("period %s to %s: %lld records outside it and %lld without a date left out\n",
                period.first ? period.FirstText().c_str() : "...",
                period.last ? period.LastText().c_str() : "...",
                static_cast<long long>(report.left_out.outside),
                static_cast<long long>(report.left_out.not_a_date));
  }
  for (const std::string& note : report.notes) std::printf("%s\n", PrintableText(note).c_str());
}

constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as a shell reports it

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int) { interrupted.store(true); }

// Catches SIGINT while it exists, so that Ctrl+C stops the run instead of the process.
class InterruptCatcher {
 public:
  InterruptCatcher() {
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptCatcher() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

 private:
  struct sigaction previous_ {};
};

// Runs `job` on `thread` and waits for it, passing a Ctrl+C on to it within a tenth of a
// second. SIGINT is caught from before the run starts until it has ended.
void RunCatchingInterrupts(AnalysisThread& thread, const AnalysisJob& job) {
  InterruptCatcher catcher;
  thread.Start(job);
  // Woken as soon as the run ends, not at the next tenth of a second.
  while (!thread.WaitUntilEnded(std::chrono::milliseconds(100))) {
    if (interrupted.load()) thread.Stop();
  }
  thread.Join();
}

}  // namespace

// The --log-format text compiled, or null for the default reading; a text that cannot be
// understood is refused in one line that names where.
std::shared_ptr<const LogFormat> CompileLogFormat(const std::optional<std::string>& text) {
  if (!text) return nullptr;
  try {
    return LogFormat::Compile(*text);
  } catch (const LogFormatError& e) {
    throw UsageError("analyse: --log-format: " + DescribeLogFormatError(e));
  }
}

namespace {

// The country database of --geoip, or the one that comes with the program (null when there is
// none). A --geoip file that cannot be used is a wrong command line; the shipped one a failure.
std::shared_ptr<const CountryDatabase> OpenCountries(const std::optional<std::string>& geoip) {
  if (!geoip) return OpenCountryDatabase({});
  if (geoip->empty()) throw UsageError("analyse: --geoip needs a file name");
  try {
    return OpenCountryDatabase(*geoip);
  } catch (const std::runtime_error& e) {
    throw UsageError(std::string("analyse: --geoip: ") + e.what());
  }
}

}  // namespace

// After the summary: with auto, the format found in each file; with the default reading, a
// hint for each file most of whose lines were not recognised. Names are shown as inert text.
void PrintFormatNotes(const RunReport& report, const LogFormat* format) {
  const bool automatic = format != nullptr && format->kind() == LogFormat::Kind::kAuto;
  for (const RunReport::FileLines& file : report.file_lines) {
    const std::string name = PrintableText(file.path);
    if (automatic) {
      const auto found = DetectLogFormat(ReadLogStart(file.path));
      std::printf("format of %s: %s\n", name.c_str(),
                  found ? found->name().c_str() : "combined (no known format fits its first lines)");
    } else if (format == nullptr && file.lines > 0 && 2 * file.unrecognised > file.lines) {
      const auto found = DetectLogFormat(ReadLogStart(file.path));
      std::string fits = "no known format fits its first lines";
      if (found && found->kind() != LogFormat::Kind::kCombined) fits = "it reads as " + found->name();
      std::printf("%s: %lld of %lld lines not recognised as combined; try --log-format auto (%s)\n",
                  name.c_str(), static_cast<long long>(file.unrecognised),
                  static_cast<long long>(file.lines), fits.c_str());
    }
  }
}

int AnalyseCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed =
      ParseArguments(args, {{"--help"},
                            {"--extensions", true},
                            {"--db", true},
                            {"--add"},
                            {"--from", true},
                            {"--to", true},
                            {"--strict", true},
                            {"--skip-databases"},
                            {"--log-format", true},
                            {"--crawlers", true},
                            {"--byte-range", true},
                            {"--geoip", true},
                            {"--described-only"}});
  if (parsed.Has("--help")) {
    std::fputs(kAnalyseHelp, stdout);
    return kExitOk;
  }
  // Refused before anything is read.
  const std::shared_ptr<const LogFormat> log_format = CompileLogFormat(parsed.Value("--log-format"));
  const CrawlerMode crawlers = ParseCrawlerMode(parsed.Value("--crawlers"));
  const bool described_only = parsed.Has("--described-only");
  if (described_only && parsed.Has("--geoip"))
    throw UsageError("analyse: --geoip counts countries, --described-only counts none");
  const std::shared_ptr<const CountryDatabase> countries =
      described_only ? nullptr : OpenCountries(parsed.Value("--geoip"));
  if (parsed.operands.empty()) throw UsageError("analyse: no LOGFILE given (try --help)");
  const LogFileSet files = AbsolutePaths(parsed.operands);
  const std::optional<ByteRange> byte_range = ByteRangeOption(
      parsed, std::vector<std::string>(files.begin(), files.end()), log_format.get());
  ExtensionSet extensions;
  ParseExtensionList(parsed.Value("--extensions").value_or(kDefaultExtensionList), extensions);

  Period period;
  for (const char* option : {"--from", "--to"}) {
    const std::optional<std::string> text = parsed.Value(option);
    if (!text) continue;
    const std::optional<int> day = ParseIsoDay(*text);
    if (!day) throw UsageError(std::string(option) + " needs a date written YYYY-MM-DD, not '" + *text + "'");
    (option[2] == 'f' ? period.first : period.last) = day;
  }
  if (period.first && period.last && *period.first > *period.last)
    throw UsageError("--from is later than --to");

  const std::optional<double> strict =
      parsed.Has("--strict") ? std::optional<double>(ParseShare(*parsed.Value("--strict")))
                             : std::nullopt;
  const std::string database = parsed.Value("--db").value_or(DefaultDatabaseFile());
  UseDatabase(database, /*create=*/true);
  RefuseWhatIsNoFile(files);
  const bool skip_databases = parsed.Has("--skip-databases");
  if (!skip_databases) {
    for (const std::string& file : files) {
      const std::string why = WhyNotALog(file, StatsDatabase::Path());
      if (!why.empty())
        throw std::runtime_error(file + ": " + why + "; nothing was read or written "
                                 "(--skip-databases leaves such files out)");
    }
  }
  RegisterStandardEngines(SearchEngineRegistry::Instance());
  // A piece counts what a replacing run of the whole log counts, so that the joined pieces
  // hold every dimension that run would.
  DimensionOptions dimensions;
  dimensions.countries = countries;
  if (described_only) dimensions = {/*builtin=*/false, /*agents=*/false, nullptr};
  if (byte_range)
    return AnalyseByteRange(*files.begin(), *byte_range, extensions, log_format, database,
                            crawlers, dimensions);
  // A missing database is written under another name and takes its own only once the run
  // has succeeded: a failed or stopped run leaves no file behind.
  std::optional<PendingDatabase> pending;
  if (StatsDatabase::NotCreatedYet()) pending.emplace(StatsDatabase::Path());

  RunProgress progress(std::vector<std::string>(files.begin(), files.end()), stderr,
                       isatty(STDERR_FILENO) != 0);
  RunSummary summary;
  AnalysisJob job;
  job.extensions = extensions;
  job.files = &files;
  job.observer = &progress;
  job.save_progress = &progress;
  job.read_progress = &progress;
  RunReport report;
  job.add = parsed.Has("--add");
  job.crawlers = crawlers;
  job.period = period;
  job.skip_databases = skip_databases;
  job.dimensions = dimensions;
  if (described_only) job.count_countries = false;
  job.report = &report;
  // Given, even as combined: an adding run then reads every log in it, not in the format a log
  // was counted in before.
  job.log_format = log_format;
  job.collected = [&summary, &files, strict](const StatsCollector& collector) {
    summary = {files.size(),           collector.records(),          collector.days.size(),
               collector.pages.size(), collector.queries.size(), collector.robotHits.size(),
               collector.unrecognised_lines(), collector.long_lines(),
               collector.otherCrawlerRequests()};
    if (strict) CheckShareRecognised(collector, *strict);
  };

  const auto start = std::chrono::steady_clock::now();
  AnalysisThread thread;
  RunCatchingInterrupts(thread, job);
  if (progress.Stopped()) {
    std::fputs("hitsieve-cli: analysis stopped (the database keeps its previous statistics)\n",
               stderr);
    return kExitInterrupted;
  }
  if (progress.Failed()) {
    PrintFailure(progress, database, thread.FailureMessage());
    return kExitFailure;
  }
  if (pending) pending->Publish();
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::string too_long;
  if (summary.too_long > 0) too_long = " (" + std::to_string(summary.too_long) + " too long)";
  std::printf("analysed %zu %s: %lld lines, %zu days, %zu pages, %zu phrases, %zu robot hits "
              "in %.2f s; %lld lines not recognised%s\n",
              summary.files, summary.files == 1 ? "file" : "files", summary.lines, summary.days,
              summary.pages, summary.phrases, summary.robot_hits, seconds.count(),
              summary.unrecognised, too_long.c_str());
  if (summary.other_crawlers > 0 && crawlers == CrawlerMode::kDescribed) {
    std::printf("%s %s from other known crawlers %s counted as visitors; --crawlers all leaves "
                "them out\n", GroupedNumber(summary.other_crawlers).c_str(),
                summary.other_crawlers == 1 ? "request" : "requests",
                summary.other_crawlers == 1 ? "was" : "were");
  } else if (summary.other_crawlers > 0) {
    std::printf("%s %s from other known crawlers left out (--crawlers all)\n",
                GroupedNumber(summary.other_crawlers).c_str(),
                summary.other_crawlers == 1 ? "request" : "requests");
  }
  PrintAdded(report, job.add, period);
  PrintFormatNotes(report, job.log_format.get());
  return kExitOk;
}

void UseDatabase(const std::string& file_name, bool create) {
  namespace fs = std::filesystem;
  if (file_name.empty()) throw UsageError("--db needs a file name");
  const fs::path path = fs::absolute(file_name);
  std::error_code ignored;
  if (fs::is_directory(path, ignored))
    throw std::runtime_error("database " + file_name + " is a folder, not a file");
  const fs::file_status status = fs::status(path, ignored);
  if (fs::exists(status) && !fs::is_regular_file(status))
    throw std::runtime_error("database " + file_name + " is not a regular file");
  if (!create && !fs::exists(path, ignored))
    throw std::runtime_error("database " + file_name + " does not exist (run analyse first)");
  // Found now rather than after every log has been read. The user's data folder is made
  // when the statistics are first written there.
  if (create && !fs::is_directory(path.parent_path(), ignored) && !IsUserDataFile(path.string()))
    throw std::runtime_error("database " + file_name + ": the folder " +
                             path.parent_path().string() + " does not exist");
  // An absolute path is always a file to SQLite: never ":memory:", a private temporary
  // database (the empty name) or a "file:" URI, any of which would lose the statistics.
  // Reports and exports never create or change the file.
  StatsDatabase::SetFileName(path.string(), /*read_only=*/!create);
}

}  // namespace hitsieve::cli
