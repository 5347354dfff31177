// The crawler list: the package's patterns, made into tables and one compiled Hyperscan
// database at build time (make_crawler_list.py, make_crawler_matcher), loaded once per process.
#include "engine/dimensions/crawler_list.h"

#include <hs/hs.h>

#include <limits>
#include <mutex>
#include <vector>

#include "engine/dimensions/crawler_matcher_flags.h"

namespace hitsieve {

namespace {
#include "crawler_entries.inc"
#include "crawler_matcher.inc"

// The best pattern found so far in one agent.
struct Best {
  int index = -1;
  int rank = std::numeric_limits<int>::min();
};

int OnMatch(unsigned int id, unsigned long long, unsigned long long, unsigned int, void* context) {
  Best& best = *static_cast<Best*>(context);
  const int rank = kCrawlerEntries[id].rank;
  const int index = static_cast<int>(id);
  if (rank > best.rank || (rank == best.rank && index < best.index)) best = {index, rank};
  return 0;  // go on: a later pattern may say more
}

}  // namespace

std::string_view CategoryKey(CrawlerCategory category) {
  switch (category) {
    case CrawlerCategory::kSearchEngine: return "search engine";
    case CrawlerCategory::kAi: return "AI";
    case CrawlerCategory::kSeoTool: return "SEO tool";
    case CrawlerCategory::kFeedReader: return "feed reader";
    case CrawlerCategory::kMonitoring: return "monitoring";
    case CrawlerCategory::kArchive: return "archive";
    case CrawlerCategory::kTool: return "tool/script";
    case CrawlerCategory::kOther: return "other";
  }
  return "other";
}

std::string_view CrawlerModeKey(CrawlerMode mode) {
  return mode == CrawlerMode::kAll ? "all" : "described";
}

// The database and the scratch spaces of the threads that scan with it. A scratch space serves
// one scan at a time, so each call borrows one from the pool, or clones a new one when all are
// in use (a run has as many as it has threads).
struct CrawlerList::Matcher {
  hs_database_t* database = nullptr;
  std::vector<KnownCrawler> crawlers;
  std::mutex mutex;
  std::vector<hs_scratch_t*> idle;  // guarded by mutex
  hs_scratch_t* prototype = nullptr;

  ~Matcher() {
    for (hs_scratch_t* scratch : idle) hs_free_scratch(scratch);
    if (prototype != nullptr) hs_free_scratch(prototype);
    if (database != nullptr) hs_free_database(database);
  }

  hs_scratch_t* Borrow() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!idle.empty()) {
      hs_scratch_t* scratch = idle.back();
      idle.pop_back();
      return scratch;
    }
    hs_scratch_t* scratch = nullptr;
    if (prototype == nullptr || hs_clone_scratch(prototype, &scratch) != HS_SUCCESS) return nullptr;
    return scratch;
  }

  void GiveBack(hs_scratch_t* scratch) {
    std::lock_guard<std::mutex> lock(mutex);
    idle.push_back(scratch);
  }
};

namespace {

// The database built with the program; when this library's Hyperscan cannot load it (another
// version), the same patterns compiled now, with the same flags.
hs_database_t* LoadDatabase() {
  hs_database_t* database = nullptr;
  if (hs_deserialize_database(reinterpret_cast<const char*>(kCrawlerMatcher),
                              sizeof kCrawlerMatcher, &database) == HS_SUCCESS) {
    return database;
  }
  std::vector<const char*> patterns;
  std::vector<unsigned> flags, ids;
  for (unsigned id = 0; id < std::size(kCrawlerEntries); ++id) {
    patterns.push_back(kCrawlerEntries[id].pattern);
    flags.push_back(kCrawlerPatternFlags);
    ids.push_back(id);
  }
  hs_compile_error_t* error = nullptr;
  if (hs_compile_multi(patterns.data(), flags.data(), ids.data(),
                       static_cast<unsigned>(patterns.size()), HS_MODE_BLOCK, nullptr, &database,
                       &error) != HS_SUCCESS) {
    hs_free_compile_error(error);
    return nullptr;  // the build compiled these very patterns: not reached
  }
  return database;
}

}  // namespace

CrawlerList::CrawlerList() : matcher_(std::make_unique<Matcher>()) {
  matcher_->crawlers.reserve(std::size(kCrawlerEntries));
  for (const CrawlerEntry& entry : kCrawlerEntries) {
    matcher_->crawlers.push_back({entry.name, entry.token, entry.category});
  }
  matcher_->database = LoadDatabase();
  if (matcher_->database != nullptr &&
      hs_alloc_scratch(matcher_->database, &matcher_->prototype) != HS_SUCCESS) {
    matcher_->prototype = nullptr;
  }
}

CrawlerList::~CrawlerList() = default;

const CrawlerList& CrawlerList::Builtin() {
  static const CrawlerList list;
  return list;
}

const KnownCrawler* CrawlerList::Match(std::string_view agent) const {
  // Hyperscan takes a 32-bit length; no agent of a log line comes near it.
  if (matcher_->database == nullptr || agent.size() > std::numeric_limits<unsigned>::max()) {
    return nullptr;
  }
  hs_scratch_t* scratch = matcher_->Borrow();
  if (scratch == nullptr) return nullptr;
  Best best;
  const hs_error_t result = hs_scan(matcher_->database, agent.data(),
                                    static_cast<unsigned>(agent.size()), 0, scratch, OnMatch, &best);
  matcher_->GiveBack(scratch);
  if (result != HS_SUCCESS || best.index < 0) return nullptr;
  return &matcher_->crawlers[static_cast<size_t>(best.index)];
}

std::string_view CrawlerList::Version() const { return HITSIEVE_CRAWLER_LIST_VERSION; }

std::span<const CrawlerEntry> CrawlerList::Entries() const { return kCrawlerEntries; }

size_t CrawlerList::IndexOf(const KnownCrawler* crawler) const {
  return static_cast<size_t>(crawler - matcher_->crawlers.data());
}

}  // namespace hitsieve
