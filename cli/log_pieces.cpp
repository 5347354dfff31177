#include "cli/log_pieces.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/text_output.h"
#include "engine/log_format/log_format.h"
#include "engine/log_reader.h"
#include "engine/record_sink.h"
#include "engine/stats_collector.h"
#include "run/log_sources.h"
#include "store/log_piece.h"
#include "store/sqlitepp/session.h"
#include "store/stats_database.h"
#include "store/stats_merge.h"

namespace hitsieve::cli {

const char kDescribeLogHelp[] =
    "Usage: hitsieve-cli describe-log LOGFILE\n"
    "\n"
    "Prints, in one line, how an analysis that reads LOGFILE whole remembers it (a name ending\n"
    "in .gz is decompressed), without counting anything:\n"
    "  bytes=N lines=N hash=H head_bytes=N head_hash=H first_line_hash=H\n"
    "with each hash as 16 hexadecimal digits. 'merge --pieces-of LOGFILE --described LINE'\n"
    "takes that line, so that the pieces of a large log read on several machines can be\n"
    "joined without reading the log again: describe-log reads it on one machine while the\n"
    "others read its pieces ('analyse --byte-range').\n";

namespace {

namespace fs = std::filesystem;

// Offsets have at most 18 digits (under an exabyte): no sum of two of them overflows.
std::optional<int64_t> Offset(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<uint64_t> Hash(std::string_view text) {
  if (text.size() != 16) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return value;
}

std::string DescriptionText(const LogSource& log) {
  char text[256];
  std::snprintf(text, sizeof text,
                "bytes=%lld lines=%lld hash=%016llx head_bytes=%lld head_hash=%016llx "
                "first_line_hash=%016llx",
                static_cast<long long>(log.bytes), static_cast<long long>(log.lines),
                static_cast<unsigned long long>(log.hash),
                static_cast<long long>(log.head_bytes),
                static_cast<unsigned long long>(log.head_hash),
                static_cast<unsigned long long>(log.first_line_hash));
  return text;
}

// The line DescriptionText writes, every field once; anything else is refused.
LogSource ParseDescription(const std::string& text) {
  const UsageError wrong("merge: --described needs the line describe-log prints, not '" + text +
                         "'");
  LogSource log;
  int64_t* const numbers[] = {&log.bytes, &log.lines, &log.head_bytes};
  uint64_t* const hashes[] = {&log.hash, &log.head_hash, &log.first_line_hash};
  const char* const names[] = {"bytes", "lines", "head_bytes", "hash", "head_hash",
                               "first_line_hash"};
  bool seen[std::size(names)] = {};
  size_t at = 0;
  while (at <= text.size()) {
    const size_t space = std::min(text.find(' ', at), text.size());
    const std::string_view field = std::string_view(text).substr(at, space - at);
    at = space + 1;
    const size_t equals = field.find('=');
    if (equals == std::string_view::npos) throw wrong;
    const std::string_view name = field.substr(0, equals), value = field.substr(equals + 1);
    const auto known = std::find(std::begin(names), std::end(names), name);
    if (known == std::end(names) || seen[known - names]) throw wrong;
    const size_t k = static_cast<size_t>(known - names);
    seen[k] = true;
    if (k < 3) {
      const std::optional<int64_t> number = Offset(value);
      if (!number) throw wrong;
      *numbers[k] = *number;
    } else {
      const std::optional<uint64_t> hash = Hash(value);
      if (!hash) throw wrong;
      *hashes[k - 3] = *hash;
    }
  }
  if (std::find(std::begin(seen), std::end(seen), false) != std::end(seen) ||
      log.head_bytes != std::min(kLogHeadBytes, log.bytes))
    throw wrong;
  return log;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Writes the piece whole under a temporary name beside `target` and gives it that name; a
// file that another process has put there meanwhile is kept. `empty_mode`: the mode of the
// empty file that `target` is, if it is one (it is then replaced).
void WritePiece(const std::string& target, std::optional<mode_t> empty_mode, StatsTotals&& totals,
                const LogPiece& piece) {
  std::string temporary = target + ".piece-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0)
    throw std::runtime_error("database " + target + " cannot be created: " + std::strerror(errno));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, empty_mode.value_or(0644 & ~mask));
  ::close(fd);
  try {
    sqlitepp::session session(temporary);
    CreateStatsTables(session);
    SaveTotals(session, std::move(totals), {}, /*replace=*/true, nullptr);
    WriteLogPiece(session, piece);
    session.close();
    int result = empty_mode ? ::rename(temporary.c_str(), target.c_str())
                            : ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(),
                                          RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {  // a file system without it: link does not replace
      result = ::link(temporary.c_str(), target.c_str());
      if (result == 0) ::unlink(temporary.c_str());
    }
    if (result != 0)
      throw std::runtime_error("database " + target + " cannot be created: " +
                               (errno == EEXIST ? std::string("another process created it meanwhile")
                                                : std::strerror(errno)));
  } catch (...) {
    ::unlink(temporary.c_str());
    ::unlink((temporary + "-journal").c_str());
    throw;
  }
}

}  // namespace

std::optional<ByteRange> ByteRangeOption(const ParsedArguments& parsed,
                                         const std::vector<std::string>& files,
                                         const LogFormat* format) {
  const std::optional<std::string> text = parsed.Value("--byte-range");
  if (!text) return std::nullopt;
  const size_t dash = text->find('-');
  const std::optional<int64_t> begin =
      dash == std::string::npos ? std::nullopt : Offset(std::string_view(*text).substr(0, dash));
  const std::optional<int64_t> end =
      dash == std::string::npos ? std::nullopt : Offset(std::string_view(*text).substr(dash + 1));
  if (!begin || !end || *end < *begin)
    throw UsageError("analyse: --byte-range needs BEGIN-END, two byte offsets with BEGIN at "
                     "most END (such as 0-268435456), not '" + *text + "'");
  for (const char* option : {"--add", "--from", "--to", "--strict", "--skip-databases"}) {
    if (parsed.Has(option))
      throw UsageError(std::string("analyse: --byte-range cannot be used with ") + option +
                       ": a piece holds part of one log, read as a replacing run reads it");
  }
  if (!parsed.Has("--db"))
    throw UsageError("analyse: --byte-range needs --db PART, the new file the piece is written to");
  if (files.size() != 1)
    throw UsageError("analyse: --byte-range reads one LOGFILE, not " + std::to_string(files.size()));
  if (IsGzipName(files.front()))
    throw UsageError("analyse: --byte-range: " + files.front() +
                     " is compressed, and a compressed log can only be read from its start; "
                     "analyse it whole");
  if (format != nullptr && format->KeepsState())
    throw UsageError("analyse: --byte-range: the log format " + format->name() +
                     " reads each log from its start (what a line means depends on the lines "
                     "before it); analyse the log whole");
  return ByteRange{*begin, *end};
}

int AnalyseByteRange(const std::string& file, const ByteRange& range,
                     const ExtensionSet& extensions, std::shared_ptr<const LogFormat> format,
                     const std::string& database, CrawlerMode crawlers,
                     const DimensionOptions& dimensions) {
  const auto start = std::chrono::steady_clock::now();
  const std::string target = fs::absolute(database).string();
  struct stat info;
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && info.st_size != 0)
    throw std::runtime_error("database " + database +
                             " exists; a piece is written only to a new (or empty) file");
  StatsCollector collector;
  collector.pageExtensions = extensions;
  collector.crawlerMode = crawlers;
  collector.SetDimensions(MakeDimensions(dimensions));
  if (format && format->kind() != LogFormat::Kind::kCombined) collector.SetLogFormat(format);
  LineRange lines;
  try {
    lines = CollectFileRange(collector, file, range.begin, range.end);
  } catch (const std::exception& e) {
    throw std::runtime_error(file + ": " + e.what() + " (nothing was written)");
  }
  const long long records = collector.records(), unrecognised = collector.unrecognised_lines();
  const size_t days = collector.days.size(), pages = collector.pages.size(),
               phrases = collector.queries.size(), robot_hits = collector.robotHits.size();
  WritePiece(target, exists ? std::optional<mode_t>(info.st_mode & 07777) : std::nullopt,
             StatsTotals::FromCollector(collector),
             LogPiece{file, range.begin, range.end, lines.text_begin, lines.text_end});
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("analysed 1 piece: %lld lines, %zu days, %zu pages, %zu phrases, %zu robot hits "
              "in %.2f s; %lld lines not recognised\n",
              records, days, pages, phrases, robot_hits, seconds.count(), unrecognised);
  std::printf("piece of %s: the lines that begin in bytes [%lld, %lld), text [%lld, %lld)\n",
              PrintableText(file).c_str(), static_cast<long long>(range.begin),
              static_cast<long long>(range.end), static_cast<long long>(lines.text_begin),
              static_cast<long long>(lines.text_end));
  return kExitOk;
}

namespace {

// The pieces of `file` added up in the order given, which must be file order with no gap or
// overlap; with `from_start` the first must begin at the log's start. `span` is the piece they
// make together.
struct JoinedPieces {
  StatsTotals totals;
  LogPiece span;
};
JoinedPieces JoinInOrder(const std::string& file, const std::vector<std::string>& pieces,
                         bool from_start) {
  JoinedPieces joined;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const std::string& path = pieces[k];
    MergePart part;
    try {
      part = ReadMergePart(fs::absolute(path).string(), /*piece_wanted=*/true);
    } catch (const std::exception& e) {
      throw std::runtime_error(path + ": " + e.what());
    }
    const LogPiece& piece = *part.piece;
    if (k == 0 && !from_start) joined.span = piece;
    const int64_t next_range = joined.span.end, next_text = joined.span.text_end;
    const std::string range =
        "bytes [" + std::to_string(piece.begin) + ", " + std::to_string(piece.end) + ")";
    if (!SameFile(piece.name, file))
      throw std::runtime_error(path + ": a piece of " + piece.name + ", not of " + file +
                               "; nothing was merged");
    if (k != 0 || from_start) {
      if (piece.begin > next_range)
        throw std::runtime_error(path + ": " + range + ": no piece before it holds bytes [" +
                                 std::to_string(next_range) + ", " + std::to_string(piece.begin) +
                                 ") of " + file +
                                 " (pieces are given in file order); nothing was merged");
      if (piece.begin < next_range)
        throw std::runtime_error(path + ": " + range +
                                 " overlap the pieces before it, which end at " +
                                 std::to_string(next_range) +
                                 " (pieces are given in file order); nothing was merged");
      if (piece.text_begin != next_text)
        throw std::runtime_error(file + " changed while its pieces were read (the lines of " +
                                 path + " begin at byte " + std::to_string(piece.text_begin) +
                                 ", those before end at " + std::to_string(next_text) +
                                 "); nothing was merged");
    }
    try {
      joined.totals.Add(std::move(part.totals));
    } catch (const CountOverflowError& e) {
      throw std::runtime_error(path + ": " + e.what() +
                               " with those of the pieces before it; nothing was merged");
    }
    joined.span.name = piece.name;
    joined.span.end = piece.end;
    joined.span.text_end = piece.text_end;
  }
  return joined;
}

}  // namespace

MergePart JoinLogPieces(const std::string& file, const std::optional<std::string>& described,
                        const std::vector<std::string>& pieces, const std::string& log_format) {
  // Refused before any piece is read.
  const std::optional<LogSource> given =
      described ? std::optional<LogSource>(ParseDescription(*described)) : std::nullopt;
  JoinedPieces joined = JoinInOrder(file, pieces, /*from_start=*/true);
  LogSource log;
  if (given) {
    log = *given;
  } else {
    try {
      log = DescribeLogFile(file);
    } catch (const std::exception& e) {
      throw std::runtime_error(file + ": " + e.what());
    }
  }
  const int64_t end = joined.span.text_end;
  if (end != log.bytes)
    throw std::runtime_error(
        "the pieces hold bytes [0, " + std::to_string(end) + ") of " + file + ", which has " +
        std::to_string(log.bytes) + " bytes" +
        (end < log.bytes ? ": the pieces of its end are missing, or it grew since"
                         : ": it shrank since its pieces were read") +
        "; nothing was merged");
  log.name = joined.span.name;
  log.time = NowText();
  log.format = log_format;
  MergePart part;
  part.totals = std::move(joined.totals);
  part.logs.push_back(std::move(log));
  return part;
}

int JoinPiecesIntoPiece(const std::string& file, const std::vector<std::string>& pieces,
                        const std::string& database) {
  const std::string target = fs::absolute(database).string();
  struct stat info;
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && info.st_size != 0)
    throw std::runtime_error("database " + database +
                             " exists; a piece is written only to a new (or empty) file");
  JoinedPieces joined = JoinInOrder(file, pieces, /*from_start=*/false);
  WritePiece(target, exists ? std::optional<mode_t>(info.st_mode & 07777) : std::nullopt,
             std::move(joined.totals), joined.span);
  std::printf("joined %zu %s into one piece of %s: the lines that begin in bytes [%lld, %lld)\n",
              pieces.size(), pieces.size() == 1 ? "piece" : "pieces",
              PrintableText(file).c_str(), static_cast<long long>(joined.span.begin),
              static_cast<long long>(joined.span.end));
  return kExitOk;
}

int DescribeLogCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed = ParseArguments(args, {{"--help"}});
  if (parsed.Has("--help")) {
    std::fputs(kDescribeLogHelp, stdout);
    return kExitOk;
  }
  if (parsed.operands.size() != 1)
    throw UsageError("describe-log: give one LOGFILE (try --help)");
  const std::string& file = parsed.operands.front();
  std::error_code ignored;
  if (fs::is_directory(file, ignored)) throw std::runtime_error(file + ": a folder, not a log file");
  try {
    std::printf("%s\n", DescriptionText(DescribeLogFile(file)).c_str());
  } catch (const std::exception& e) {
    throw std::runtime_error(file + ": " + e.what());
  }
  return kExitOk;
}

}  // namespace hitsieve::cli
