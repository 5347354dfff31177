// The text helpers of the report page: escaping for HTML and for JSON inside a script element,
// day keys read as calendar days, and which referers may be links.

#include <array>

#include "engine/text.h"
#include "export/html_report.h"

namespace hitsieve {

namespace {

constexpr char32_t kReplacement = 0xFFFD;  // U+FFFD, for bytes that are not UTF-8

// Decodes one UTF-8 sequence at `i` and moves past it. A byte that does not start a valid,
// shortest-form sequence of a scalar value gives nothing and moves one byte.
std::optional<char32_t> NextUtf8(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  size_t length;
  char32_t cp;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    ++i;
    return std::nullopt;
  }
  if (i + length > text.size()) {
    ++i;
    return std::nullopt;
  }
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return std::nullopt;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return std::nullopt;
  }
  i += length;
  return cp;
}

void AppendUnicodeEscape(char32_t unit, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::string HtmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  for (size_t i = 0; i < utf8.size();) {
    const size_t start = i;
    const char32_t cp = NextUtf8(utf8, i).value_or(kReplacement);
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (cp < 0x20 || cp == 0x7F || cp == '<' || cp == '>' || cp == '&' || cp == 0x2028 ||
        cp == 0x2029) {
      AppendUnicodeEscape(cp, out);
    } else if (cp == kReplacement) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  out += '"';
  return out;
}

std::optional<int32_t> CalendarDayNumber(std::string_view day_key) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (day_key.size() != 11 || day_key[2] != '/' || day_key[6] != '/') return std::nullopt;
  const auto number = [](std::string_view digits) -> std::optional<int> {
    int value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  const std::optional<int> day = number(day_key.substr(0, 2));
  const std::optional<int> year = number(day_key.substr(7, 4));
  int month = 0;
  while (month < 12 && kMonths[month] != day_key.substr(3, 3)) ++month;
  if (!day || !year || month == 12 || *day < 1 || *year < 1) return std::nullopt;
  static constexpr std::array<int, 12> kLengths = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
  const int length = kLengths[month] + (month == 1 && leap ? 1 : 0);
  if (*day > length) return std::nullopt;
  return *year * 10000 + (month + 1) * 100 + *day;
}

bool IsWebLink(std::string_view url) {
  const auto starts_with = [&](std::string_view prefix) {
    if (url.size() <= prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      if (Cp1251Lower(static_cast<unsigned char>(url[i])) != prefix[i]) return false;
    }
    return true;
  };
  return starts_with("http://") || starts_with("https://");
}

}  // namespace hitsieve
