// Referers as people read them: the host parsed the way a browser parses it before it opens the
// link, the rest of the address decoded, and nothing left that could reorder the text. The host
// rules follow the URL standard that browsers implement (host parsing, IPv4 numbers, IDNA via
// libidn2 with the nontransitional UTS #46 mapping); where libidn2 is stricter than a browser,
// the text is shown as written, which names no host but the real one either.

#include "export/referer_text.h"

#include <idn2.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/text.h"

namespace hitsieve {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// One UTF-8 scalar value at `i`, moving past it; -1 (and one byte) for a byte that does not
// start a valid shortest-form sequence.
int32_t NextScalar(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  int32_t value = 0, min = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, min = 0x10000;
  }
  if (length == 0 || i + length > text.size()) {
    ++i;
    return -1;
  }
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += length;
  return value;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (NextScalar(text, i) < 0) return false;
  }
  return true;
}

// Controls, and the characters that reorder text or hide in it.
bool IsNeverShown(int32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x180E ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF ||
         (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsEscape(std::string_view text, size_t i) {
  return text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
         HexValue(text[i + 2]) >= 0;
}

// %XY sequences decoded, each run of them read as UTF-8 or else as Windows-1251; `plus_is_space`
// for a query, where a form's spaces travel as '+'.
std::string Decoded(std::string_view text, bool plus_is_space) {
  std::string out, run;
  out.reserve(text.size());
  const auto flush = [&] {
    out += IsUtf8(run) ? run : Cp1251ToUtf8(run);
    run.clear();
  };
  for (size_t i = 0; i < text.size();) {
    if (IsEscape(text, i)) {
      run += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 3;
      continue;
    }
    if (!run.empty()) flush();
    out += plus_is_space && text[i] == '+' ? ' ' : text[i];
    ++i;
  }
  if (!run.empty()) flush();
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A character no domain may hold, in the URL standard's list.
bool IsForbiddenInDomain(unsigned char c) {
  switch (c) {
    case ' ': case '#': case '%': case '/': case ':': case '<': case '>': case '?': case '@':
    case '[': case '\\': case ']': case '^': case '|': case 0x7F:
      return true;
    default:
      return c < 0x20;
  }
}

// One part of a numeric IPv4 host: decimal, 0x hexadecimal or 0-led octal.
std::optional<uint64_t> Ipv4Number(std::string_view part) {
  if (part.empty()) return std::nullopt;
  int radix = 10;
  if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    radix = 16;
    part.remove_prefix(2);
  } else if (part.size() >= 2 && part[0] == '0') {
    radix = 8;
    part.remove_prefix(1);
  }
  uint64_t value = 0;
  for (char c : part) {
    const int digit = HexValue(c);
    if (digit < 0 || digit >= radix) return std::nullopt;
    value = value * radix + digit;
    if (value > 0xFFFFFFFFull) value = 0x100000000ull;  // too large either way
  }
  return value;
}

std::vector<std::string_view> Labels(std::string_view host) {
  std::vector<std::string_view> labels;
  for (size_t start = 0;;) {
    const size_t dot = host.find('.', start);
    labels.push_back(host.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) return labels;
    start = dot + 1;
  }
}

// A host whose last label is a number is an IPv4 address to a browser, whatever its form
// ("0x7f.1" is 127.0.0.1); anything else that ends in a number is no host at all.
bool EndsInNumber(std::string_view host) {
  std::vector<std::string_view> labels = Labels(host);
  if (labels.back().empty()) {
    if (labels.size() == 1) return false;
    labels.pop_back();
  }
  const std::string_view last = labels.back();
  if (!last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos) return true;
  return Ipv4Number(last).has_value();
}

std::optional<std::string> Ipv4Host(std::string_view host) {
  std::vector<std::string_view> labels = Labels(host);
  if (labels.back().empty() && labels.size() > 1) labels.pop_back();
  if (labels.size() > 4) return std::nullopt;
  uint64_t address = 0;
  for (size_t k = 0; k < labels.size(); ++k) {
    const std::optional<uint64_t> number = Ipv4Number(labels[k]);
    if (!number) return std::nullopt;
    if (k + 1 < labels.size()) {
      if (*number > 255) return std::nullopt;
      address += *number << (8 * (3 - k));
    } else {
      if (*number >= (1ull << (8 * (5 - labels.size())))) return std::nullopt;
      address += *number;
    }
  }
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
         std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

// The host of an address's authority as a browser reads it.
std::optional<std::string> ParsedHost(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.front() == '[') {
    if (text.back() != ']' || text.size() < 4) return std::nullopt;
    if (text.substr(1, text.size() - 2).find_first_not_of("0123456789abcdefABCDEF:.") !=
        std::string_view::npos)
      return std::nullopt;
    return Lower(std::string(text));
  }
  std::string domain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsEscape(text, i)) {
      domain += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      domain += text[i];
    }
  }
  if (!IsUtf8(domain)) return std::nullopt;
  std::string ascii;
  bool plain = true;  // ASCII only
  for (unsigned char c : domain) {
    if (c >= 0x80) plain = false;
    else if (IsForbiddenInDomain(c)) return std::nullopt;
  }
  // An ASCII name needs no mapping, unless a label claims to be punycode, which must then be
  // valid punycode.
  if (plain && Lower(domain).find("xn--") == std::string::npos) {
    ascii = Lower(domain);
  } else {
    char* converted = nullptr;
    if (idn2_to_ascii_8z(domain.c_str(), &converted, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT) !=
        IDN2_OK) {
      return std::nullopt;
    }
    ascii = Lower(converted);
    idn2_free(converted);
  }
  if (ascii.empty()) return std::nullopt;
  for (unsigned char c : ascii) {
    if (c >= 0x80 || IsForbiddenInDomain(c)) return std::nullopt;
  }
  if (EndsInNumber(ascii)) return Ipv4Host(ascii);
  return ascii;
}

// An http or https address taken apart as a browser takes it.
struct WebAddress {
  std::string scheme;    // "http" or "https"
  std::string userinfo;  // as written, without its '@'
  std::string host;      // as ParsedHost gives it
  std::string port;      // decimal, empty for the scheme's own
  std::string rest;      // path, query and fragment as written
};

std::optional<WebAddress> ParseWebAddress(std::string_view text) {
  // A browser drops leading and trailing controls and spaces, and tabs and line breaks anywhere.
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  std::string url;
  for (char c : text) {
    if (c != '\t' && c != '\n' && c != '\r') url += c;
  }
  const size_t colon = url.find(':');
  if (colon == std::string::npos) return std::nullopt;
  WebAddress address;
  address.scheme = Lower(url.substr(0, colon));
  if (address.scheme != "http" && address.scheme != "https") return std::nullopt;
  size_t at = colon + 1;
  while (at < url.size() && (url[at] == '/' || url[at] == '\\')) ++at;
  const size_t end = std::min(url.find_first_of("/\\?#", at), url.size());
  std::string_view authority = std::string_view(url).substr(at, end - at);
  address.rest = url.substr(end);
  if (const size_t last_at = authority.rfind('@'); last_at != std::string_view::npos) {
    address.userinfo = std::string(authority.substr(0, last_at));
    authority.remove_prefix(last_at + 1);
  }
  // The port follows the first ':' outside an IPv6 address's brackets.
  const size_t bracket = !authority.empty() && authority.front() == '[' ? authority.find(']') : 0;
  if (bracket == std::string_view::npos) return std::nullopt;
  const size_t port_colon = authority.find(':', bracket);
  if (port_colon != std::string_view::npos) {
    std::string_view port = authority.substr(port_colon + 1);
    authority = authority.substr(0, port_colon);
    if (port.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
    if (port.size() > 5 || (!port.empty() && std::stoul(std::string(port)) > 65535))
      return std::nullopt;
    const char* own = address.scheme == "http" ? "80" : "443";
    if (port != own) address.port = std::string(port);
  }
  std::optional<std::string> host = ParsedHost(authority);
  if (!host) return std::nullopt;
  address.host = std::move(*host);
  return address;
}

// The path and query decoded, the fragment as written. A browser takes '\' in the path for
// '/', and so does the text: "host\@other" must not read as user info before another host.
std::string DecodedRest(std::string_view rest) {
  const size_t hash = rest.find('#');
  const std::string_view before = rest.substr(0, hash);
  const size_t question = before.find('?');
  std::string path(before.substr(0, question));
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string out = Decoded(path, /*plus_is_space=*/false);
  if (question != std::string_view::npos)
    out += Decoded(before.substr(question), /*plus_is_space=*/true);
  if (hash != std::string_view::npos) out += rest.substr(hash);
  return out;
}

}  // namespace

std::string VisibleText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const size_t start = i;
    const int32_t c = NextScalar(utf8, i);
    if (c < 0 || IsNeverShown(c)) {
      out += kReplacement;
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  return out;
}

std::optional<std::string> WebLinkHost(std::string_view url) {
  std::optional<WebAddress> address = ParseWebAddress(url);
  if (!address) return std::nullopt;
  return std::move(address->host);
}

std::string RefererDisplayText(std::string_view utf8) {
  const std::optional<WebAddress> address = ParseWebAddress(utf8);
  if (!address) {
    // An http or https address without a host a browser would open is shown as written.
    const std::string scheme = Lower(std::string(utf8.substr(0, utf8.find(':'))));
    const bool web = utf8.find(':') != std::string_view::npos &&
                     (scheme == "http" || scheme == "https");
    return VisibleText(web ? std::string(utf8) : Decoded(utf8, /*plus_is_space=*/true));
  }
  std::string shown = address->scheme + "://";
  if (!address->userinfo.empty()) shown += address->userinfo + "@";
  shown += address->host;
  if (!address->port.empty()) shown += ":" + address->port;
  shown += DecodedRest(address->rest);
  shown = VisibleText(shown);
  // Read again, the text must lead to the same host, or it is shown as written.
  const std::optional<std::string> again = WebLinkHost(shown);
  if (!again || *again != address->host) return VisibleText(utf8);
  return shown;
}

}  // namespace hitsieve
