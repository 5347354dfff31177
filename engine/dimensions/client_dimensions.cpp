// Browsers, systems and countries: each record's row is a function of the collector's agent or
// address number, so each number is classified once and each day's rows are then found by a
// small class number, without packing a key per record.
#include "engine/dimensions/client_dimensions.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/dimensions/agent_parser.h"
#include "engine/dimensions/country_database.h"
#include "engine/stats_collector.h"

namespace hitsieve {

namespace {

// What the agent rules say of each distinct agent text, shared by the browsers' and the
// systems' dimensions of every part of a run: an agent is parsed once per run, not once per
// block and dimension.
class AgentClasses {
 public:
  AgentInfo Get(std::string_view agent) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (const auto found = known_.find(agent); found != known_.end()) return found->second;
    }
    // Parsed without the lock: two threads may parse one agent at once, to the same result.
    AgentInfo info = AgentParser::Builtin().Parse(agent);
    std::lock_guard<std::mutex> lock(mutex_);
    known_.emplace(std::string(agent), info);
    return info;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, AgentInfo, ByteStringHash, std::equal_to<>> known_;
};

// The row (key, sub) a record belongs to.
struct RowClass {
  std::string key, sub;
};

// Rows (key, sub) numbered 0, 1, 2... in the order they are first named.
class RowClasses {
 public:
  uint32_t Number(std::string_view key, std::string_view sub) {
    // The key's length first, so that the two texts keep apart whatever bytes they hold.
    const auto length = static_cast<uint32_t>(key.size());
    packed_.assign(reinterpret_cast<const char*>(&length), sizeof length);
    packed_.append(key);
    packed_.append(sub);
    const auto [at, added] =
        numbers_.try_emplace(packed_, static_cast<uint32_t>(classes_.size()));
    if (added) classes_.push_back({std::string(key), std::string(sub)});
    return at->second;
  }
  const RowClass& operator[](uint32_t number) const { return classes_[number]; }
  size_t size() const { return classes_.size(); }

 private:
  std::vector<RowClass> classes_;
  std::unordered_map<std::string, uint32_t, ByteStringHash, std::equal_to<>> numbers_;
  std::string packed_;
};

// Counts each counted record into the row of its number's class: views, and the visitor.
class ClassifiedDimension : public Dimension {
 public:
  void OnRecord(const DimensionInput& input, DimensionTable& table) override {
    if (!input.counted) return;
    const uint32_t number = by_address_ ? input.address : input.agent;
    if (number >= class_of_.size()) class_of_.resize(size_t{number} + 1, kNotClassified);
    uint32_t& known = class_of_[number];
    if (known == kNotClassified) {
      const RowClass named = ClassOf(by_address_ ? input.record.ip : input.record.user_agent);
      known = classes_.Number(named.key, named.sub);
    }
    const uint32_t row_class = known;
    if (input.record.date != day_) {
      day_.assign(input.record.date);
      ++generation_;  // every row found so far belongs to another day
    }
    if (row_class >= rows_.size()) rows_.resize(classes_.size());
    DayRow& row = rows_[row_class];
    if (row.generation != generation_) {
      const RowClass& named = classes_[row_class];
      row = {generation_, &table.At(day_, named.key, named.sub)};
    }
    // The visitors are the day's, split by class when the rows are read.
    ++row.cell->counts[0];
  }

  VisitorsBy VisitorsFrom() const override {
    return by_address_ ? VisitorsBy::kAddress : VisitorsBy::kAgent;
  }
  void RowOfVisitor(std::string_view text, std::string& key, std::string& sub) const override {
    RowClass named = ClassOf(text);
    key = std::move(named.key);
    sub = std::move(named.sub);
  }
  bool KnownClass(uint32_t number, uint32_t& number_class) const override {
    if (number >= class_of_.size() || class_of_[number] == kNotClassified) return false;
    number_class = class_of_[number];
    return true;
  }
  void ClassRow(uint32_t number_class, std::string& key, std::string& sub) const override {
    key = classes_[number_class].key;
    sub = classes_[number_class].sub;
  }
  void AbsorbKnown(const Dimension& later, const std::vector<uint32_t>& addresses,
                   const std::vector<uint32_t>& agents) override {
    const auto* other = dynamic_cast<const ClassifiedDimension*>(&later);
    if (other == nullptr || other->by_address_ != by_address_) return;
    const std::vector<uint32_t>& ours = by_address_ ? addresses : agents;
    std::vector<uint32_t> class_of_theirs(other->classes_.size(), kNotClassified);
    for (uint32_t number = 0; number < other->class_of_.size() && number < ours.size(); ++number) {
      const uint32_t theirs = other->class_of_[number];
      if (theirs == kNotClassified) continue;
      const uint32_t mine = ours[number];
      if (mine >= class_of_.size()) class_of_.resize(size_t{mine} + 1, kNotClassified);
      if (class_of_[mine] != kNotClassified) continue;
      if (class_of_theirs[theirs] == kNotClassified)
        class_of_theirs[theirs] = classes_.Number(other->classes_[theirs].key,
                                                  other->classes_[theirs].sub);
      class_of_[mine] = class_of_theirs[theirs];
    }
  }

 protected:
  explicit ClassifiedDimension(bool by_address) : by_address_(by_address) {}
  // The class of an agent or address text (the one the dimension is by); thread-safe.
  virtual RowClass ClassOf(std::string_view text) const = 0;

 private:
  static constexpr uint32_t kNotClassified = ~uint32_t{0};
  struct DayRow {
    uint64_t generation = 0;
    DimensionCell* cell = nullptr;  // cells never move in the table
  };

  const bool by_address_;
  std::vector<uint32_t> class_of_;  // by agent or address number
  RowClasses classes_;
  std::string day_ = std::string(1, '\0');  // no day key is a lone NUL
  uint64_t generation_ = 1;
  std::vector<DayRow> rows_;  // by class number, of day_ when of generation_
};

class BrowsersDimension : public ClassifiedDimension {
 public:
  explicit BrowsersDimension(std::shared_ptr<AgentClasses> agents)
      : ClassifiedDimension(/*by_address=*/false), agents_(std::move(agents)) {}
  const DimensionShape& Shape() const override { return BrowsersShape(); }
  std::string Version() const override { return std::string(AgentParser::Builtin().Version()); }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<BrowsersDimension>(agents_);
  }

 private:
  RowClass ClassOf(std::string_view agent) const override {
    AgentInfo info = agents_->Get(agent);
    return {std::move(info.browser), std::move(info.browser_major)};
  }
  std::shared_ptr<AgentClasses> agents_;
};

class SystemsDimension : public ClassifiedDimension {
 public:
  explicit SystemsDimension(std::shared_ptr<AgentClasses> agents)
      : ClassifiedDimension(/*by_address=*/false), agents_(std::move(agents)) {}
  const DimensionShape& Shape() const override { return SystemsShape(); }
  std::string Version() const override { return std::string(AgentParser::Builtin().Version()); }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<SystemsDimension>(agents_);
  }

 private:
  RowClass ClassOf(std::string_view agent) const override {
    AgentInfo info = agents_->Get(agent);
    return {std::move(info.system), std::string(DeviceKey(info.device))};
  }
  std::shared_ptr<AgentClasses> agents_;
};

class CountriesDimension : public ClassifiedDimension {
 public:
  explicit CountriesDimension(std::shared_ptr<const CountryDatabase> database)
      : ClassifiedDimension(/*by_address=*/true), database_(std::move(database)) {}
  const DimensionShape& Shape() const override { return CountriesShape(); }
  std::string Version() const override { return database_->BuildId(); }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<CountriesDimension>(database_);
  }

 private:
  RowClass ClassOf(std::string_view address) const override {
    return {database_->Lookup(address), {}};  // kUnknownCountry when not found
  }
  std::shared_ptr<const CountryDatabase> database_;
};

// One cache for both agent dimensions of a run: MakeDimensions makes browsers just before
// systems, and the second takes what the first left here.
std::shared_ptr<AgentClasses>& AgentClassesBeingMade() {
  static thread_local std::shared_ptr<AgentClasses> made;
  return made;
}

// The row (key, sub) of each visitor of a collector's days for `dimension` (whose VisitorsFrom
// is not kRows): each agent or address classified once, and the rows numbered 0, 1, 2...
class VisitorRowClasses {
 public:
  VisitorRowClasses(const StatsCollector& collector, const Dimension& dimension);
  // The number of the row of `visitor` (a VisitorKey in the collector's numbers).
  uint32_t Of(uint64_t visitor);
  std::string_view Key(uint32_t row) const { return rows_[row].key; }
  std::string_view Sub(uint32_t row) const { return rows_[row].sub; }
  size_t size() const { return rows_.size(); }

 private:
  const StatsCollector& collector_;
  const Dimension& dimension_;
  const bool by_address_;
  std::vector<uint32_t> row_of_;  // by agent or address number; ~0 until classified
  RowClasses rows_;
  std::vector<uint32_t> row_of_class_;  // by the dimension's own class numbers; ~0 until seen
  std::string key_, sub_;
};

}  // namespace

VisitorRowClasses::VisitorRowClasses(const StatsCollector& collector, const Dimension& dimension)
    : collector_(collector),
      dimension_(dimension),
      by_address_(dimension.VisitorsFrom() == Dimension::VisitorsBy::kAddress),
      row_of_(by_address_ ? collector.AddressCount() : collector.AgentCount(), ~uint32_t{0}) {}

uint32_t VisitorRowClasses::Of(uint64_t visitor) {
  const uint32_t number = by_address_ ? VisitorAddress(visitor) : VisitorAgent(visitor);
  if (number < row_of_.size() && row_of_[number] != ~uint32_t{0}) return row_of_[number];
  uint32_t row = 0;
  if (uint32_t known = 0; number < row_of_.size() && dimension_.KnownClass(number, known)) {
    // Classified while counting: each of the dimension's classes is named once.
    if (known >= row_of_class_.size()) row_of_class_.resize(size_t{known} + 1, ~uint32_t{0});
    if (row_of_class_[known] == ~uint32_t{0}) {
      dimension_.ClassRow(known, key_, sub_);
      row_of_class_[known] = rows_.Number(key_, sub_);
    }
    row = row_of_class_[known];
  } else {
    const std::string hand = "#" + std::to_string(number);  // a collector filled by hand
    const std::string_view text = number >= row_of_.size() ? std::string_view(hand)
                                  : by_address_            ? collector_.AddressText(number)
                                                           : collector_.AgentText(number);
    dimension_.RowOfVisitor(text, key_, sub_);
    row = rows_.Number(key_, sub_);
  }
  if (number < row_of_.size()) row_of_[number] = row;
  return row;
}

void ForEachDayVisitorRow(
    const StatsCollector& collector, const Dimension& dimension,
    const std::function<void(std::string_view day, std::string_view key, std::string_view sub,
                             const std::vector<uint64_t>& visitors)>& visit) {
  // Each day's visitors put into their rows' lists.
  VisitorRowClasses rows(collector, dimension);
  std::vector<std::vector<uint64_t>> lists;
  for (const auto& [day, stats] : collector.days) {
    stats.visitors.ForEach([&](uint64_t visitor) {
      const uint32_t row = rows.Of(visitor);
      if (row >= lists.size()) lists.resize(rows.size());
      lists[row].push_back(visitor);
    });
    for (uint32_t k = 0; k < lists.size(); ++k) {
      if (lists[k].empty()) continue;
      visit(day, rows.Key(k), rows.Sub(k), lists[k]);
      lists[k].clear();
    }
  }
}

const DimensionShape& BrowsersShape() {
  static const DimensionShape shape{"browsers", {"views"}, /*daily=*/true, /*sub=*/true,
                                  /*visitors=*/true};
  return shape;
}

std::unique_ptr<Dimension> MakeBrowsersDimension(const DimensionOptions& options) {
  if (!options.agents) return nullptr;
  AgentClassesBeingMade() = std::make_shared<AgentClasses>();
  return std::make_unique<BrowsersDimension>(AgentClassesBeingMade());
}

const DimensionShape& SystemsShape() {
  static const DimensionShape shape{"systems", {"views"}, /*daily=*/true, /*sub=*/true,
                                  /*visitors=*/true};
  return shape;
}

std::unique_ptr<Dimension> MakeSystemsDimension(const DimensionOptions& options) {
  if (!options.agents) return nullptr;
  std::shared_ptr<AgentClasses> agents = std::move(AgentClassesBeingMade());
  if (agents == nullptr) agents = std::make_shared<AgentClasses>();
  return std::make_unique<SystemsDimension>(std::move(agents));
}

const DimensionShape& CountriesShape() {
  static const DimensionShape shape{"countries", {"views"}, /*daily=*/true, /*sub=*/false,
                                  /*visitors=*/true};
  return shape;
}

std::unique_ptr<Dimension> MakeCountriesDimension(const DimensionOptions& options) {
  if (options.countries == nullptr) return nullptr;
  return std::make_unique<CountriesDimension>(options.countries);
}

}  // namespace hitsieve
