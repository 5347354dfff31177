#ifndef HITSIEVE_EXPORT_REFERER_TEXT_H_
#define HITSIEVE_EXPORT_REFERER_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

// How a referer reads where people see it: the link text of the report page and the tooltip of
// the desktop's referer list. A referer comes from whoever sent the request, so its text is
// made to name the site its link opens: decoding %XY sequences must never make one host look
// like another, and no character may reorder or hide what is shown. No Qt.
namespace hitsieve {

// The host a browser opens for the http or https address `url` (UTF-8): lower case, in its
// punycode form when it is not plain ASCII, a numeric IPv4 address in dotted form, an IPv6
// address with its brackets. Nothing when a browser would not take it as an address with a host.
std::optional<std::string> WebLinkHost(std::string_view url);

// A referer (UTF-8) as shown to people.
// - An http or https address: the scheme, any user info as written, the host as WebLinkHost
//   gives it, the port unless it is the scheme's own, then the path and the query with %XY
//   sequences decoded ('+' too in the query) and the fragment as written. When the address has
//   no host a browser would take, or the decoded text would name another host, the text as
//   written.
// - Any other text (it is never a link): %XY and '+' decoded throughout.
// Decoded bytes are read as UTF-8 or, failing that, as Windows-1251. In the result, control
// characters and the characters that reorder or hide text (bidi controls and isolates, the
// Arabic letter mark, zero-width and other invisible format characters, line and paragraph
// separators) show as U+FFFD, as do bytes that are not UTF-8.
std::string RefererDisplayText(std::string_view utf8);

// `utf8` with the characters RefererDisplayText never shows replaced by U+FFFD.
std::string VisibleText(std::string_view utf8);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_REFERER_TEXT_H_
