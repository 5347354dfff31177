// The share of a log's requests that come from crawlers, by category: the described robots
// (the six engines' tokens) first, then the categories of the crawler list, then the rest.
// Usage: crawler_share LOGFILE...   (combined format; a .gz name is decompressed)
// Each distinct agent is classified once, as the collector does.
#include <cstdio>
#include <exception>
#include <string>
#include <unordered_map>

#include "engine/dimensions/crawler_list.h"
#include "engine/record_sink.h"
#include "engine/search_engine.h"
#include "engine/standard_engines.h"

namespace {

using hitsieve::CrawlerList;
using hitsieve::KnownCrawler;

constexpr int kDescribed = hitsieve::kCrawlerCategoryCount;  // a described robot
constexpr int kPeople = kDescribed + 1;                      // no crawler either knows

class CrawlerShare : public hitsieve::RecordSink {
 public:
  explicit CrawlerShare(const hitsieve::SearchEngineRegistry& registry) : registry_(registry) {}
  void OnRecord(const hitsieve::RequestRecord& record) override {
    auto [it, added] = kinds_.try_emplace(std::string(record.user_agent), kPeople);
    if (added) {
      if (registry_.FindRobot(record.user_agent) != nullptr) {
        it->second = kDescribed;
      } else if (const KnownCrawler* crawler = CrawlerList::Builtin().Match(record.user_agent)) {
        it->second = static_cast<int>(crawler->category);
      }
    }
    ++counts_[it->second];
    ++total_;
  }
  void Print() const {
    std::printf("%lld requests, %zu distinct agents (%s)\n", total_, kinds_.size(),
                std::string(CrawlerList::Builtin().Version()).c_str());
    for (int kind = 0; kind <= kPeople; ++kind) {
      const std::string name =
          kind == kDescribed ? "described robots"
          : kind == kPeople  ? "no known crawler"
                             : std::string(hitsieve::CategoryKey(static_cast<hitsieve::CrawlerCategory>(kind)));
      std::printf("  %-18s %10lld  %6.2f%%\n", name.c_str(), counts_[kind],
                  total_ == 0 ? 0.0 : 100.0 * static_cast<double>(counts_[kind]) / static_cast<double>(total_));
    }
  }

 private:
  const hitsieve::SearchEngineRegistry& registry_;
  std::unordered_map<std::string, int> kinds_;
  long long counts_[kPeople + 1] = {};
  long long total_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: crawler_share LOGFILE...\n");
    return 2;
  }
  hitsieve::SearchEngineRegistry registry;
  hitsieve::RegisterStandardEngines(registry);
  CrawlerShare share(registry);
  try {
    for (int k = 1; k < argc; ++k) share.ProcessFile(argv[k]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "crawler_share: %s\n", e.what());
    return 1;
  }
  share.Print();
  return 0;
}
