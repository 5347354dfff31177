// A server's access-log format, compiled once from the text a user gives: a preset name, an
// Apache LogFormat string (% directives), an nginx log_format string ($variables), a JSON
// template (nginx escape=json, starting with '{'), or "auto". Lines are then read by
// FormatReader (format_reader.h) without any regular expression.
#ifndef HITSIEVE_ENGINE_LOG_FORMAT_LOG_FORMAT_H_
#define HITSIEVE_ENGINE_LOG_FORMAT_LOG_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hitsieve {

// What the statistics take from a field; every use not named here is kSkip.
enum class FieldUse : uint8_t {
  kSkip,
  kIp,
  kLocalTime,    // 10/Oct/2000:13:55:36 -0700, with or without its brackets
  kIsoTime,      // 2000-10-10T13:55:36-07:00
  kEpochTime,    // seconds since 1970, a fraction allowed
  kEpochMillis,  // milliseconds since 1970
  kEpochMicros,  // microseconds since 1970
  kPatternTime,  // written by the strftime pattern of the field
  kRequestLine,  // GET /path?query HTTP/1.1
  kPath,         // /path
  kQuery,        // ?query, or empty (Apache %q)
  kArgs,         // query without '?', or "-" (nginx $args)
  kUri,          // /path?query
  kStatus,
  kBytes,        // digits, or "-" for none
  kReferer,
  kAgent,
};

struct FormatField {
  FieldUse use = FieldUse::kSkip;
  std::string pattern;  // kPatternTime only
};

// A piece of a text template: literal bytes, or one field.
struct FormatElement {
  bool literal = false;
  std::string text;     // the literal bytes
  FormatField field;
  size_t position = 0;  // 0-based byte offset of the piece in the format text
};

// A JSON template's key and what its value is.
struct JsonKey {
  std::string key;
  FormatField field;
};

// A format text that cannot be understood, with the 0-based byte offset of the problem.
class LogFormatError : public std::runtime_error {
 public:
  LogFormatError(size_t position, const std::string& problem)
      : std::runtime_error(problem), position_(position) {}
  size_t position() const { return position_; }

 private:
  size_t position_;
};

// "at character N: problem" (N counted from 1): how every refusal of a format text reads,
// on the command line and in the desktop program alike.
std::string DescribeLogFormatError(const LogFormatError& error);

class LogFormat {
 public:
  enum class Kind {
    kCombined,  // the loose combined parser every run has always used
    kTemplate,  // fields between literal texts
    kJson,      // one JSON object a line, values by key
    kW3c,       // W3C extended: fields named by each file's #Fields: line
    kCaddy,     // Caddy's JSON access log
    kAuto,      // each file's format recognised from its first lines
  };

  // Compiles `text`. Throws LogFormatError for an unknown preset name, a directive or
  // variable that is cut off or unknown, two fields with nothing between them, and a format
  // with no time or no request/URL field.
  static std::shared_ptr<const LogFormat> Compile(std::string_view text);

  // The preset of that name ("combined", "common", "vhost_combined", "w3c", "caddy"), or null.
  static std::shared_ptr<const LogFormat> Preset(std::string_view name);
  // The presets tried on a file's first lines for "auto", in order of preference. The first,
  // "combined", is compiled as a strict template here, for recognising lines only; runs read
  // combined logs with the loose parser.
  static const std::vector<std::shared_ptr<const LogFormat>>& Candidates();

  Kind kind() const { return kind_; }
  // The preset's name, or "custom".
  const std::string& name() const { return name_; }
  // The text it was compiled from (a preset's name): Compile(text()) gives the same format.
  const std::string& text() const { return text_; }
  // True when reading a line depends on the lines before it in its file (W3C's #Fields:, the
  // format auto finds), so that a file must be read from its start, in order, on one thread.
  bool KeepsState() const { return kind_ == Kind::kW3c || kind_ == Kind::kAuto; }

  const std::vector<FormatElement>& elements() const { return elements_; }  // kTemplate
  const std::vector<JsonKey>& keys() const { return keys_; }                // kJson

 private:
  Kind kind_ = Kind::kCombined;
  std::string name_;
  std::string text_;
  std::vector<FormatElement> elements_;
  std::vector<JsonKey> keys_;

  static LogFormat CompileText(std::string_view text);
  static LogFormat CompileJson(std::string_view text);
  friend class FormatCompiler;
};

// Reads a template's variable or directive at `at` of `text` (which holds '%' or '$' there)
// into `field`; returns the offset after it. Throws LogFormatError. Exposed for the tests.
size_t ReadApacheDirective(std::string_view text, size_t at, FormatField& field);
size_t ReadNginxVariable(std::string_view text, size_t at, FormatField& field);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LOG_FORMAT_LOG_FORMAT_H_
