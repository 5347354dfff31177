// RecordSink: the receiver of parsed records, fed by the readers; error texts of reading a log.
#ifndef HITSIEVE_ENGINE_RECORD_SINK_H_
#define HITSIEVE_ENGINE_RECORD_SINK_H_

#include <memory>
#include <string>
#include <string_view>

#include "engine/request_record.h"

namespace hitsieve {

class FormatReader;
class LogFormat;

// Error texts of the log file source; callers and tests compare against these.
inline constexpr const char kFileOpenError[] = "file open error";
inline constexpr const char kFileReadError[] = "file read error";
inline constexpr const char kGzipOpenError[] = "couldn`t open file";
inline constexpr const char kGzipReadError[] = "error reading gzip file";

// True when `path` ends in ".gz" in any letter case. The contents are never sniffed.
bool IsGzipName(std::string_view path);

// Fill `text` (empty on entry) with the whole file. Throw std::runtime_error(kFileOpenError)
// when the file cannot be opened.
void ReadPlainFile(const std::string& path, std::string& text);

// Fill `text` (empty on entry) with the whole decompressed stream, every byte of it. Throw
// std::runtime_error(kGzipOpenError) or (kGzipReadError); on a read error `text` is discarded.
void ReadGzipFile(const std::string& path, std::string& text);

// Reads access-log files, cuts them into lines and fields and hands every usable line to
// OnRecord. Lives on the analysis worker thread.
class RecordSink {
 public:
  RecordSink();
  RecordSink(RecordSink&&) noexcept;
  RecordSink& operator=(RecordSink&&) noexcept;
  virtual ~RecordSink();

  // The format lines are read in; null or "combined" (the default) is the loose combined
  // parser. Set before the first line.
  void SetLogFormat(std::shared_ptr<const LogFormat> format);
  std::shared_ptr<const LogFormat> log_format() const;
  // True when the format's reading of a line depends on the lines before it in its file, so
  // that each file must be read from its start, in order, by one sink.
  bool FormatKeepsState() const;
  // A new file begins: what the last one's lines set for the lines after them is forgotten.
  void StartFile();
  // For reading a file from a point after its start: `earlier`, a block of the text before
  // that point (blocks in order, from the start), sets what those lines would have set (W3C's
  // #Fields:, the format "auto" finds) and counts nothing.
  void PrimeFormat(std::string_view earlier);

  // Read the file (gzip when IsGzipName says so) in blocks of whole lines and parse them, on
  // the calling thread. Reader errors pass through; the lines before the error have then been
  // handed over already.
  void ProcessFile(const std::string& path);

  // Call OnRecord once per line whose first field is not empty, in text order, then Finish.
  // Never throws on content; any line, however long or strange, yields a record or is skipped.
  void ParseContent(std::string_view text);

  // As ParseContent, for one of several pieces of a text that each end at a line feed (or at
  // the text's end); Finish is left to the caller, after the last piece.
  void ParseLines(std::string_view text);

  // Called when a whole text or file has been handed over: a sink that keeps part of its
  // results aside while records arrive completes them here.
  virtual void Finish() {}

  // Lines that were not log lines, counted while the loose parser goes on: non-blank lines
  // that gave no record (too long ones included), and records whose day is not a date of the
  // form dd/Mon/yyyy (those still count in the statistics, as the parser has always done).
  int64_t lines_without_record() const { return lines_without_record_; }
  int64_t lines_without_date() const { return lines_without_date_; }
  int64_t long_lines() const { return long_lines_; }
  int64_t unrecognised_lines() const { return lines_without_record_ + lines_without_date_; }
  // For the file readers: `count` lines were dropped for their length.
  void CountLongLines(int64_t count) {
    long_lines_ += count;
    lines_without_record_ += count;
  }
  // For a sink that merges another's results into its own, or that receives the records of a
  // sink that stood in front of it.
  void AddLineCounts(const RecordSink& other) {
    lines_without_record_ += other.lines_without_record_;
    lines_without_date_ += other.lines_without_date_;
    long_lines_ += other.long_lines_;
  }

 protected:
  // REQUIRES: called from ParseContent only; `record` dies when this returns, so copy what you keep.
  virtual void OnRecord(const RequestRecord& record) = 0;

 private:
  void ParseFormattedLines(std::string_view text);

  std::unique_ptr<FormatReader> format_;  // null: the loose combined parser
  int64_t lines_without_record_ = 0;
  int64_t lines_without_date_ = 0;
  int64_t long_lines_ = 0;
};

// True for a day key of the form dd/Mon/yyyy: digits, an English month abbreviation, digits.
bool IsLogDate(std::string_view date);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_RECORD_SINK_H_
