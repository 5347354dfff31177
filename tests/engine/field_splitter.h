#ifndef HITSIEVE_TESTS_ENGINE_FIELD_SPLITTER_H_
#define HITSIEVE_TESTS_ENGINE_FIELD_SPLITTER_H_

// The log-field splitting rules walked one field at a time, byte by byte: the reference that the
// record parser's 64-bytes-at-a-time cutting must match, itself checked against Boost's
// escaped_list_separator. Shared by the engine tests and the fuzzer.

#include <string>
#include <string_view>

namespace hitsieve {

// Cuts one log line into fields: a space outside quotes ends a field; '"', '[' and ']' all
// toggle quoting and are dropped (so ']' closes what '"' opened); every other byte, backslash
// and CR included, belongs to the field. A line ending in a space has an empty last field; an
// empty line has no field. A field that is one unbroken run of the line's bytes is given as a
// view into the line. The line must outlive the splitter.
class FieldSplitter {
 public:
  explicit FieldSplitter(std::string_view line)
      : next_(line.data()), end_(line.data() + line.size()) {}

  // Gives the next field's text in `field`: a view into the line when the field is one run
  // of bytes, otherwise a view of `scratch`, into which its pieces are joined (so the view
  // lasts until `scratch` is used again). False when the line has no field left.
  bool Next(std::string_view& field, std::string& scratch) {
    field = {};
    if (next_ == end_) {
      const bool more = trailing_empty_;
      trailing_empty_ = false;
      return more;
    }
    trailing_empty_ = false;
    // The field's non-empty pieces: the first is kept as a view; a second one means joining.
    const char* first = nullptr;
    const char* first_end = nullptr;
    bool joined = false;
    auto add = [&](const char* begin, const char* end) {
      if (begin == end) return;
      if (joined) {
        scratch.append(begin, end);
      } else if (first == nullptr) {
        first = begin;
        first_end = end;
      } else {
        scratch.assign(first, first_end);
        scratch.append(begin, end);
        joined = true;
      }
    };
    bool quoted = false;
    const char* run = next_;  // start of the piece being scanned
    for (;;) {
      while (next_ != end_ && !IsQuote(*next_) && (quoted || *next_ != ' ')) ++next_;
      if (next_ == end_) break;
      add(run, next_);
      if (*next_ == ' ') {  // found outside quotes only
        ++next_;
        trailing_empty_ = true;
        run = nullptr;
        break;
      }
      run = ++next_;
      quoted = !quoted;
    }
    if (run != nullptr) add(run, end_);
    if (joined) field = scratch;
    else if (first != nullptr) field = std::string_view(first, static_cast<size_t>(first_end - first));
    return true;
  }

  // Appends the next field's text to `*out`, or skips it when `out` is null. False when the
  // line has no field left.
  bool Next(std::string* out) {
    std::string_view field;
    std::string scratch;
    if (!Next(field, scratch)) return false;
    if (out != nullptr) out->append(field);
    return true;
  }

 private:
  static bool IsQuote(char c) { return c == '"' || c == '[' || c == ']'; }

  const char* next_;
  const char* end_;
  bool trailing_empty_ = false;  // the last field ended in a space: one empty field follows
};

}  // namespace hitsieve

#endif  // HITSIEVE_TESTS_ENGINE_FIELD_SPLITTER_H_
