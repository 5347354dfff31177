// The dimension table's keys, and the one list of dimensions.
#include "engine/dimensions/dimension.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/dimensions/builtin_dimensions.h"
#include "engine/dimensions/crawler_dimensions.h"
#include "engine/dimensions/client_dimensions.h"

namespace hitsieve {

namespace {

// The list: a dimension is added here (its shape, and how a run makes it: null when the run's
// options leave it out). The order is that of the reports and of the stored definitions.
struct ListEntry {
  const DimensionShape& (*shape)();
  std::unique_ptr<Dimension> (*make)(const DimensionOptions& options);
};

const ListEntry kDimensionList[] = {
    {StatusShape, MakeStatusDimension},
    {NotFoundShape, MakeNotFoundDimension},
    {HoursShape, MakeHoursDimension},
    {CrawlersShape, MakeCrawlersDimension},
    {EnginesShape, MakeEnginesDimension},
    {BrowsersShape, MakeBrowsersDimension},
    {SystemsShape, MakeSystemsDimension},
    {CountriesShape, MakeCountriesDimension},
};

void AppendLength(std::string& out, size_t length) {
  const uint32_t value = static_cast<uint32_t>(length);
  char bytes[4];
  std::memcpy(bytes, &value, sizeof bytes);
  out.append(bytes, sizeof bytes);
}

uint32_t ReadLength(std::string_view packed, size_t at) {
  uint32_t value = 0;
  if (at + 4 <= packed.size()) std::memcpy(&value, packed.data() + at, sizeof value);
  return value;
}

}  // namespace

std::string DimensionTableName(std::string_view name) { return "dim_" + std::string(name); }

// A packed key: the day's and the key's lengths (4 bytes each), then the three texts back to
// back; the sub is what follows the key. Texts of any bytes keep apart.
void DimensionTable::Pack(std::string& out, std::string_view day, std::string_view key,
                          std::string_view sub) {
  out.clear();
  AppendLength(out, day.size());
  AppendLength(out, key.size());
  out.append(day);
  out.append(key);
  out.append(sub);
}

DimensionTable::Key DimensionTable::Unpack(std::string_view packed) {
  const size_t day = ReadLength(packed, 0);
  const size_t key = ReadLength(packed, 4);
  Key out;
  out.day = packed.substr(8, day);
  out.key = packed.substr(8 + day, key);
  out.sub = packed.substr(8 + day + key);
  return out;
}

DimensionCell& DimensionTable::At(std::string_view day, std::string_view key,
                                  std::string_view sub) {
  Pack(packed_, day, key, sub);
  if (const auto found = cells.find(packed_); found != cells.end()) return found->second;
  return cells.emplace(Keep(packed_), DimensionCell{}).first->second;
}

std::string_view DimensionTable::Keep(std::string_view text) {
  constexpr size_t kBlock = 64 * 1024;
  if (text.size() > kBlock / 4) {  // a long text gets a block of its own
    texts_.push_back(std::make_unique<char[]>(text.size()));
    std::memcpy(texts_.back().get(), text.data(), text.size());
    return {texts_.back().get(), text.size()};
  }
  if (text.size() > left_) {
    texts_.push_back(std::make_unique<char[]>(kBlock));
    free_ = texts_.back().get();
    left_ = kBlock;
  }
  char* kept = free_;
  if (!text.empty()) std::memcpy(kept, text.data(), text.size());
  free_ += text.size();
  left_ -= text.size();
  return {kept, text.size()};
}

void DimensionTable::AdoptTextsOf(DimensionTable& other) {
  if (&other == this) return;
  for (auto& block : other.texts_) texts_.push_back(std::move(block));
  other.texts_.clear();
  other.free_ = nullptr;
  other.left_ = 0;
}

std::vector<std::unique_ptr<Dimension>> MakeDimensions(const DimensionOptions& options) {
  std::vector<std::unique_ptr<Dimension>> made;
  for (const ListEntry& entry : kDimensionList) {
    if (std::unique_ptr<Dimension> dimension = entry.make(options))
      made.push_back(std::move(dimension));
  }
  return made;
}

const std::vector<const DimensionShape*>& KnownDimensionShapes() {
  static const std::vector<const DimensionShape*> shapes = [] {
    std::vector<const DimensionShape*> list;
    for (const ListEntry& entry : kDimensionList) {
      // A row holds only kDimensionCounts counts.
      if (entry.shape().counts.size() > kDimensionCounts)
        throw std::logic_error("dimension " + std::string(entry.shape().name) + " has too many counts");
      list.push_back(&entry.shape());
    }
    return list;
  }();
  return shapes;
}

const DimensionShape* FindDimensionShape(std::string_view name) {
  for (const DimensionShape* shape : KnownDimensionShapes()) {
    if (shape->name == name) return shape;
  }
  return nullptr;
}

}  // namespace hitsieve
