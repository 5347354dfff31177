// A small JSON reader for access-log lines that are one JSON object each (nginx escape=json
// templates, Caddy): it walks the object once, without building it, and hands every scalar to
// a visitor with the keys that lead to it. Objects and arrays nested deeper than kMaxJsonDepth
// fail the line.
#ifndef HITSIEVE_ENGINE_LOG_FORMAT_JSON_LINE_H_
#define HITSIEVE_ENGINE_LOG_FORMAT_JSON_LINE_H_

#include <string>
#include <string_view>

namespace hitsieve {

inline constexpr int kMaxJsonDepth = 16;

// A scalar of the object: the keys from the top (path[0] .. path[depth - 1], raw as written,
// escapes not undone), its place in the array that holds it (-1 when no array does), and its
// text: for a string the bytes between its quotes, still escaped; for anything else the token.
struct JsonScalar {
  const std::string_view* path;
  int depth;
  int index;
  std::string_view text;
  bool is_string;
};

// Undoes a JSON string's escapes (\uXXXX becomes UTF-8, surrogate pairs joined; a lone
// surrogate becomes U+FFFD) into `out`. False on a malformed escape.
bool UnescapeJsonString(std::string_view raw, std::string& out);

// Walks the JSON object that is all of `line` (blanks around it allowed), calling
// `visit(const JsonScalar&)` for every scalar; false when the line is no such object.
template <typename Visit>
bool WalkJsonObject(std::string_view line, Visit&& visit);

namespace json_detail {

template <typename Visit>
class Walker {
 public:
  Walker(std::string_view text, Visit& visit) : text_(text), visit_(visit) {}

  bool Top() {
    Blank();
    if (!Object(0)) return false;
    Blank();
    return at_ == text_.size();
  }

 private:
  bool Object(int depth) {
    if (depth >= kMaxJsonDepth || Peek() != '{' || ++nesting_ > kMaxJsonDepth) return false;
    ++at_;
    Blank();
    if (Peek() == '}') {
      ++at_;
      --nesting_;
      return true;
    }
    for (;;) {
      Blank();
      std::string_view key;
      if (!String(key)) return false;
      Blank();
      if (Peek() != ':') return false;
      ++at_;
      Blank();
      path_[depth] = key;
      if (!Value(depth + 1, -1)) return false;
      Blank();
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      if (Peek() != '}') return false;
      ++at_;
      --nesting_;
      return true;
    }
  }

  bool Array(int depth) {
    if (++nesting_ > kMaxJsonDepth) return false;
    ++at_;
    Blank();
    if (Peek() == ']') {
      ++at_;
      --nesting_;
      return true;
    }
    for (int index = 0;; ++index) {
      Blank();
      if (!Value(depth, index)) return false;
      Blank();
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      if (Peek() != ']') return false;
      ++at_;
      --nesting_;
      return true;
    }
  }

  // A value whose keys are path_[0 .. depth - 1].
  bool Value(int depth, int index) {
    const char c = Peek();
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    JsonScalar scalar{path_, depth, index, {}, c == '"'};
    if (scalar.is_string) {
      if (!String(scalar.text)) return false;
    } else {
      const size_t start = at_;
      while (at_ < text_.size() && !IsEnd(text_[at_])) ++at_;
      if (at_ == start) return false;
      scalar.text = text_.substr(start, at_ - start);
      if (!Token(scalar.text)) return false;
    }
    visit_(scalar);
    return true;
  }

  static bool IsEnd(char c) {
    return c == ',' || c == '}' || c == ']' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
  }

  static bool Token(std::string_view token) {
    if (token == "true" || token == "false" || token == "null") return true;
    size_t k = token[0] == '-' ? 1 : 0;
    if (k == token.size()) return false;
    for (; k < token.size(); ++k) {
      const char c = token[k];
      if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
        return false;
    }
    return true;
  }

  bool String(std::string_view& out) {
    if (Peek() != '"') return false;
    const size_t start = ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        out = text_.substr(start, at_ - start);
        ++at_;
        return true;
      }
      at_ += c == '\\' ? 2 : 1;
    }
    return false;
  }

  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  void Blank() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
      ++at_;
  }

  std::string_view text_;
  size_t at_ = 0;
  int nesting_ = 0;  // objects and arrays open
  Visit& visit_;
  std::string_view path_[kMaxJsonDepth + 1];
};

}  // namespace json_detail

template <typename Visit>
bool WalkJsonObject(std::string_view line, Visit&& visit) {
  json_detail::Walker<Visit> walker(line, visit);
  return walker.Top();
}

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LOG_FORMAT_JSON_LINE_H_
