// CrawlerList: the crawlers, feed readers, monitors and scripts that the maintained crawler list
// knows, recognised by their user agents.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_LIST_H_
#define HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_LIST_H_

#include <memory>
#include <span>
#include <string_view>

namespace hitsieve {

enum class CrawlerCategory { kSearchEngine, kAi, kSeoTool, kFeedReader, kMonitoring,
                             kArchive, kTool, kOther };
inline constexpr int kCrawlerCategoryCount = 8;

// "search engine", "AI", "SEO tool", "feed reader", "monitoring", "archive", "tool/script",
// "other".
std::string_view CategoryKey(CrawlerCategory category);

// Which requests of crawlers the five described tables leave out: those of the described
// robots only (as always), or also those of every other crawler the list knows.
enum class CrawlerMode { kDescribed, kAll };
// "described", "all": as the command line writes the choice and the statistics record it.
std::string_view CrawlerModeKey(CrawlerMode mode);

struct KnownCrawler {
  std::string_view name;   // readable, e.g. "Bingbot"
  std::string_view token;  // as in agents, e.g. "bingbot"
  CrawlerCategory category;
};

// One pattern of the list as the build compiled it in. `rank` orders the patterns that find
// the same agent: the higher wins, then the earlier.
struct CrawlerEntry {
  const char* pattern;  // a regular expression, searched for case-sensitively
  const char* name;
  const char* token;
  CrawlerCategory category;
  int rank;
};

// The crawler list compiled into one multi-pattern matcher. Built once per process (Builtin);
// Match may be called from several threads at once, on any bytes of any length, and never
// throws. A call costs a few microseconds: callers look up each distinct agent once.
class CrawlerList {
 public:
  // The list compiled in at build time.
  static const CrawlerList& Builtin();

  // The crawler that `agent` names, or nullptr when the list knows none. When several of the
  // list's patterns find the agent, the one that says most wins (see CrawlerEntry::rank).
  const KnownCrawler* Match(std::string_view agent) const;

  // What identifies the list, e.g. "crawler-user-agents 1.60.0"; recorded with the statistics.
  std::string_view Version() const;

  // The patterns, in the list's order; Match's answers point into a table of the same order.
  std::span<const CrawlerEntry> Entries() const;
  // The index in Entries() of a crawler Match returned.
  size_t IndexOf(const KnownCrawler* crawler) const;

  ~CrawlerList();
  CrawlerList(const CrawlerList&) = delete;
  CrawlerList& operator=(const CrawlerList&) = delete;

 private:
  CrawlerList();
  struct Matcher;
  std::unique_ptr<Matcher> matcher_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_CRAWLER_LIST_H_
