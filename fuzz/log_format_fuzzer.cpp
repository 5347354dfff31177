// Feeds arbitrary format texts and lines to the format compiler and the format-driven line
// reader. Any text either compiles or is refused with a LogFormatError; any line of any format
// gives a record or is not recognised, never a crash. For text templates (Apache and nginx
// strings), every line is also matched by a slow reference, a Boost regular expression built
// from the compiled pieces, and the two must agree on whether the line fits and on every field
// of the record.
//
// Input: FORMAT, a NUL byte, then the lines. Without a NUL the first byte picks a preset or a
// sample format and the rest is the lines.
//
// Build and run (from the repository root):
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
//     -DHITSIEVE_BUILD_FUZZ=ON -DHITSIEVE_BUILD_UI=OFF -DHITSIEVE_BUILD_BENCH=OFF
//   cmake --build build-fuzz --target log_format_fuzzer
//   mkdir -p build-fuzz/format-corpus && build-fuzz/fuzz/log_format_fuzzer \
//     build-fuzz/format-corpus -max_len=2048 -max_total_time=300
#include <boost/regex.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "engine/log_format/day_key.h"
#include "engine/log_format/format_reader.h"
#include "engine/log_format/log_format.h"
#include "engine/record_parser.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"

namespace {

using namespace hitsieve;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
  }
}

const char* const kSamples[] = {
    "combined", "common", "vhost_combined", "w3c", "caddy", "auto",
    R"($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_referer" "$http_user_agent" $request_time)",
    R"(%h %l %u %t "%r" %>s %b "%{Referer}i" "%{User-Agent}i")",
    R"(%a %{sec}t %m %U%q %s %B "%{User-agent}i")",
    R"({"t":"$time_iso8601","a":"$remote_addr","r":"$request","s":$status,"u":"$http_user_agent"})",
    R"($msec|$remote_addr|$request_uri|$status|$http_referer)",
};

std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
    out += hex;
  }
  return out;
}

// The expression a template's lines must match whole, one group per field.
std::string Expression(const LogFormat& format) {
  const auto& elements = format.elements();
  std::string expression = "^";
  for (size_t k = 0; k < elements.size(); ++k) {
    const FormatElement& element = elements[k];
    if (element.literal) {
      expression += Escaped(element.text);
      continue;
    }
    if (k + 1 == elements.size()) {
      expression += "([\\s\\S]*)";
      continue;
    }
    const std::string& next = elements[k + 1].text;
    const bool quoted = k > 0 && elements[k - 1].text.back() == '"' && next.front() == '"';
    const std::string up_to_next =
        quoted ? "(?>(?:[^\"\\\\]|\\\\[\\s\\S]|\"(?!" + Escaped(next.substr(1)) + "))*)"
               : "(?>(?:(?!" + Escaped(next) + ")[\\s\\S])*)";
    if (element.field.use == FieldUse::kLocalTime) {
      expression += "((?(?=\\[)\\[[^\\]]*\\]|" + up_to_next + "))";
    } else {
      expression += "(" + up_to_next + ")";
    }
  }
  return expression + "$";
}

bool Digits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

struct Expected {
  std::string ip = "-", date, url, referer = "-", agent = "-";
  int32_t status = 0;
  int64_t bytes = 0;
};

// The record the reference reads from the fields the expression found; false when they do not
// fit their uses.
bool Reference(const LogFormat& format, const boost::smatch& match, Expected& out) {
  std::string request, path, query, args, uri, status, bytes;
  bool has_request = false, has_path = false, has_query = false, has_args = false,
       has_uri = false, day = false;
  size_t group = 1;
  for (const FormatElement& element : format.elements()) {
    if (element.literal) continue;
    const std::string value = match[static_cast<int>(group++)].str();
    DayKey key;
    switch (element.field.use) {
      case FieldUse::kSkip: break;
      case FieldUse::kIp:
        if (value.empty()) return false;
        out.ip = value;
        break;
      case FieldUse::kLocalTime: if (!(day = DayFromLocalTime(value, key))) return false; break;
      case FieldUse::kIsoTime: if (!(day = DayFromIsoTime(value, key))) return false; break;
      case FieldUse::kEpochTime: if (!(day = DayFromEpoch(value, 1, key))) return false; break;
      case FieldUse::kEpochMillis: if (!(day = DayFromEpoch(value, 1000, key))) return false; break;
      case FieldUse::kEpochMicros: if (!(day = DayFromEpoch(value, 1000000, key))) return false; break;
      case FieldUse::kPatternTime: if (!(day = DayFromPattern(element.field.pattern, value, key))) return false; break;
      case FieldUse::kRequestLine: request = value; has_request = true; break;
      case FieldUse::kPath: path = value; has_path = true; break;
      case FieldUse::kQuery: query = value; has_query = true; break;
      case FieldUse::kArgs: args = value; has_args = true; break;
      case FieldUse::kUri: uri = value; has_uri = true; break;
      case FieldUse::kStatus: if (!Digits(value)) return false; status = value; break;
      case FieldUse::kBytes: if (value != "-" && !Digits(value)) return false; bytes = value; break;
      case FieldUse::kReferer: if (!value.empty()) out.referer = value; break;
      case FieldUse::kAgent: if (!value.empty()) out.agent = value; break;
    }
    if (day) out.date = std::string(key.view());
  }
  if (out.date.empty()) return false;
  if (has_request) {
    out.url = std::string(RequestLineUrl(request));
  } else if (has_uri) {
    out.url = uri;
  } else if (has_path) {
    out.url = path;
    if (has_query && !query.empty()) out.url += query;
    else if (has_args && !args.empty() && args != "-") out.url += "?" + args;
  } else {
    return false;
  }
  out.status = ParseStatusField(status);
  out.bytes = ParseBytesField(bytes);
  return true;
}

void CompareWithReference(const std::shared_ptr<const LogFormat>& format, std::string_view text) {
  boost::regex expression;
  try {
    expression = boost::regex(Expression(*format));
  } catch (const std::exception&) {
    return;  // an expression too large for Boost: nothing to compare against
  }
  FormatReader reader(format);
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;
    RequestRecord record;
    const bool fits = reader.Parse(line, record) == FormatReader::Line::kRecord;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    const std::string owned(line);
    boost::smatch match;
    Expected expected;
    bool reference = false;
    try {
      reference = boost::regex_match(owned, match, expression) && Reference(*format, match, expected);
    } catch (const std::exception&) {
      continue;  // Boost gave up on a long line
    }
    Check(fits == reference, "fits");
    if (!fits) continue;
    Check(record.ip == expected.ip, "ip");
    Check(record.date == expected.date, "date");
    Check(record.url == expected.url, "url");
    Check(record.status == expected.status, "status");
    Check(record.bytes == expected.bytes, "bytes");
    Check(record.referer == expected.referer, "referer");
    Check(record.user_agent == expected.agent, "agent");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string format_text;
  std::string_view lines;
  const size_t nul = input.find('\0');
  if (nul != std::string_view::npos) {
    format_text = std::string(input.substr(0, nul));
    lines = input.substr(nul + 1);
  } else if (!input.empty()) {
    format_text = kSamples[static_cast<unsigned char>(input[0]) % std::size(kSamples)];
    lines = input.substr(1);
  }
  std::shared_ptr<const LogFormat> format;
  try {
    format = LogFormat::Compile(format_text);
  } catch (const LogFormatError& e) {
    Check(e.position() <= format_text.size(), "error position");
    return 0;
  }
  // A strftime time ends where its pattern does, which an expression cannot say simply.
  bool pattern_time = false;
  for (const FormatElement& element : format->elements())
    pattern_time |= !element.literal && element.field.use == FieldUse::kPatternTime;
  if (format->kind() == LogFormat::Kind::kTemplate && !pattern_time)
    CompareWithReference(format, lines);
  // The whole text through a collector, as a run reads it.
  static SearchEngineRegistry registry;
  StatsCollector collector(registry);
  collector.SetLogFormat(format);
  collector.StartFile();
  collector.ParseContent(lines);
  Check(collector.records() >= 0, "records");
  return 0;
}
