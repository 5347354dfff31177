// How the crawler list's patterns are compiled, at build time and, should the built matcher not
// load, at run time: the same flags both ways.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_MATCHER_FLAGS_H_
#define HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_MATCHER_FLAGS_H_

#include <hs/hs.h>

namespace hitsieve {

// Case-sensitive, as the list means its patterns; each pattern reported once per agent.
inline constexpr unsigned kCrawlerPatternFlags = HS_FLAG_SINGLEMATCH;

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_MATCHER_FLAGS_H_
