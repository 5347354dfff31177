#include "run/log_sources.h"

#include <fcntl.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include "engine/content_hash.h"
#include "engine/gzip_inflate.h"
#include "engine/line_blocks.h"
#include "engine/log_format/log_format.h"
#include "engine/log_reader.h"
#include "engine/stats_collector.h"
#include "run/log_overlap.h"

namespace hitsieve {

namespace {

constexpr size_t kBlock = 4 << 20;

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

std::optional<int> Digits(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<int> Compose(std::optional<int> year, int month, std::optional<int> day) {
  if (!year || !day || *year < 1 || month < 1 || month > 12) return std::nullopt;
  if (*day < 1 || *day > DaysIn(*year, month)) return std::nullopt;
  return *year * 10000 + month * 100 + *day;
}

std::string IsoText(const std::optional<int>& day) {
  if (!day) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", *day / 10000, *day / 100 % 100, *day % 100);
  return text;
}

// Hands records inside the period to the collector and counts the others.
class PeriodSink : public RecordSink {
 public:
  PeriodSink(StatsCollector& collector, const Period& period, PeriodCounts& left_out)
      : collector_(collector), period_(period), left_out_(left_out) {
    SetLogFormat(collector.log_format());
  }
  void Finish() override { collector_.Finish(); }

 protected:
  void OnRecord(const RequestRecord& record) override {
    if (period_.Limited()) {
      // Logs come in time order: most records fall on the day of the one before.
      if (record.date != last_key_) {
        last_key_.assign(record.date);
        last_date_ = DayKeyDate(record.date);
      }
      if (!last_date_) {
        ++left_out_.not_a_date;
        return;
      }
      if ((period_.first && *last_date_ < *period_.first) ||
          (period_.last && *last_date_ > *period_.last)) {
        ++left_out_.outside;
        return;
      }
    }
    collector_.OnRecord(record);
  }

 private:
  StatsCollector& collector_;
  const Period& period_;
  PeriodCounts& left_out_;
  std::string last_key_ = std::string(1, '\0');  // no day key is a lone NUL
  std::optional<int> last_date_;
};

// Counts 16 bytes at a time, each byte lane of a register adding up its line feeds for up to
// 255 steps before the lanes are summed: searching for each line feed in turn would pay a call
// per line.
int64_t CountLineFeeds(std::string_view text) {
  int64_t count = 0;
  const char* p = text.data();
  size_t n = text.size();
#if defined(__SSE2__)
  const __m128i line_feed = _mm_set1_epi8('\n');
  while (n >= 16) {
    const size_t steps = std::min<size_t>(n / 16, 255);
    __m128i lanes = _mm_setzero_si128();
    for (size_t k = 0; k < steps; ++k, p += 16) {
      // A match is all ones, -1: subtracting it adds one.
      lanes = _mm_sub_epi8(
          lanes, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), line_feed));
    }
    n -= steps * 16;
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());  // two 64-bit halves
    count += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  }
#endif
  for (; n != 0; ++p, --n) count += *p == '\n';
  return count;
}

// Feeds a log's text through the content hash, stopping at given offsets to compare with
// remembered logs, and keeps what describing the log needs.
class Scanner {
 public:
  // `checkpoints`: offset -> indexes of remembered logs of that length to compare there.
  // Without `count_lines` the line counts stay 0 (a caller that parses the text counts them).
  explicit Scanner(std::map<int64_t, std::vector<size_t>> checkpoints = {},
                   bool count_lines = true)
      : checkpoints_(std::move(checkpoints)), next_(checkpoints_.begin()),
        count_lines_(count_lines) {}

  // Called at each checkpoint with the indexes and whether the hash so far equals theirs is
  // left to the caller: `matches` receives the hash value and the last byte before it.
  template <typename Check>
  void Feed(std::string_view piece, Check check) {
    while (!piece.empty()) {
      size_t take = piece.size();
      if (next_ != checkpoints_.end()) {
        const int64_t room = next_->first - hash_.size();
        if (room >= 0 && static_cast<uint64_t>(room) < take) take = static_cast<size_t>(room);
      }
      Process(piece.substr(0, take));
      piece.remove_prefix(take);
      while (next_ != checkpoints_.end() && next_->first <= hash_.size()) {
        if (next_->first == hash_.size()) check(next_->second, hash_.Value(), last_);
        ++next_;
      }
    }
  }

  const ContentHash& hash() const { return hash_; }
  const ContentHash& through_last_line_feed() const { return at_line_feed_; }
  int64_t line_feeds() const { return line_feeds_; }
  int64_t line_feeds_through_last() const { return line_feeds_at_line_feed_; }
  const std::string& head() const { return head_; }
  bool ends_with_line_feed() const { return last_ == '\n'; }

 private:
  void Process(std::string_view chunk) {
    if (chunk.empty()) return;
    if (head_.size() < static_cast<size_t>(kLogHeadBytes)) {
      head_.append(chunk.substr(0, std::min(chunk.size(), kLogHeadBytes - head_.size())));
    }
    const size_t lf = chunk.rfind('\n');
    if (lf == std::string_view::npos) {
      hash_.Update(chunk);
    } else {
      const std::string_view lines = chunk.substr(0, lf + 1);
      hash_.Update(lines);
      if (count_lines_) line_feeds_ += CountLineFeeds(lines);
      at_line_feed_ = hash_;
      line_feeds_at_line_feed_ = line_feeds_;
      hash_.Update(chunk.substr(lf + 1));
    }
    last_ = chunk.back();
  }

  std::map<int64_t, std::vector<size_t>> checkpoints_;
  std::map<int64_t, std::vector<size_t>>::const_iterator next_;
  bool count_lines_;
  ContentHash hash_;
  ContentHash at_line_feed_;
  int64_t line_feeds_ = 0;
  int64_t line_feeds_at_line_feed_ = 0;
  std::string head_;
  char last_ = '\n';
};

LogSource Describe(const std::string& path, const ContentHash& hash, int64_t lines,
                   const std::string& head) {
  LogSource source;
  source.name = path;
  source.bytes = hash.size();
  source.hash = hash.Value();
  source.head_bytes = std::min<int64_t>(kLogHeadBytes, source.bytes);
  source.head_hash =
      ContentHash::Of(std::string_view(head).substr(0, static_cast<size_t>(source.head_bytes)));
  const std::string_view start = std::string_view(head).substr(0, static_cast<size_t>(source.head_bytes));
  const size_t line_feed = start.find('\n');
  source.first_line_hash =
      ContentHash::Of(line_feed == std::string_view::npos ? start : start.substr(0, line_feed + 1));
  source.lines = lines;
  source.time = NowText();
  return source;
}

// The narrower of two periods as analysed_logs keeps them (empty = open).
std::string Later(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return std::max(a, b);
}
std::string Earlier(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return std::min(a, b);
}

// The decompressed bytes [begin, end) of a log, for the line cutter: a plain log is read from
// `begin` on; a compressed one is decompressed from its start, the bytes before `begin` passed
// over. With `after_line_feed`, the bytes up to and including the first line feed from `begin`
// are passed over too. A log that ends before `end` has changed since it was measured.
class RangeSource {
 public:
  RangeSource(const std::string& path, int64_t begin, int64_t end, bool after_line_feed)
      : path_(path), text_(path), position_(text_.Skip(begin)), end_(end) {
    if (position_ != begin) throw Changed();
    if (!after_line_feed) return;
    std::string piece(kBlock, '\0');
    for (;;) {
      const size_t got = ReadText(piece.data(), piece.size());
      if (got == 0) return;  // no line feed before `end`: nothing to count
      const char* lf = static_cast<const char*>(std::memchr(piece.data(), '\n', got));
      if (lf != nullptr) {
        pending_.assign(lf + 1, static_cast<size_t>(piece.data() + got - (lf + 1)));
        return;
      }
    }
  }

  size_t Read(char* out, size_t count) {
    if (taken_ < pending_.size()) {
      const size_t n = std::min(count, pending_.size() - taken_);
      std::memcpy(out, pending_.data() + taken_, n);
      taken_ += n;
      return n;
    }
    return ReadText(out, count);
  }
  // Bytes of the text consumed so far, counted from its start.
  int64_t Position() const {
    return position_ - static_cast<int64_t>(pending_.size() - taken_);
  }

 private:
  std::runtime_error Changed() const {
    return std::runtime_error(path_ + ": the log changed while it was read");
  }
  size_t ReadText(char* out, size_t count) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), end_ - position_));
    if (want == 0) return 0;
    const size_t got = text_.Read(out, want);
    if (got == 0) throw Changed();
    position_ += static_cast<int64_t>(got);
    return got;
  }

  const std::string& path_;
  LogText text_;
  int64_t position_, end_;
  std::string pending_;  // read while looking for the first line feed, not yet handed on
  size_t taken_ = 0;
};

// Parses the text of `path` from `begin` to `end` into `sink` in blocks of whole lines, as
// the replacing run's reader does: a line too long to parse is passed over and counted. With
// `after_line_feed`, the bytes up to and including the first line feed are passed over.
// Returns the bytes and lines parsed (lines too long included).
std::pair<int64_t, int64_t> ParseRange(RecordSink& sink, const std::string& path, int64_t begin,
                                       int64_t end, bool after_line_feed) {
  RangeSource source(path, begin, end, after_line_feed);
  const int64_t first = source.Position();
  LineCutter<RangeSource> cutter(source, kBlock);
  LineBlock block;
  int64_t lines = 0;
  bool ends_in_line_feed = true;
  while (cutter.Fill(block)) {
    const std::string_view text = block.Text();
    sink.ParseLines(text);
    lines += CountLineFeeds(text);
    ends_in_line_feed = text.back() == '\n';
  }
  if (!ends_in_line_feed) ++lines;
  sink.CountLongLines(cutter.long_lines());
  return {source.Position() - first, lines + cutter.long_lines()};
}

// Shows `sink` the text of `path` before `end`, for a format whose lines depend on the lines
// before them (W3C's #Fields:): new text read from the middle of a log is read as it would be
// from its start.
void PrimeFromStart(RecordSink& sink, const std::string& path, int64_t end) {
  RangeSource source(path, 0, end, false);
  LineCutter<RangeSource> cutter(source, kBlock);
  LineBlock block;
  while (cutter.Fill(block)) sink.PrimeFormat(block.Text());
}

// New text of at least this many bytes in a plain log is parsed on two cores.
constexpr int64_t kTwoCoreBytes = 8 << 20;

// Counts the text of `path` from `begin` to `end` into `collector` through the period, as
// ParseRange does, and finishes the collector. Plain text of kTwoCoreBytes or more is cut at
// a line start near its middle and the two halves parsed at once, the second into a
// collector of its own that is then added as if its records had come after the first's.
std::pair<int64_t, int64_t> CountRange(StatsCollector& collector, const Period& period,
                                       PeriodCounts& left_out, const std::string& path,
                                       bool compressed, int64_t begin, int64_t end,
                                       bool after_line_feed) {
  int64_t split = end;
  if (!compressed && end - begin >= kTwoCoreBytes && std::thread::hardware_concurrency() > 1 &&
      !collector.FormatKeepsState()) {
    split = std::min(end, PlainFile(path).NextLineStart(begin + (end - begin) / 2));
  }
  auto count = [&](StatsCollector& into, PeriodCounts& left, int64_t from, int64_t to,
                   bool skip_first) {
    PeriodSink sink(into, period, left);
    if (from > 0 && sink.FormatKeepsState()) PrimeFromStart(sink, path, from);
    const std::pair<int64_t, int64_t> counted = ParseRange(sink, path, from, to, skip_first);
    sink.Finish();
    into.AddLineCounts(sink);
    return counted;
  };
  if (split >= end) return count(collector, left_out, begin, end, after_line_feed);

  StatsCollector later = collector.EmptyCopy();
  PeriodCounts later_left;
  std::pair<int64_t, int64_t> later_counted;
  std::exception_ptr failure;
  std::thread other([&] {
    try {
      later_counted = count(later, later_left, split, end, false);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  std::pair<int64_t, int64_t> counted;
  try {
    counted = count(collector, left_out, begin, split, after_line_feed);
  } catch (...) {
    other.join();
    throw;
  }
  other.join();
  if (failure) std::rethrow_exception(failure);
  collector.Absorb(std::move(later));
  left_out.outside += later_left.outside;
  left_out.not_a_date += later_left.not_a_date;
  return {counted.first + later_counted.first, counted.second + later_counted.second};
}

}  // namespace

// ---- LogText ----

struct LogText::Impl {
  int fd = -1;
  std::unique_ptr<GzipInflater> gzip;
};

LogText::LogText(const std::string& path) : impl_(new Impl) {
  try {
    if (IsGzipName(path)) {
      impl_->gzip = std::make_unique<GzipInflater>(path);
    } else {
      // Without blocking, and only a regular file: a pipe put in a log's place must not hang.
      int64_t size = 0;
      impl_->fd = OpenRegularFile(path, kFileOpenError, size);
    }
  } catch (...) {
    delete impl_;
    throw;
  }
}

LogText::~LogText() {
  if (impl_->fd >= 0) ::close(impl_->fd);
  delete impl_;
}

bool LogText::compressed() const { return impl_->gzip != nullptr; }

int64_t LogText::Skip(int64_t count) {
  if (count <= 0) return 0;
  if (!impl_->gzip) {
    const off_t at = ::lseek(impl_->fd, static_cast<off_t>(count), SEEK_CUR);
    if (at < 0) throw std::runtime_error(kFileReadError);
    return count;
  }
  std::string scratch(static_cast<size_t>(std::min<int64_t>(count, kBlock)), '\0');
  int64_t skipped = 0;
  while (skipped < count) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(count - skipped, kBlock));
    const size_t got = Read(scratch.data(), want);
    if (got == 0) break;
    skipped += static_cast<int64_t>(got);
  }
  return skipped;
}

size_t LogText::Read(char* out, size_t count) {
  if (impl_->gzip) return impl_->gzip->Read(out, count);
  for (;;) {
    const ssize_t got = ::read(impl_->fd, out, count);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw std::runtime_error(kFileReadError);
  }
}

// ---- Days and periods ----

std::optional<int> ParseIsoDay(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const std::optional<int> month = Digits(text.substr(5, 2));
  if (!month) return std::nullopt;
  return Compose(Digits(text.substr(0, 4)), *month, Digits(text.substr(8, 2)));
}

std::optional<int> DayKeyDate(std::string_view key) {
  if (key.size() != 11 || key[2] != '/' || key[6] != '/') return std::nullopt;
  const std::string_view month = key.substr(3, 3);
  for (int m = 0; m < 12; ++m) {
    if (month == kMonths[m]) return Compose(Digits(key.substr(7, 4)), m + 1, Digits(key.substr(0, 2)));
  }
  return std::nullopt;
}

std::string Period::FirstText() const { return IsoText(first); }
std::string Period::LastText() const { return IsoText(last); }

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

// ---- Reading ----

struct LogDescriber::Impl {
  Scanner scanner;
};

LogDescriber::LogDescriber() : impl_(std::make_unique<Impl>()) {}
LogDescriber::~LogDescriber() = default;
LogDescriber::LogDescriber(LogDescriber&&) noexcept = default;
LogDescriber& LogDescriber::operator=(LogDescriber&&) noexcept = default;

void LogDescriber::Feed(std::string_view text) { impl_->scanner.Feed(text, [](auto&&...) {}); }

LogSource LogDescriber::Describe(const std::string& path) const {
  const Scanner& scanner = impl_->scanner;
  const int64_t lines = scanner.line_feeds() + (scanner.ends_with_line_feed() ? 0 : 1);
  return hitsieve::Describe(path, scanner.hash(), lines, scanner.head());
}

LogSource DescribeLogFile(const std::string& path) {
  LogText text(path);
  LogDescriber describer;
  std::string buffer(kBlock, '\0');
  for (;;) {
    const size_t got = text.Read(buffer.data(), buffer.size());
    if (got == 0) break;
    describer.Feed(std::string_view(buffer.data(), got));
  }
  return describer.Describe(path);
}

LogOutcome ReadNewText(StatsCollector& collector, const std::string& path, const Period& period,
                       std::vector<LogSource>& sources, PeriodCounts& left_out,
                       bool hold_back_unfinished, LogStarts* starts,
                       bool follow_remembered_format) {
  LogOutcome outcome;
  bool compressed = false;
  // First pass: how much of the text is known already.
  std::optional<size_t> known;  // the remembered log with the longest matching start
  char before_end = '\n';       // the byte before the end of the known part
  int64_t end = 0;              // where the text to count ends
  int64_t total = 0;
  ContentHash through_end;
  std::string head;
  {
    LogText text(path);
    compressed = text.compressed();
    std::string buffer(kBlock, '\0');
    // The head decides which remembered logs can be this one.
    size_t filled = 0;
    while (filled < static_cast<size_t>(kLogHeadBytes)) {
      const size_t got = text.Read(buffer.data() + filled, kLogHeadBytes - filled);
      if (got == 0) break;
      filled += got;
    }
    const std::string_view first(buffer.data(), filled);
    std::map<int64_t, uint64_t> head_hashes;
    std::map<int64_t, std::vector<size_t>> checkpoints;
    for (size_t i = 0; i < sources.size(); ++i) {
      const LogSource& source = sources[i];
      if (source.bytes <= 0 || source.head_bytes > static_cast<int64_t>(filled)) continue;
      auto [it, fresh] = head_hashes.try_emplace(source.head_bytes, 0);
      if (fresh) it->second = ContentHash::Of(first.substr(0, static_cast<size_t>(source.head_bytes)));
      if (it->second == source.head_hash) checkpoints[source.bytes].push_back(i);
    }
    // Lines are counted by the parsing below; re-offered text is only hashed.
    Scanner scanner(std::move(checkpoints), /*count_lines=*/false);
    auto check = [&](const std::vector<size_t>& candidates, uint64_t hash, char last) {
      for (size_t i : candidates) {
        if (sources[i].hash != hash) continue;
        if (!known || sources[i].bytes > sources[*known].bytes) {
          known = i;
          before_end = last;
        }
      }
    };
    scanner.Feed(first, check);
    for (;;) {
      const size_t got = text.Read(buffer.data(), buffer.size());
      if (got == 0) break;
      scanner.Feed(std::string_view(buffer.data(), got), check);
    }
    total = scanner.hash().size();
    head = scanner.head();
    // A compressed log is complete; a plain one may still be being written, so its final line
    // counts only once it has its line feed.
    if (compressed || !hold_back_unfinished || scanner.ends_with_line_feed()) {
      end = total;
      through_end = scanner.hash();
    } else {
      through_end = scanner.through_last_line_feed();
      end = through_end.size();
      outcome.notes.push_back("unfinished last line left for a later run: " + path);
    }
  }

  int64_t begin = known ? sources[*known].bytes : 0;
  // Text that continues no remembered log may still lie inside one: an old copy of a log
  // counted further since, or a log that parts from a counted one after sharing its head.
  std::optional<Overlap> overlap;
  if (starts != nullptr && begin < end) {
    overlap = FindOverlap(path, end, head, sources, begin, *starts);
    if (overlap) begin = overlap->covered;
  }
  // The remembered log whose counted text this one starts with.
  const std::optional<size_t> counted_as = overlap ? std::optional<size_t>(overlap->source) : known;
  if (counted_as) {
    const LogSource& old = sources[*counted_as];
    if ((!old.first_day.empty() && old.first_day > period.FirstText()) ||
        (!old.last_day.empty() && (period.LastText().empty() || old.last_day < period.LastText()))) {
      outcome.notes.push_back(
          "cannot add days outside " + (old.first_day.empty() ? "..." : old.first_day) + " to " +
          (old.last_day.empty() ? "..." : old.last_day) + " from the first " +
          std::to_string(std::min(old.bytes, begin)) + " bytes of " + path +
          ": they were counted for that period only");
    }
  }
  // The format of the log counted before as this one (by its text, else by its name), in which
  // its new lines are read when the run was given no format of its own.
  std::string format_note;
  if (follow_remembered_format) {
    const LogSource* remembered = counted_as ? &sources[*counted_as] : nullptr;
    for (auto it = sources.rbegin(); remembered == nullptr && it != sources.rend(); ++it)
      if (it->name == path) remembered = &*it;
    if (remembered != nullptr && !remembered->format.empty()) {
      try {
        collector.SetLogFormat(LogFormat::Compile(remembered->format));
        format_note = "read in the format it was counted in before (" + remembered->format +
                      "): " + path;
      } catch (const LogFormatError& e) {
        format_note = "the format " + path + " was counted in before cannot be understood (" +
                      DescribeLogFormatError(e) + "); read as combined";
      }
    }
  }
  // What this text was counted for: the periods of the remembered logs it starts with.
  std::string first_day, last_day;
  for (const std::optional<size_t>& i : {known, counted_as}) {
    if (!i) continue;
    first_day = Later(first_day, sources[*i].first_day);
    last_day = Earlier(last_day, sources[*i].last_day);
  }
  // Remembers this text under its own name, `lines` lines in it: in place of the remembered
  // log it continues, if any, else beside the others.
  auto remember = [&](int64_t lines) {
    LogSource updated = Describe(path, through_end, lines, head);
    updated.first_day = first_day;
    updated.last_day = last_day;
    if (const auto format = collector.log_format()) updated.format = format->text();
    if (known) {
      sources[*known] = std::move(updated);
    } else {
      sources.push_back(std::move(updated));
    }
  };
  if (begin >= end) {
    outcome.skipped = counted_as.has_value();  // else not one whole line yet
    if (overlap) {
      // A copy of text counted as part of a longer log: remembered on its own, so that it is
      // still known when the longer log's text has gone.
      remember(overlap->lines);
      outcome.remembered = true;
    } else if (known) {
      sources[*known].name = path;
    }
    return outcome;
  }

  // Second pass: count the new text. A known part that ended inside a line (a replacing run
  // counted the line as it was then) is followed by the rest of that line: passed over. Text
  // that parts from a remembered log is counted from the start of the line where it parts.
  if (!format_note.empty()) outcome.notes.push_back(format_note);
  const bool rest_of_line = !overlap && begin > 0 && before_end != '\n';
  if (rest_of_line)
    outcome.notes.push_back("rest of a line counted unfinished by an earlier run passed over: " + path);
  if (overlap) {
    outcome.notes.push_back("the first " + std::to_string(begin) + " bytes of " + path +
                            " were counted before as part of " + sources[overlap->source].name);
  }
  std::tie(outcome.new_bytes, outcome.new_lines) =
      CountRange(collector, period, left_out, path, compressed, begin, end, rest_of_line);

  // The lines of the known part (an unfinished last one among them) and the new ones.
  first_day = Later(first_day, period.FirstText());
  last_day = Earlier(last_day, period.LastText());
  remember((overlap ? overlap->lines : known ? sources[*known].lines : 0) + outcome.new_lines);
  return outcome;
}

}  // namespace hitsieve
