// What the crawlers and engines dimensions take from a record.
#include "engine/dimensions/crawler_dimensions.h"

#include <cstdint>
#include <string>

#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/search_referers.h"
#include "engine/text.h"

namespace hitsieve {

namespace {

// The columns of the crawlers table, in the shape's order.
enum CrawlerCount { kRequests, kPages, kTraffic, kStatus2xx, kStatus3xx, kStatus4xx, kStatus5xx };

// Bumped when the engines or the phrase parameters change, so that counts of two definitions
// are never added up.
constexpr const char kEnginesVersion[] = "search referers 1";

class CrawlersDimension : public Dimension {
 public:
  const DimensionShape& Shape() const override { return CrawlersShape(); }
  std::string Version() const override { return std::string(CrawlerList::Builtin().Version()); }
  void OnRecord(const DimensionInput& input, DimensionTable& table) override {
    const KnownCrawler* crawler = input.crawler;
    if (crawler == nullptr) return;
    const RequestRecord& record = input.record;
    DimensionCell& cell = table.At(record.date, crawler->name, CategoryKey(crawler->category));
    ++cell.counts[kRequests];
    if (input.page) ++cell.counts[kPages];
    // bytes is never negative; the sum stops at the limit instead of wrapping.
    cell.counts[kTraffic] = record.bytes > INT64_MAX - cell.counts[kTraffic]
                                ? INT64_MAX
                                : cell.counts[kTraffic] + record.bytes;
    const int32_t status = record.status;
    if (status >= 200 && status < 600) ++cell.counts[kStatus2xx + (status / 100 - 2)];
  }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<CrawlersDimension>();
  }
};

class EnginesDimension : public Dimension {
 public:
  const DimensionShape& Shape() const override { return EnginesShape(); }
  std::string Version() const override { return kEnginesVersion; }
  void OnRecord(const DimensionInput& input, DimensionTable& table) override {
    const RequestRecord& record = input.record;
    if (!input.counted || record.referer.empty() || record.referer == "-") return;
    // The phrase kept as every text of the statistics is: Windows-1251, which the reports show
    // as UTF-8.
    const bool found = input.search_looked_up
                           ? RecogniseSearchRefererAsStored(record.referer, input.search_engine,
                                                            input.search_query, arrival_)
                           : RecogniseSearchRefererAsStored(record.referer, arrival_);
    if (!found) return;
    ++table.At(record.date, arrival_.engine, arrival_.phrase).counts[0];
  }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<EnginesDimension>();
  }

 private:
  SearchArrival arrival_;  // reused for every record
};

}  // namespace

const DimensionShape& CrawlersShape() {
  static const DimensionShape shape{
      "crawlers",
      {"requests", "pages", "traffic", "status_2xx", "status_3xx", "status_4xx", "status_5xx"},
      /*daily=*/true, /*sub=*/true, /*visitors=*/false};
  return shape;
}

std::unique_ptr<Dimension> MakeCrawlersDimension(const DimensionOptions& options) {
  if (!options.builtin) return nullptr;
  return std::make_unique<CrawlersDimension>();
}

const DimensionShape& EnginesShape() {
  static const DimensionShape shape{"engines", {"arrivals"}, /*daily=*/true, /*sub=*/true,
                                  /*visitors=*/false};
  return shape;
}

std::unique_ptr<Dimension> MakeEnginesDimension(const DimensionOptions& options) {
  if (!options.builtin) return nullptr;
  return std::make_unique<EnginesDimension>();
}

}  // namespace hitsieve
