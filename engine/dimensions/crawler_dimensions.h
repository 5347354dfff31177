// The crawlers and the search engines of today as dimensions: every known crawler's requests
// per day, and the arrivals from search engines per day and phrase.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_DIMENSIONS_H_
#define HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_DIMENSIONS_H_

#include <memory>

#include "engine/dimensions/dimension.h"

namespace hitsieve {

// Per day and crawler of the list (key: its name; sub: its category): requests, those that pass
// the page filter, traffic, and the requests by status class. Counts every request of a known
// crawler, described robots included, whichever --crawlers choice.
const DimensionShape& CrawlersShape();
std::unique_ptr<Dimension> MakeCrawlersDimension(const DimensionOptions& options);

// Per day, search engine (key) and phrase (sub, Windows-1251 as the described phrases; empty
// for "(not provided)"): arrivals, among the requests the daily views count.
const DimensionShape& EnginesShape();
std::unique_ptr<Dimension> MakeEnginesDimension(const DimensionOptions& options);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_DIMENSIONS_H_
