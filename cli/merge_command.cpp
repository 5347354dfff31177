#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/text_output.h"
#include "store/sqlitepp/session.h"
#include "store/database_location.h"
#include "store/stats_database.h"
#include "store/stats_merge.h"

namespace hitsieve::cli {

const char kMergeHelp[] =
    "Usage: hitsieve-cli merge [--replace] [--db FILE] PART...\n"
    "\n"
    "Adds the statistics of other Hitsieve databases (each PART, in the order given) to the\n"
    "database FILE, exactly as if one run had read their logs after those FILE has counted:\n"
    "the visitors of a day spread over several parts count once, robot-log rows follow in\n"
    "order. The logs each part has read travel with its statistics. A part whose logs FILE\n"
    "has all counted already is skipped; a part that shares logs with FILE (or with an\n"
    "earlier part) only in part is refused, and nothing is merged. FILE is created when\n"
    "missing. On any failure FILE keeps its previous contents.\n"
    "\n"
    "Options:\n"
    "  --replace   drop FILE's statistics first: FILE then holds the parts' statistics only\n"
    "  --db FILE   statistics database, created with its tables when missing\n"
    "              (default: dat1.dt in the current folder if one is there, otherwise\n"
    "              $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "              unless XDG_DATA_HOME is set; that folder is made when first written)\n"
    "  -h, --help  show this help\n";

namespace {

bool SameText(const LogSource& a, const LogSource& b) {
  return a.bytes == b.bytes && a.hash == b.hash;
}

// Two remembered logs that begin alike are one log read to different lengths.
bool SameStart(const LogSource& a, const LogSource& b) {
  return (a.head_bytes == b.head_bytes && a.head_hash == b.head_hash) ||
         a.first_line_hash == b.first_line_hash;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

int MergeCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed =
      ParseArguments(args, {{"--help"}, {"--db", true}, {"--replace"}});
  if (parsed.Has("--help")) {
    std::fputs(kMergeHelp, stdout);
    return kExitOk;
  }
  if (parsed.operands.empty()) throw UsageError("merge: no PART given (try --help)");
  const std::string database = parsed.Value("--db").value_or(DefaultDatabaseFile());
  const bool replace = parsed.Has("--replace");
  for (const std::string& part : parsed.operands) {
    std::error_code ignored;
    if (part.empty()) throw UsageError("merge: an empty file name was given");
    if (!std::filesystem::is_regular_file(part, ignored))
      throw std::runtime_error(part + ": no such database file");
    if (SameFile(part, database)) throw UsageError("merge: " + part + " is the database itself");
  }
  UseDatabase(database, /*create=*/true);
  sqlitepp::session& target = StatsDatabase::Instance().session();

  std::vector<LogSource> stored;
  if (!replace) stored = LoadLogSources(target);  // refuses a database that cannot be added to
  std::vector<LogSource> sources = stored;
  StatsTotals added;
  size_t merged = 0;
  std::vector<std::string> skipped;
  for (const std::string& part : parsed.operands) {
    sqlitepp::session session(std::filesystem::absolute(part).string());
    if (!IsExtendable(session))
      throw std::runtime_error(part +
                               ": written without the tables that merging needs (by an earlier "
                               "version, or by hand); analyse its logs again to merge them");
    const std::vector<LogSource> theirs = LoadLogSources(session);
    size_t known = 0;
    for (const LogSource& log : theirs) {
      for (const LogSource& mine : sources) {
        if (SameText(log, mine)) {
          ++known;
          break;
        }
        if (SameStart(log, mine))
          throw std::runtime_error(part + ": its log " + PrintableText(log.name) +
                                   " shares its first lines with " + PrintableText(mine.name) +
                                   ", which has been counted already; nothing was merged");
      }
    }
    if (!theirs.empty() && known == theirs.size()) {
      skipped.push_back(part);
      continue;
    }
    if (known != 0)
      throw std::runtime_error(part + ": holds logs that have been counted already and others "
                                      "that have not; nothing was merged");
    StatsTotals totals = LoadTotals(session, /*robots=*/true);
    added.Add(std::move(totals));
    sources.insert(sources.end(), theirs.begin(), theirs.end());
    ++merged;
  }
  SaveTotals(target, std::move(added), sources, replace, nullptr, replace ? nullptr : &stored);
  std::printf("merged %zu %s into %s, skipped %zu\n", merged, merged == 1 ? "part" : "parts",
              PrintableText(database).c_str(), skipped.size());
  for (const std::string& part : skipped)
    std::printf("already merged: %s\n", PrintableText(part).c_str());
  return kExitOk;
}

}  // namespace hitsieve::cli
