// Reading lines by a compiled format; see format_reader.h.
#include "engine/log_format/format_reader.h"

#include <algorithm>

#include "engine/log_format/json_line.h"
#include "engine/text.h"

namespace hitsieve {

namespace {

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The line without the CR of a CR LF end and without blanks after its last field.
std::string_view TrimLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  return line;
}

// The address of "1.2.3.4:5678" or "[::1]:5678" without its port.
std::string_view WithoutPort(std::string_view address) {
  if (!address.empty() && address.front() == '[') {
    const size_t close = address.find(']');
    return close == std::string_view::npos ? address : address.substr(1, close - 1);
  }
  const size_t colon = address.find(':');
  if (colon != std::string_view::npos && address.find(':', colon + 1) == std::string_view::npos)
    return address.substr(0, colon);
  return address;
}

// W3C field names that the statistics use.
enum W3cField : uint8_t { kW3cSkip, kW3cDate, kW3cTime, kW3cIp, kW3cStem, kW3cQuery, kW3cUri, kW3cStatus,
                          kW3cBytes, kW3cReferer, kW3cAgent };

W3cField W3cFieldOf(std::string_view name) {
  struct Known {
    std::string_view name;
    W3cField field;
  };
  static constexpr Known kKnown[] = {
      {"date", kW3cDate},          {"time", kW3cTime},        {"c-ip", kW3cIp},          {"cs-uri-stem", kW3cStem},
      {"cs-uri-query", kW3cQuery}, {"cs-uri", kW3cUri},       {"sc-status", kW3cStatus},
      {"sc-bytes", kW3cBytes},     {"cs(Referer)", kW3cReferer}, {"cs(Referrer)", kW3cReferer},
      {"cs(User-Agent)", kW3cAgent}};
  for (const Known& known : kKnown)
    if (AsciiEqualsIgnoringCase(known.name, name)) return known.field;
  return kW3cSkip;
}

}  // namespace

// What a line's fields gave, before they become a record.
struct FormatReader::Values {
  std::string_view ip, request, path, query, args, uri, status, bytes, referer, agent;
  bool has_ip = false, has_request = false, has_path = false, has_query = false,
       has_args = false, has_uri = false, has_referer = false, has_agent = false, day = false;

  // False when `value` cannot be what `field` holds.
  bool Take(const FormatField& field, std::string_view value, DayKey& day_key) {
    switch (field.use) {
      case FieldUse::kSkip: return true;
      case FieldUse::kIp:
        ip = value;
        return has_ip = !value.empty();
      case FieldUse::kLocalTime: return day = DayFromLocalTime(value, day_key);
      case FieldUse::kIsoTime: return day = DayFromIsoTime(value, day_key);
      case FieldUse::kEpochTime: return day = DayFromEpoch(value, 1, day_key);
      case FieldUse::kEpochMillis: return day = DayFromEpoch(value, 1000, day_key);
      case FieldUse::kEpochMicros: return day = DayFromEpoch(value, 1000000, day_key);
      case FieldUse::kPatternTime: return day = DayFromPattern(field.pattern, value, day_key);
      case FieldUse::kRequestLine:
        request = value;
        return has_request = true;
      case FieldUse::kPath:
        path = value;
        return has_path = true;
      case FieldUse::kQuery:
        query = value;
        return has_query = true;
      case FieldUse::kArgs:
        args = value;
        return has_args = true;
      case FieldUse::kUri:
        uri = value;
        return has_uri = true;
      case FieldUse::kStatus:
        status = value;
        return AllDigits(value);
      case FieldUse::kBytes:
        bytes = value;
        return value == "-" || AllDigits(value);
      case FieldUse::kReferer:
        referer = value;
        return has_referer = true;
      case FieldUse::kAgent:
        agent = value;
        return has_agent = true;
    }
    return true;
  }

  // The record, as the combined parser would give it for the same request; false when the
  // line has no day or no URL.
  bool Finish(RequestRecord& record, const DayKey& day_key, std::string& url) const {
    if (!day) return false;
    if (has_request) {
      record.url = RequestLineUrl(request);
    } else if (has_uri) {
      record.url = uri;
    } else if (has_path) {
      std::string_view separator;
      std::string_view tail;
      if (has_query && !query.empty()) {
        tail = query;  // Apache's %q brings its own '?'
      } else if (has_args && !args.empty() && args != "-") {
        separator = "?";
        tail = args;
      }
      if (tail.empty()) {
        record.url = path;
      } else {
        url.assign(path);
        url += separator;
        url += tail;
        record.url = url;
      }
    } else {
      return false;
    }
    record.ip = has_ip ? ip : std::string_view("-");
    record.date = day_key.view();
    record.hour = day_key.hour;
    record.status = ParseStatusField(status);
    record.bytes = ParseBytesField(bytes);
    record.referer = has_referer && !referer.empty() ? referer : std::string_view("-");
    record.user_agent = has_agent && !agent.empty() ? agent : std::string_view("-");
    return true;
  }
};

FormatReader::FormatReader(std::shared_ptr<const LogFormat> format)
    : format_(std::move(format)), active_(format_.get()) {}

void FormatReader::StartFile() {
  active_ = format_.get();
  detected_ = false;
  w3c_fields_.clear();
  w3c_has_fields_ = false;
  w3c_has_date_ = false;
}

void FormatReader::BeginBlock(std::string_view text) {
  if (format_->kind() != LogFormat::Kind::kAuto || detected_) return;
  const std::shared_ptr<const LogFormat> found = DetectLogFormat(text);
  active_ = found ? found.get() : LogFormat::Preset("combined").get();
  detected_ = true;
}

void FormatReader::Prime(std::string_view text) {
  BeginBlock(text);
  if (active_->kind() != LogFormat::Kind::kW3c) return;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    if (text[at] == '#') ReadW3cDirective(TrimLineEnd(text.substr(at, end - at)));
    at = end + 1;
  }
}

const std::string& FormatReader::found() const { return active_->name(); }

FormatReader::Line FormatReader::Parse(std::string_view line, RequestRecord& record) {
  switch (active_->kind()) {
    case LogFormat::Kind::kCombined:
    case LogFormat::Kind::kAuto:  // no block seen yet: the default reading
      return ParseRecordLine(line, record, combined_scratch_) ? Line::kRecord
                                                              : Line::kNotRecognised;
    case LogFormat::Kind::kTemplate: return ParseTemplate(*active_, TrimLineEnd(line), record);
    case LogFormat::Kind::kJson: return ParseJson(*active_, TrimLineEnd(line), record);
    case LogFormat::Kind::kCaddy: return ParseCaddy(TrimLineEnd(line), record);
    case LogFormat::Kind::kW3c: return ParseW3c(TrimLineEnd(line), record);
  }
  return Line::kNotRecognised;
}

FormatReader::Line FormatReader::ParseTemplate(const LogFormat& format, std::string_view line,
                                               RequestRecord& record) {
  const std::vector<FormatElement>& elements = format.elements();
  Values values;
  size_t at = 0;
  for (size_t k = 0; k < elements.size(); ++k) {
    const FormatElement& element = elements[k];
    if (element.literal) {
      if (line.compare(at, element.text.size(), element.text) != 0) return Line::kNotRecognised;
      at += element.text.size();
      continue;
    }
    // A field runs to where the literal after it starts; fields are never side by side.
    size_t end = line.size();
    if (k + 1 < elements.size()) {
      const std::string& next = elements[k + 1].text;
      const bool quoted = k > 0 && elements[k - 1].text.back() == '"' && next.front() == '"';
      if (element.field.use == FieldUse::kPatternTime) {
        // A time may hold blanks: it ends where its pattern does.
        size_t used = 0;
        if (!DayFromPatternStart(element.field.pattern, line.substr(at), day_, used))
          return Line::kNotRecognised;
        end = at + used;
      } else if (element.field.use == FieldUse::kLocalTime && at < line.size() && line[at] == '[') {
        // Apache's %t brings its brackets, and the time holds a space.
        end = line.find(']', at);
        if (end == std::string_view::npos) return Line::kNotRecognised;
        ++end;
      } else if (quoted) {
        // Inside quotes a server escapes '"' with a backslash: the field ends at a quote that
        // is not escaped and is followed by the rest of the literal.
        end = at;
        for (;;) {
          while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
          if (end >= line.size()) return Line::kNotRecognised;
          if (line.compare(end, next.size(), next) == 0) break;
          ++end;
        }
      } else {
        end = line.find(next, at);
        if (end == std::string_view::npos) return Line::kNotRecognised;
      }
    }
    if (!values.Take(element.field, line.substr(at, end - at), day_)) return Line::kNotRecognised;
    at = end;
  }
  if (at != line.size()) return Line::kNotRecognised;
  return values.Finish(record, day_, url_) ? Line::kRecord : Line::kNotRecognised;
}

FormatReader::Line FormatReader::ParseJson(const LogFormat& format, std::string_view line,
                                           RequestRecord& record) {
  const std::vector<JsonKey>& keys = format.keys();
  Values values;
  bool fits = true;
  const bool walked = WalkJsonObject(line, [&](const JsonScalar& scalar) {
    if (scalar.depth != 1 || scalar.index >= 0 || !fits) return;
    for (const JsonKey& key : keys) {
      if (key.field.use == FieldUse::kSkip || key.key != scalar.path[0]) continue;
      std::string_view value = scalar.text;
      if (!scalar.is_string && value == "null") return;
      if (scalar.is_string && value.find('\\') != std::string_view::npos) {
        std::string& buffer = unescaped_[static_cast<size_t>(key.field.use)];
        if (!UnescapeJsonString(value, buffer)) {
          fits = false;
          return;
        }
        value = buffer;
      }
      fits = values.Take(key.field, value, day_);
      return;
    }
  });
  if (!walked || !fits) return Line::kNotRecognised;
  return values.Finish(record, day_, url_) ? Line::kRecord : Line::kNotRecognised;
}

FormatReader::Line FormatReader::ParseCaddy(std::string_view line, RequestRecord& record) {
  Values values;
  bool fits = true;
  int ip_rank = 0;  // client_ip (3) before remote_ip (2) before remote_addr (1)
  auto text = [&](const JsonScalar& scalar, size_t buffer) -> std::string_view {
    if (!scalar.is_string || scalar.text.find('\\') == std::string_view::npos) return scalar.text;
    if (!UnescapeJsonString(scalar.text, unescaped_[buffer])) fits = false;
    return unescaped_[buffer];
  };
  const bool walked = WalkJsonObject(line, [&](const JsonScalar& scalar) {
    const std::string_view* path = scalar.path;
    if (scalar.depth == 1 && scalar.index < 0) {
      if (path[0] == "ts") {
        values.day = scalar.is_string ? DayFromIsoTime(scalar.text, day_) ||
                                            DayFromEpoch(scalar.text, 1, day_)
                                      : DayFromEpoch(scalar.text, 1, day_);
        fits = fits && values.day;
      } else if (path[0] == "status" && !scalar.is_string) {
        values.status = scalar.text;
      } else if (path[0] == "size" && !scalar.is_string) {
        values.bytes = scalar.text;
      }
    } else if (scalar.depth == 2 && path[0] == "request" && scalar.is_string) {
      const int rank = path[1] == "client_ip" ? 3 : path[1] == "remote_ip" ? 2
                       : path[1] == "remote_addr" ? 1 : 0;
      if (rank > ip_rank && !scalar.text.empty()) {
        ip_rank = rank;
        values.ip = WithoutPort(text(scalar, 0));
        values.has_ip = true;
      } else if (path[1] == "uri") {
        values.uri = text(scalar, 1);
        values.has_uri = true;
      }
    } else if (scalar.depth == 3 && scalar.index == 0 && path[0] == "request" &&
               path[1] == "headers" && scalar.is_string) {
      if (AsciiEqualsIgnoringCase(path[2], "Referer")) {
        values.referer = text(scalar, 2);
        values.has_referer = true;
      } else if (AsciiEqualsIgnoringCase(path[2], "User-Agent")) {
        values.agent = text(scalar, 3);
        values.has_agent = true;
      }
    }
  });
  if (!walked || !fits) return Line::kNotRecognised;
  return values.Finish(record, day_, url_) ? Line::kRecord : Line::kNotRecognised;
}

void FormatReader::ReadW3cDirective(std::string_view line) {
  auto words = [](std::string_view text, auto each) {
    size_t k = 0;
    while (k < text.size()) {
      while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
      const size_t start = k;
      while (k < text.size() && text[k] != ' ' && text[k] != '\t') ++k;
      if (k > start) each(text.substr(start, k - start));
    }
  };
  if (line.starts_with("#Fields:")) {
    w3c_fields_.clear();
    words(line.substr(8), [this](std::string_view name) { w3c_fields_.push_back(W3cFieldOf(name)); });
    w3c_has_fields_ = true;
  } else if (line.starts_with("#Date:")) {
    std::string_view value = line.substr(6);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    w3c_has_date_ = DayFromIsoTime(value.substr(0, 10), w3c_date_);
  }
}

FormatReader::Line FormatReader::ParseW3c(std::string_view line, RequestRecord& record) {
  if (!line.empty() && line.front() == '#') {
    ReadW3cDirective(line);
    return Line::kIgnored;
  }
  if (!w3c_has_fields_) return Line::kNotRecognised;
  Values values;
  values.day = w3c_has_date_;
  if (values.day) day_ = w3c_date_;
  std::string_view stem, query;
  bool has_stem = false, has_query = false;
  signed char hour = -1;
  // Tab-separated when the line holds a tab; otherwise fields are apart by one space.
  const char separator = line.find('\t') != std::string_view::npos ? '\t' : ' ';
  size_t at = 0;
  size_t column = 0;
  while (at <= line.size()) {
    size_t end;
    std::string_view value;
    if (at < line.size() && line[at] == '"') {
      end = line.find('"', at + 1);
      if (end == std::string_view::npos) return Line::kNotRecognised;
      value = line.substr(at + 1, end - at - 1);
      ++end;
      if (end < line.size() && line[end] != separator) return Line::kNotRecognised;
    } else {
      end = line.find(separator, at);
      if (end == std::string_view::npos) end = line.size();
      value = line.substr(at, end - at);
    }
    if (column >= w3c_fields_.size()) return Line::kNotRecognised;
    switch (w3c_fields_[column]) {
      case kW3cDate:
        if (!(values.day = DayFromIsoTime(value, day_)) || value.size() != 10)
          return Line::kNotRecognised;
        break;
      case kW3cTime:
        hour = HourAt(value, 0);
        break;
      case kW3cIp:
        values.ip = value;
        values.has_ip = !value.empty();
        break;
      case kW3cStem:
        stem = value;
        has_stem = true;
        break;
      case kW3cQuery:
        query = value;
        has_query = value != "-" && !value.empty();
        break;
      case kW3cUri:
        values.uri = value;
        values.has_uri = true;
        break;
      case kW3cStatus:
        if (!AllDigits(value)) return Line::kNotRecognised;
        values.status = value;
        break;
      case kW3cBytes:
        if (value != "-" && !AllDigits(value)) return Line::kNotRecognised;
        values.bytes = value;
        break;
      case kW3cReferer:
        values.referer = value;
        values.has_referer = true;
        break;
      case kW3cAgent:
        // IIS writes the agent's spaces as '+'.
        if (value.find('+') != std::string_view::npos) {
          agent_.assign(value);
          for (char& c : agent_)
            if (c == '+') c = ' ';
          value = agent_;
        }
        values.agent = value;
        values.has_agent = true;
        break;
      case kW3cSkip: break;
    }
    ++column;
    at = end + 1;
  }
  if (column != w3c_fields_.size()) return Line::kNotRecognised;
  day_.hour = hour;  // the line's own time; the #Date directive's says nothing of the line's
  if (has_stem && !values.has_uri) {
    values.path = stem;
    values.has_path = true;
    values.args = query;
    values.has_args = has_query;
  }
  return values.Finish(record, day_, url_) ? Line::kRecord : Line::kNotRecognised;
}

std::shared_ptr<const LogFormat> DetectLogFormat(std::string_view text, size_t sample,
                                                 size_t* fitting, size_t* tried) {
  std::vector<std::string_view> lines;
  bool w3c = false;
  size_t at = 0;
  while (at < text.size() && lines.size() < sample) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos && !lines.empty()) break;  // perhaps cut short
    const std::string_view line = TrimLineEnd(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (line.starts_with("#Fields:")) w3c = true;
    if (!line.empty()) lines.push_back(line);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  std::shared_ptr<const LogFormat> best;
  size_t best_count = 0;
  size_t best_tried = 0;
  for (const auto& candidate : LogFormat::Candidates()) {
    if ((candidate->kind() == LogFormat::Kind::kW3c) != w3c) continue;
    FormatReader reader(candidate);
    size_t count = 0, requests = 0;
    RequestRecord record;
    for (const std::string_view line : lines) {
      const FormatReader::Line result = reader.Parse(line, record);
      if (result == FormatReader::Line::kIgnored) continue;
      ++requests;
      if (result == FormatReader::Line::kRecord) ++count;
    }
    if (count > best_count) {
      best = candidate;
      best_count = count;
      best_tried = requests;
    }
  }
  if (fitting != nullptr) *fitting = best_count;
  if (tried != nullptr) *tried = best ? best_tried : lines.size();
  if (best && best->kind() == LogFormat::Kind::kTemplate && best->name() == "combined")
    return LogFormat::Preset("combined");  // read with the loose parser, as always
  return best;
}

}  // namespace hitsieve
