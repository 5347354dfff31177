#ifndef HITSIEVE_RUN_LOG_SOURCES_H_
#define HITSIEVE_RUN_LOG_SOURCES_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_sink.h"
#include "store/stats_merge.h"

namespace hitsieve {

class LogStarts;
class StatsCollector;

// A period of calendar days, both ends included; an absent end is open.
struct Period {
  std::optional<int> first;  // YYYYMMDD
  std::optional<int> last;
  bool Limited() const { return first.has_value() || last.has_value(); }
  // "YYYY-MM-DD" of each end, empty when open (as analysed_logs keeps them).
  std::string FirstText() const;
  std::string LastText() const;
};

// YYYYMMDD of a real calendar date written "YYYY-MM-DD"; nullopt for anything else.
std::optional<int> ParseIsoDay(std::string_view text);
// YYYYMMDD of a day key "dd/Mon/yyyy" (English month abbreviation); nullopt when it is no date.
std::optional<int> DayKeyDate(std::string_view day_key);

// Records left out by a period.
struct PeriodCounts {
  int64_t outside = 0;    // a date outside the period
  int64_t not_a_date = 0;
};

// What reading one offered log came to.
struct LogOutcome {
  bool skipped = false;     // nothing new in it
  bool remembered = false;  // though nothing new, remembered as a log of its own
  int64_t new_bytes = 0;    // decompressed bytes parsed
  int64_t new_lines = 0;
  std::vector<std::string> notes;  // one line each, for the summary
};

// The decompressed text of a log, read from its start in pieces (gzip when the name says so).
class LogText {
 public:
  explicit LogText(const std::string& path);
  ~LogText();
  LogText(const LogText&) = delete;
  LogText& operator=(const LogText&) = delete;
  // Up to `count` bytes; 0 only at the end. Reader errors pass through.
  size_t Read(char* out, size_t count);
  // Passes over the next `count` bytes (a plain log without reading them); returns how many
  // there were, fewer only where a compressed text ends. A plain log's end is found by the
  // next Read.
  int64_t Skip(int64_t count);
  bool compressed() const;

 private:
  struct Impl;
  Impl* impl_;
};

// Describes a log as a remembered log (no parsing) from its text handed over piece by piece,
// in order, by a reader that has the text anyway.
class LogDescriber {
 public:
  LogDescriber();
  ~LogDescriber();
  LogDescriber(LogDescriber&&) noexcept;
  LogDescriber& operator=(LogDescriber&&) noexcept;
  void Feed(std::string_view text);
  // The remembered log `path` whose text was everything fed.
  LogSource Describe(const std::string& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The remembered log `path` as a replacing run describes it, from its whole text
// (decompressed, for a gzip name), read once without parsing. Reader errors pass through.
LogSource DescribeLogFile(const std::string& path);

// Reads what is new in `path` into `collector` (records outside `period` are counted in
// `left_out` instead), judged against the remembered `sources`, which it updates: content
// already read is skipped, a log that grew is read from where the last read ended, a rotated
// or compressed copy is recognised by its text, and a log whose first bytes are unknown is
// read from its start. With `starts`, text that continues no remembered log is also looked
// for inside them (FindOverlap): a copy of counted text adds nothing, and a log that parts
// from a counted one adds the lines from where it parts. A final line without a line feed in
// a plain log is left for a later run (it may still be being written) when
// `hold_back_unfinished`. The log is remembered with the collector's format; with
// `follow_remembered_format`, a log counted before in a format of its own (found by its text,
// else by its name) is read, and remembered, in that format: the collector is left with it.
// Calls collector.Finish().
LogOutcome ReadNewText(StatsCollector& collector, const std::string& path, const Period& period,
                       std::vector<LogSource>& sources, PeriodCounts& left_out,
                       bool hold_back_unfinished = true, LogStarts* starts = nullptr,
                       bool follow_remembered_format = false);

// The current time, UTC, as analysed_logs keeps it.
std::string NowText();

}  // namespace hitsieve

#endif  // HITSIEVE_RUN_LOG_SOURCES_H_
