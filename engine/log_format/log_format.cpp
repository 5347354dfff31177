// Compiling a format text into a LogFormat; see log_format.h.
#include "engine/log_format/log_format.h"

#include "engine/log_format/day_key.h"
#include "engine/text.h"

namespace hitsieve {

namespace {

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Bytes sent with their headers: the size only when the format holds no body size.
constexpr auto kBytesSent = static_cast<FieldUse>(255);

bool IsTime(FieldUse use) {
  return use == FieldUse::kLocalTime || use == FieldUse::kIsoTime || use == FieldUse::kEpochTime ||
         use == FieldUse::kEpochMillis || use == FieldUse::kEpochMicros ||
         use == FieldUse::kPatternTime;
}

bool IsUrl(FieldUse use) {
  return use == FieldUse::kRequestLine || use == FieldUse::kUri || use == FieldUse::kPath;
}

// The `use` of `field` for a header Apache names in %{Name}i, nginx in $http_name.
FieldUse HeaderUse(std::string_view name) {
  if (AsciiEqualsIgnoringCase(name, "Referer") || AsciiEqualsIgnoringCase(name, "Referrer"))
    return FieldUse::kReferer;
  if (AsciiEqualsIgnoringCase(name, "User-Agent") || AsciiEqualsIgnoringCase(name, "User_Agent"))
    return FieldUse::kAgent;
  return FieldUse::kSkip;
}

FieldUse NginxUse(std::string_view name) {
  struct Known {
    std::string_view name;
    FieldUse use;
  };
  static constexpr Known kKnown[] = {
      {"remote_addr", FieldUse::kIp},         {"time_local", FieldUse::kLocalTime},
      {"time_iso8601", FieldUse::kIsoTime},   {"msec", FieldUse::kEpochTime},
      {"request", FieldUse::kRequestLine},    {"request_uri", FieldUse::kUri},
      {"uri", FieldUse::kPath},               {"document_uri", FieldUse::kPath},
      {"args", FieldUse::kArgs},              {"query_string", FieldUse::kArgs},
      {"status", FieldUse::kStatus},          {"body_bytes_sent", FieldUse::kBytes},
      {"bytes_sent", kBytesSent},             {"http_referer", FieldUse::kReferer},
      {"http_user_agent", FieldUse::kAgent},
  };
  for (const Known& known : kKnown)
    if (known.name == name) return known.use;
  return FieldUse::kSkip;
}

// Keeps one field of each use (the first; a body size before a size with headers) and checks
// that a day and a URL can be had.
void SettleFields(std::vector<FormatField*> fields, size_t end) {
  bool has_body_bytes = false;
  for (const FormatField* field : fields) has_body_bytes |= field->use == FieldUse::kBytes;
  bool seen[256] = {};
  bool time = false, url = false;
  for (FormatField* field : fields) {
    if (field->use == kBytesSent) field->use = has_body_bytes ? FieldUse::kSkip : FieldUse::kBytes;
    FieldUse& use = field->use;
    if (use == FieldUse::kSkip) continue;
    // One time and one URL source: the first time; a request line before a URI before a path.
    if (IsTime(use)) {
      if (time) use = FieldUse::kSkip;
      time = true;
      continue;
    }
    const auto index = static_cast<size_t>(use);
    if (seen[index]) use = FieldUse::kSkip;
    seen[index] = true;
  }
  for (const FormatField* field : fields) url |= IsUrl(field->use);
  if (!time) throw LogFormatError(end, "the format has no time field");
  if (!url) throw LogFormatError(end, "the format has no request or URL field");
}

}  // namespace

size_t ReadApacheDirective(std::string_view text, size_t at, FormatField& field) {
  size_t k = at + 1;
  // Modifiers: '<' or '>' (original or final request), and status conditions such as !200,304.
  while (k < text.size() && (text[k] == '<' || text[k] == '>' || text[k] == '!' || text[k] == ',' ||
                             (text[k] >= '0' && text[k] <= '9')))
    ++k;
  std::string_view argument;
  bool has_argument = false;
  if (k < text.size() && text[k] == '{') {
    const size_t close = text.find('}', k);
    if (close == std::string_view::npos) throw LogFormatError(at, "'%{' has no closing '}'");
    argument = text.substr(k + 1, close - k - 1);
    has_argument = true;
    k = close + 1;
  }
  if (k >= text.size()) throw LogFormatError(at, "'%' at the end of the format names no field");
  const char letter = text[k];
  field = FormatField{};
  switch (letter) {
    case 'h':
    case 'a': field.use = FieldUse::kIp; break;
    case 't':
      if (!has_argument) {
        field.use = FieldUse::kLocalTime;
        break;
      }
      if (argument.starts_with("begin:")) argument.remove_prefix(6);
      else if (argument.starts_with("end:")) argument.remove_prefix(4);
      if (argument == "sec") field.use = FieldUse::kEpochTime;
      else if (argument == "msec") field.use = FieldUse::kEpochMillis;
      else if (argument == "usec") field.use = FieldUse::kEpochMicros;
      else if (PatternHasDay(argument)) {
        field.use = FieldUse::kPatternTime;
        field.pattern = std::string(argument);
      }
      break;
    case 'r': field.use = FieldUse::kRequestLine; break;
    case 'U': field.use = FieldUse::kPath; break;
    case 'q': field.use = FieldUse::kQuery; break;
    case 's': field.use = FieldUse::kStatus; break;
    case 'b':
    case 'B': field.use = FieldUse::kBytes; break;
    case 'O': field.use = kBytesSent; break;
    case 'i': field.use = HeaderUse(argument); break;
    // Read and skipped: the statistics do not use them.
    case 'A': case 'C': case 'D': case 'e': case 'f': case 'H': case 'I': case 'k': case 'l':
    case 'L': case 'm': case 'n': case 'o': case 'p': case 'P': case 'R': case 'S': case 'T':
    case 'u': case 'v': case 'V': case 'X': case '^':
      if (letter == '^') {
        // %{Name}^ti, ^to: two more letters.
        if (k + 2 >= text.size()) throw LogFormatError(at, "'%^' needs two more letters");
        k += 2;
      }
      break;
    default:
      throw LogFormatError(k, std::string("unknown directive '%") + letter + "'");
  }
  return k + 1;
}

size_t ReadNginxVariable(std::string_view text, size_t at, FormatField& field) {
  size_t k = at + 1;
  std::string_view name;
  if (k < text.size() && text[k] == '{') {
    const size_t close = text.find('}', k);
    if (close == std::string_view::npos) throw LogFormatError(at, "'${' has no closing '}'");
    name = text.substr(k + 1, close - k - 1);
    k = close + 1;
  } else {
    while (k < text.size() && IsNameByte(text[k])) ++k;
    name = text.substr(at + 1, k - at - 1);
  }
  if (name.empty()) throw LogFormatError(at, "'$' is not followed by a variable name");
  for (const char c : name)
    if (!IsNameByte(c)) throw LogFormatError(at, "'${...}' holds a byte no variable name has");
  field = FormatField{};
  field.use = NginxUse(name);
  if (field.use == FieldUse::kSkip && name.starts_with("http_"))
    field.use = HeaderUse(name.substr(5));
  return k;
}

LogFormat LogFormat::CompileText(std::string_view text) {
  // An Apache format when a '%' starts a directive; nginx's otherwise.
  bool apache = false;
  for (size_t k = 0; k + 1 < text.size(); ++k) {
    if (text[k] != '%') continue;
    const char next = text[k + 1];
    if (next == '%') {
      ++k;
      continue;
    }
    if (IsNameByte(next) || next == '{' || next == '>' || next == '<' || next == '!' ||
        next == '^')
      apache = true;
  }
  LogFormat format;
  format.kind_ = Kind::kTemplate;
  format.name_ = "custom";
  std::vector<FormatElement>& elements = format.elements_;
  auto literal = [&elements](size_t at, std::string_view bytes) {
    if (elements.empty() || !elements.back().literal) {
      FormatElement& element = elements.emplace_back();
      element.literal = true;
      element.position = at;
    }
    elements.back().text += bytes;
  };
  size_t k = 0;
  while (k < text.size()) {
    const char c = text[k];
    if (apache && c == '%' && k + 1 < text.size() && text[k + 1] == '%') {
      literal(k, "%");
      k += 2;
      continue;
    }
    if ((apache && c == '%') || (!apache && c == '$')) {
      FormatElement element;
      element.position = k;
      // A path and its query side by side, as servers' documentation writes them: one URI.
      const std::string_view path_and_query = apache ? "%U%q" : "$uri$is_args$args";
      if (text.substr(k).starts_with(path_and_query)) {
        element.field.use = FieldUse::kUri;
        k += path_and_query.size();
      } else {
        k = apache ? ReadApacheDirective(text, k, element.field)
                   : ReadNginxVariable(text, k, element.field);
      }
      if (!elements.empty() && !elements.back().literal)
        throw LogFormatError(element.position,
                             "two fields with nothing between them cannot be told apart");
      elements.push_back(std::move(element));
      continue;
    }
    literal(k, text.substr(k, 1));
    ++k;
  }
  std::vector<FormatField*> fields;
  for (FormatElement& element : elements)
    if (!element.literal) fields.push_back(&element.field);
  SettleFields(fields, text.size());
  return format;
}

namespace {

class JsonTemplateReader {
 public:
  explicit JsonTemplateReader(std::string_view text) : text_(text) {}

  std::vector<JsonKey> Read() {
    std::vector<JsonKey> keys;
    Skip();
    Expect('{');
    Skip();
    if (Peek() == '}') throw LogFormatError(at_, "the JSON template has no keys");
    for (;;) {
      Skip();
      JsonKey key;
      key.key = String();
      Skip();
      Expect(':');
      Skip();
      key.field = Value();
      keys.push_back(std::move(key));
      Skip();
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      Expect('}');
      break;
    }
    Skip();
    if (at_ != text_.size()) throw LogFormatError(at_, "text after the JSON template's end");
    return keys;
  }

 private:
  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  void Skip() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' ||
                                  text_[at_] == '\r'))
      ++at_;
  }
  void Expect(char c) {
    if (Peek() != c || at_ >= text_.size())
      throw LogFormatError(at_, std::string("the JSON template needs '") + c + "' here");
    ++at_;
  }
  std::string String() {
    const size_t start = at_;
    Expect('"');
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (text_[at_] == '\\' && at_ + 1 < text_.size()) out += text_[at_++];
      out += text_[at_++];
    }
    if (at_ >= text_.size()) throw LogFormatError(start, "a JSON string is not closed");
    ++at_;
    return out;
  }
  // A value that is one variable, quoted or not, names its field; anything else is skipped.
  FormatField Value() {
    FormatField field;
    const bool quoted = Peek() == '"';
    const size_t start = at_;
    if (Peek() == '{' || Peek() == '[')
      throw LogFormatError(at_, "nested JSON values are not supported in a template");
    if (quoted) {
      const std::string value = String();
      if (!value.empty() && value[0] == '$') {
        const size_t end = ReadNginxVariable(value, 0, field);
        if (end != value.size()) field = FormatField{};
      }
      (void)start;
      return field;
    }
    if (Peek() == '$') {
      at_ = ReadNginxVariable(text_, at_, field);
      return field;
    }
    while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '}') ++at_;
    if (at_ == start) throw LogFormatError(at_, "a JSON key has no value");
    return field;
  }

  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

LogFormat LogFormat::CompileJson(std::string_view text) {
  LogFormat format;
  format.kind_ = Kind::kJson;
  format.name_ = "custom";
  format.keys_ = JsonTemplateReader(text).Read();
  std::vector<FormatField*> fields;
  for (JsonKey& key : format.keys_) fields.push_back(&key.field);
  SettleFields(fields, text.size());
  return format;
}

std::shared_ptr<const LogFormat> LogFormat::Preset(std::string_view name) {
  auto make = [](Kind kind, const char* preset, std::string_view text = {}) {
    auto format = std::make_shared<LogFormat>(text.empty() ? LogFormat() : CompileText(text));
    if (text.empty()) format->kind_ = kind;
    format->name_ = format->text_ = preset;
    return std::shared_ptr<const LogFormat>(std::move(format));
  };
  static const std::shared_ptr<const LogFormat> kPresets[] = {
      make(Kind::kCombined, "combined"),
      make(Kind::kTemplate, "common", R"(%h %l %u %t "%r" %>s %b)"),
      make(Kind::kTemplate, "vhost_combined",
           R"(%v:%p %h %l %u %t "%r" %>s %O "%{Referer}i" "%{User-Agent}i")"),
      make(Kind::kW3c, "w3c"),
      make(Kind::kCaddy, "caddy"),
      make(Kind::kAuto, "auto"),
  };
  for (const auto& preset : kPresets)
    if (preset->name() == name) return preset;
  return nullptr;
}

const std::vector<std::shared_ptr<const LogFormat>>& LogFormat::Candidates() {
  static const std::vector<std::shared_ptr<const LogFormat>> kCandidates = [] {
    auto strict = std::make_shared<LogFormat>(
        CompileText(R"(%h %l %u %t "%r" %>s %b "%{Referer}i" "%{User-Agent}i")"));
    strict->name_ = strict->text_ = "combined";
    return std::vector<std::shared_ptr<const LogFormat>>{
        std::move(strict), Preset("vhost_combined"), Preset("common"), Preset("caddy"),
        Preset("w3c")};
  }();
  return kCandidates;
}

std::shared_ptr<const LogFormat> LogFormat::Compile(std::string_view text) {
  if (text.empty()) throw LogFormatError(0, "the format is empty");
  size_t first = 0;
  while (first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
  if (first < text.size() && text[first] == '{') {
    LogFormat format = CompileJson(text);
    format.text_ = std::string(text);
    return std::make_shared<const LogFormat>(std::move(format));
  }
  bool name = true;
  for (const char c : text) name = name && ((c >= 'a' && c <= 'z') || c == '_' || (c >= '0' && c <= '9'));
  if (name) {
    if (auto preset = Preset(text)) return preset;
    throw LogFormatError(0, "unknown preset '" + std::string(text) +
                                "' (combined, common, vhost_combined, w3c, caddy or auto)");
  }
  if (text.find('%') == std::string_view::npos && text.find('$') == std::string_view::npos)
    throw LogFormatError(0, "the format names no field (no % directive, no $variable)");
  LogFormat format = CompileText(text);
  format.text_ = std::string(text);
  return std::make_shared<const LogFormat>(std::move(format));
}

std::string DescribeLogFormatError(const LogFormatError& error) {
  return "at character " + std::to_string(error.position() + 1) + ": " + error.what();
}

}  // namespace hitsieve
