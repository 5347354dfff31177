// `hitsieve-cli merge`: adds the statistics of other databases (parts) to one, refusing any
// part that could count a log twice or lose days, and any part it cannot trust, before the
// target is touched.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/log_pieces.h"
#include "cli/text_output.h"
#include "run/log_overlap.h"
#include "store/merge_part.h"
#include "store/sqlitepp/session.h"
#include "store/database_location.h"
#include "engine/log_format/log_format.h"
#include "store/stats_database.h"
#include "store/stats_merge.h"

namespace hitsieve::cli {

const char kMergeHelp[] =
    "Usage: hitsieve-cli merge [--replace] [--db FILE] PART...\n"
    "       hitsieve-cli merge [--replace] [--db FILE] --pieces-of LOGFILE\n"
    "                          [--described LINE] [--log-format FORMAT] PIECE...\n"
    "       hitsieve-cli merge --into-piece --db NEWFILE --pieces-of LOGFILE PIECE...\n"
    "\n"
    "Adds the statistics of other Hitsieve databases (each PART, in the order given) to the\n"
    "database FILE, exactly as if one run had read their logs after those FILE has counted:\n"
    "the visitors of a day spread over several parts count once, robot-log rows follow in\n"
    "order. The logs each part has read travel with its statistics. A part whose logs FILE\n"
    "has all counted already (for the same period or a wider one) is skipped. Refused, with\n"
    "nothing merged: a part that shares logs with FILE (or with an earlier part) only in part,\n"
    "one that counted such a log for days FILE has not counted, one that remembers no logs,\n"
    "and one that is damaged or was not written by Hitsieve (every part is read-only to the\n"
    "merge and checked whole first). FILE is created when missing, only when the merge\n"
    "succeeds. On any failure FILE keeps its previous contents.\n"
    "\n"
    "Options:\n"
    "  --replace   drop FILE's statistics first: FILE then holds the parts' statistics only\n"
    "  --pieces-of LOGFILE  the PIECEs ('analyse --byte-range' of LOGFILE), given in file\n"
    "              order, together are one part: what one 'analyse' of the whole LOGFILE\n"
    "              brings. Refused when a piece is of another log, or the pieces leave a gap,\n"
    "              overlap or do not reach the log's end\n"
    "  --described LINE  the line 'describe-log LOGFILE' printed; without it LOGFILE is read\n"
    "              once more to tell how it is remembered\n"
    "  --log-format FORMAT  the format the PIECEs were read in, remembered with LOGFILE (as\n"
    "              'analyse --log-format' remembers it)\n"
    "  --into-piece  join consecutive PIECEs of LOGFILE into one piece, written to a new\n"
    "              FILE, to be joined with others later: many pieces join in a tree\n"
    "  --db FILE   statistics database, created with its tables when missing\n"
    "              (default: dat1.dt in the current folder if one is there, otherwise\n"
    "              $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "              unless XDG_DATA_HOME is set; that folder is made when first written)\n"
    "  -h, --help  show this help\n";

namespace {

namespace fs = std::filesystem;

bool SameText(const LogSource& a, const LogSource& b) {
  return a.bytes == b.bytes && a.hash == b.hash;
}

// Two remembered logs that begin alike are one log read to different lengths. Heads of one
// length decide. Heads of two lengths mean the shorter log is whole inside the longer one's
// head; whether the longer log begins with it the stored hashes cannot tell, so the longer
// one's file is asked. Logs whose first lines differ are two logs, unless the shorter one
// holds no line feed before its end (its first line may be the start of the longer one's).
// When the file no longer holds the longer log's head, they count as alike: refusing a merge
// is safe, counting a log twice is not.
bool SameStart(const LogSource& a, const LogSource& b, LogStarts& files) {
  if (a.head_bytes == b.head_bytes) return a.head_hash == b.head_hash;
  const LogSource& shorter = a.head_bytes < b.head_bytes ? a : b;
  const LogSource& longer = a.head_bytes < b.head_bytes ? b : a;
  if (shorter.first_line_hash != longer.first_line_hash && shorter.first_line_hash != shorter.hash)
    return false;
  return BeginsWith(longer, shorter, files).value_or(true);
}

// A log counted already for `counted`'s period: the same text offered counted for `offered`'s
// period brings no day that is missing only when its period lies inside.
bool InsidePeriod(const LogSource& offered, const LogSource& counted) {
  const bool earlier = !counted.first_day.empty() &&
                       (offered.first_day.empty() || offered.first_day < counted.first_day);
  const bool later = !counted.last_day.empty() &&
                     (offered.last_day.empty() || offered.last_day > counted.last_day);
  return !earlier && !later;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

MergePart ReadPart(const std::string& part) {
  try {
    return ReadMergePart(fs::absolute(part).string());
  } catch (const std::exception& e) {
    throw std::runtime_error(part + ": " + e.what());
  }
}

// A database that does not exist yet (or is an empty file) is written whole under a
// temporary name beside it and renamed to its name once the merge has succeeded, so that a
// merge that fails leaves nothing behind.
class NewDatabase {
 public:
  NewDatabase(const std::string& file_name, std::optional<mode_t> empty_file_mode)
      : file_name_(file_name), replace_empty_(empty_file_mode.has_value()) {
    temporary_ = file_name + ".merging-XXXXXX";
    const int fd = ::mkstemp(temporary_.data());
    if (fd < 0)
      throw std::runtime_error("database " + file_name + " cannot be created: " +
                               std::strerror(errno));
    // Made 0600; given the mode SQLite would have given it, or the empty file's.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, empty_file_mode.value_or(0644 & ~mask));
    ::close(fd);
    session_.open(temporary_);
    CreateStatsTables(session_);
  }
  ~NewDatabase() {
    if (published_) return;
    try {
      session_.close();
    } catch (...) {
      // Removed below all the same.
    }
    ::unlink(temporary_.c_str());
    ::unlink((temporary_ + "-journal").c_str());
  }
  NewDatabase(const NewDatabase&) = delete;
  NewDatabase& operator=(const NewDatabase&) = delete;

  sqlitepp::session& session() { return session_; }

  // Puts the written file in place; one that another process created meanwhile is kept.
  void Publish() {
    session_.close();
    int result = 0;
    if (replace_empty_) {
      result = ::rename(temporary_.c_str(), file_name_.c_str());
    } else {
      result = ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, file_name_.c_str(),
                           RENAME_NOREPLACE);
      if (result != 0 && errno == EINVAL) {  // a file system without it: link does not replace
        result = ::link(temporary_.c_str(), file_name_.c_str());
        if (result == 0) ::unlink(temporary_.c_str());
      }
    }
    if (result != 0) {
      if (errno == EEXIST)
        throw std::runtime_error("database " + file_name_ +
                                 " was created by another process meanwhile; nothing was merged");
      throw std::runtime_error("database " + file_name_ + " cannot be created: " +
                               std::strerror(errno));
    }
    published_ = true;
  }

 private:
  std::string file_name_, temporary_;
  bool replace_empty_;
  bool published_ = false;
  sqlitepp::session session_;
};

// The part (of those merged, in order) whose counts carry a sum past the largest count, found
// by rehearsing the save with one part more each time; empty when the target's own rows do.
std::string OverflowingPart(sqlitepp::session& target, const std::vector<std::string>& merged,
                            bool replace) {
  StatsTotals sum;
  for (size_t k = 0; k <= merged.size(); ++k) {
    try {
      SaveTotals(target, StatsTotals(sum), {}, replace, nullptr, nullptr, /*rehearse=*/true);
    } catch (const CountOverflowError&) {
      return k == 0 ? std::string() : merged[k - 1];
    }
    // A lone part carries it (and may be pieces of a log, no part file to read again).
    if (merged.size() == 1) return merged.front();
    if (k < merged.size()) sum.Add(ReadPart(merged[k]).totals);
  }
  return {};
}

void Save(sqlitepp::session& target, const std::string& database, StatsTotals&& added,
          const std::vector<LogSource>& sources, bool replace,
          const std::vector<LogSource>* read_against, const std::vector<std::string>& merged) {
  try {
    SaveTotals(target, std::move(added), sources, replace, nullptr, read_against);
  } catch (const CountOverflowError& e) {
    const std::string part = OverflowingPart(target, merged, replace);
    if (part.empty()) throw std::runtime_error("database " + database + ": " + e.what());
    throw std::runtime_error(part + ": " + e.what() + " with those of " + database +
                             (part == merged.front() ? "" : " and the parts before it") +
                             "; nothing was merged");
  }
}

}  // namespace

int MergeCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed =
      ParseArguments(args, {{"--help"}, {"--db", true}, {"--replace"}, {"--pieces-of", true},
                            {"--described", true}, {"--into-piece"}, {"--log-format", true}});
  if (parsed.Has("--help")) {
    std::fputs(kMergeHelp, stdout);
    return kExitOk;
  }
  if (parsed.operands.empty()) throw UsageError("merge: no PART given (try --help)");
  const std::string database = parsed.Value("--db").value_or(DefaultDatabaseFile());
  const bool replace = parsed.Has("--replace");
  const std::optional<std::string> pieces_of = parsed.Value("--pieces-of");
  if (parsed.Has("--described") && !pieces_of)
    throw UsageError("merge: --described is for --pieces-of");
  if (pieces_of && pieces_of->empty()) throw UsageError("merge: --pieces-of needs a LOGFILE");
  if (parsed.Has("--into-piece") &&
      (!pieces_of || !parsed.Has("--db") || parsed.Has("--described") || replace))
    throw UsageError("merge: --into-piece needs --pieces-of and --db, and takes no --described "
                     "or --replace");
  // The format a log read in pieces is remembered with; empty for the default reading.
  std::string log_format;
  if (const std::optional<std::string> text = parsed.Value("--log-format")) {
    if (!pieces_of || parsed.Has("--into-piece"))
      throw UsageError("merge: --log-format is for --pieces-of, joining pieces into a part");
    try {
      const std::shared_ptr<const LogFormat> format = LogFormat::Compile(*text);
      if (format->kind() != LogFormat::Kind::kCombined) log_format = format->text();
    } catch (const LogFormatError& e) {
      throw UsageError("merge: --log-format: " + DescribeLogFormatError(e));
    }
  }
  for (const std::string& part : parsed.operands) {
    if (part.empty()) throw UsageError("merge: an empty file name was given");
    if (SameFile(part, database)) throw UsageError("merge: " + part + " is the database itself");
  }
  UseDatabase(database, /*create=*/true);
  if (parsed.Has("--into-piece")) return JoinPiecesIntoPiece(*pieces_of, parsed.operands, database);
  const std::string absolute = fs::absolute(database).string();

  // The target is opened now only when it holds something; a new one is made at the end.
  struct stat info;
  const bool exists = ::stat(absolute.c_str(), &info) == 0;
  const bool fresh = !exists || (S_ISREG(info.st_mode) && info.st_size == 0);
  std::vector<LogSource> stored;
  if (!fresh && !replace) stored = LoadLogSources(StatsDatabase::Instance().session());
  if (!fresh && replace) StatsDatabase::Instance();  // refuses another program's database

  std::vector<LogSource> sources = stored;
  StatsTotals added;
  std::vector<std::string> merged, skipped;
  LogStarts files;
  // The pieces of one log are one part, named by the log.
  std::vector<std::string> offered = parsed.operands;
  if (pieces_of) offered = {*pieces_of};
  for (const std::string& part : offered) {
    MergePart contents =
        pieces_of ? JoinLogPieces(part, parsed.Value("--described"), parsed.operands, log_format)
                  : ReadPart(part);
    size_t known = 0;
    for (const LogSource& log : contents.logs) {
      for (const LogSource& mine : sources) {
        if (SameText(log, mine)) {
          if (!InsidePeriod(log, mine))
            throw std::runtime_error(
                part + ": cannot add days outside " +
                (mine.first_day.empty() ? "..." : mine.first_day) + " to " +
                (mine.last_day.empty() ? "..." : mine.last_day) + " from the first " +
                std::to_string(mine.bytes) + " bytes of " + log.name +
                ": they were counted for that period only; nothing was merged");
          ++known;
          break;
        }
        if (SameStart(log, mine, files))
          throw std::runtime_error(part + ": its log " + log.name +
                                   " shares its first lines with " + mine.name +
                                   ", which has been counted already; nothing was merged");
      }
    }
    if (known == contents.logs.size()) {
      skipped.push_back(part);
      continue;
    }
    if (known != 0)
      throw std::runtime_error(part + ": holds logs that have been counted already and others "
                                      "that have not; nothing was merged");
    try {
      added.Add(std::move(contents.totals));
    } catch (const CountOverflowError& e) {
      throw std::runtime_error(part + ": " + e.what() +
                               " with those of the parts before it; nothing was merged");
    } catch (const DimensionMismatchError& e) {
      throw std::runtime_error(part + ": " + e.what() + "; nothing was merged");
    } catch (const std::runtime_error& e) {
      // Counted under other settings than the parts before it.
      throw std::runtime_error(part + ": " + e.what());
    }
    sources.insert(sources.end(), contents.logs.begin(), contents.logs.end());
    merged.push_back(part);
  }

  if (fresh) {
    // The user's data folder is made with its file, as a save through StatsDatabase makes it.
    if (!exists && IsUserDataFile(absolute)) MakeUserDataFolder(absolute);
    NewDatabase created(absolute, exists ? std::optional<mode_t>(info.st_mode & 07777)
                                         : std::nullopt);
    Save(created.session(), database, std::move(added), sources, /*replace=*/true, nullptr,
         merged);
    created.Publish();
  } else {
    std::vector<std::string> left_out;
    if (!replace) left_out = DimensionsLeftOut(StatsDatabase::Instance().session(), added);
    Save(StatsDatabase::Instance().session(), database, std::move(added), sources, replace,
         replace ? nullptr : &stored, merged);
    for (const std::string& name : left_out)
      std::printf("\"%s\" is not counted: %s was counted without it (merge --replace, or a run "
                  "without --add, counts it)\n",
                  name.c_str(), PrintableText(database).c_str());
  }
  std::printf("merged %zu %s into %s, skipped %zu\n", merged.size(),
              merged.size() == 1 ? "part" : "parts", PrintableText(database).c_str(),
              skipped.size());
  for (const std::string& part : skipped)
    std::printf("already merged: %s\n", PrintableText(part).c_str());
  return kExitOk;
}

}  // namespace hitsieve::cli
