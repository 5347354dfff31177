// Small helpers on referer texts.
#ifndef HITSIEVE_ENGINE_REFERER_H_
#define HITSIEVE_ENGINE_REFERER_H_

#include <string_view>

namespace hitsieve {

// The text between the first "://" and the next '/', or the whole referer when either is missing.
std::string_view RefererHost(std::string_view referer);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_REFERER_H_
