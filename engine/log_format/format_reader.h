// Reads access-log lines in the format a LogFormat describes into RequestRecords: the same
// record the combined parser gives for the same request. One reader serves one sink; it keeps
// what a file's lines set for the lines after them (W3C's #Fields:, the format "auto" found).
#ifndef HITSIEVE_ENGINE_LOG_FORMAT_FORMAT_READER_H_
#define HITSIEVE_ENGINE_LOG_FORMAT_FORMAT_READER_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/log_format/day_key.h"
#include "engine/log_format/log_format.h"
#include "engine/record_parser.h"
#include "engine/request_record.h"

namespace hitsieve {

class FormatReader {
 public:
  enum class Line {
    kRecord,         // `record` holds the request
    kNotRecognised,  // the line does not fit the format
    kIgnored,        // a W3C directive (#Fields:, #Date:, comments): no request, no fault
  };

  explicit FormatReader(std::shared_ptr<const LogFormat> format);

  const std::shared_ptr<const LogFormat>& format() const { return format_; }

  // A new file begins: forget its predecessor's #Fields: and the format found in it.
  void StartFile();

  // Called with each block of a file's lines before they are parsed; "auto" recognises the
  // file's format from the first block's lines.
  void BeginBlock(std::string_view text);

  // Takes from a block of a file's lines what they set for the lines after them (the format
  // "auto" finds, W3C's #Fields: and #Date:) without reading them as requests.
  void Prime(std::string_view text);

  // The format the current file is read in: the configured one, or what "auto" found in it.
  const std::string& found() const;

  // Reads one line (without its line feed). The record's texts view `line` and this reader's
  // buffers, valid until the next call.
  Line Parse(std::string_view line, RequestRecord& record);

 private:
  struct Values;
  Line ParseTemplate(const LogFormat& format, std::string_view line, RequestRecord& record);
  Line ParseJson(const LogFormat& format, std::string_view line, RequestRecord& record);
  Line ParseCaddy(std::string_view line, RequestRecord& record);
  Line ParseW3c(std::string_view line, RequestRecord& record);
  void ReadW3cDirective(std::string_view line);

  std::shared_ptr<const LogFormat> format_;
  const LogFormat* active_;  // the format of the current file
  bool detected_ = false;    // "auto": active_ is the current file's
  RecordScratch combined_scratch_;
  std::string url_, agent_;
  std::string unescaped_[20];  // JSON values unescaped, by FieldUse
  DayKey day_{};
  // W3C: the current file's fields, and the date of its #Date: directive.
  std::vector<uint8_t> w3c_fields_;
  bool w3c_has_fields_ = false;
  DayKey w3c_date_{};
  bool w3c_has_date_ = false;
};

// The format among LogFormat::Candidates() that reads the most of the first lines of `text`
// (a file's start; at most `sample` non-blank lines are tried, a last line cut short is not),
// or null when none reads a single one. A #Fields: line among them means W3C. `fitting` and
// `tried` (may be null) receive the lines that format reads and the lines tried.
std::shared_ptr<const LogFormat> DetectLogFormat(std::string_view text, size_t sample = 20,
                                                 size_t* fitting = nullptr,
                                                 size_t* tried = nullptr);

// The first `bytes` of the log at `path` (decompressed when IsGzipName says so), for
// DetectLogFormat; empty when the file cannot be read.
std::string ReadLogStart(const std::string& path, size_t bytes = size_t{64} << 10);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LOG_FORMAT_FORMAT_READER_H_
