// Referer texts: the referring host of a referer (referer.h).
#include "engine/referer.h"

namespace hitsieve {

std::string_view RefererHost(std::string_view referer) {
  const size_t scheme_end = referer.find("://");
  if (scheme_end == std::string_view::npos) return referer;
  const size_t host_begin = scheme_end + 3;
  const size_t slash = referer.find('/', host_begin);
  if (slash == std::string_view::npos) return referer;
  return referer.substr(host_begin, slash - host_begin);
}

}  // namespace hitsieve
