// The dimension table's keys, and the one list of dimensions.
#include "engine/dimensions/dimension.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

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

}  // namespace

std::string DimensionTableName(std::string_view name) { return "dim_" + std::string(name); }

uint32_t DimensionTable::Tag(const RowKey& key) {
  // The three numbers folded by wide multiplications, as the text hash folds its words.
  const unsigned __int128 first =
      static_cast<unsigned __int128>((uint64_t{key.day} << 32 | key.key) ^ 0xa0761d6478bd642fULL) *
      (uint64_t{key.sub} ^ 0xe7037ed1a0b428dbULL);
  const uint64_t folded = static_cast<uint64_t>(first) ^ static_cast<uint64_t>(first >> 64);
  return static_cast<uint32_t>(folded ^ folded >> 32);
}

size_t DimensionTable::SlotOf(const RowKey& key, uint32_t tag) const {
  const size_t mask = slots_.size() - 1;
  size_t i = tag & mask;
  while (slots_[i].row != 0 && !(slots_[i].tag == tag && keys_[slots_[i].row - 1] == key))
    i = (i + 1) & mask;
  return i;
}

size_t DimensionTable::AddRow(const RowKey& key, uint32_t tag, size_t slot) {
  if (keys_.size() >= std::numeric_limits<uint32_t>::max() - 1)
    throw std::length_error("too many rows in a dimension");
  const size_t row = keys_.size();
  keys_.push_back(key);
  cells_.emplace_back();
  // Kept at most 70% full; the slots double and every row is placed again by its kept tag.
  if (keys_.size() * 10 > slots_.size() * 7) {
    std::vector<Slot> slots(std::max<size_t>(slots_.size() * 2, 64));
    const size_t mask = slots.size() - 1;
    for (const Slot& old : slots_) {
      if (old.row == 0) continue;
      size_t at = old.tag & mask;
      while (slots[at].row != 0) at = (at + 1) & mask;
      slots[at] = old;
    }
    slots_ = std::move(slots);
    slot = SlotOf(key, tag);
  }
  slots_[slot] = {static_cast<uint32_t>(row + 1), tag};
  return row;
}

DimensionCell& DimensionTable::At(std::string_view day, std::string_view key,
                                  std::string_view sub) {
  if (!have_day_ || texts_.Text(last_day_) != day) {
    last_day_ = texts_.Id(day);
    have_day_ = true;
  }
  if (!have_key_ || texts_.Text(last_key_) != key) {
    last_key_ = texts_.Id(key);
    have_key_ = true;
  }
  const RowKey row_key{last_day_, last_key_, texts_.Id(sub)};
  const uint32_t tag = Tag(row_key);
  if (slots_.empty()) return cells_[AddRow(row_key, tag, 0)];
  const size_t slot = SlotOf(row_key, tag);
  if (slots_[slot].row != 0) return cells_[slots_[slot].row - 1];
  return cells_[AddRow(row_key, tag, slot)];
}

size_t DimensionTable::RowOf(std::string_view day, std::string_view key,
                             std::string_view sub) const {
  RowKey row_key{};
  if (slots_.empty() || !FindText(day, row_key.day) || !FindText(key, row_key.key) ||
      !FindText(sub, row_key.sub))
    return kNoRow;
  const size_t slot = SlotOf(row_key, Tag(row_key));
  return slots_[slot].row == 0 ? kNoRow : slots_[slot].row - 1;
}

std::vector<uint32_t> DimensionTable::SortedRows() const {
  // Each text ranked once among all of the table's texts; the rows are then sorted by three
  // small numbers instead of by comparing texts.
  std::vector<uint32_t> by_text(texts_.size());
  for (uint32_t id = 0; id < by_text.size(); ++id) by_text[id] = id;
  std::sort(by_text.begin(), by_text.end(),
            [this](uint32_t a, uint32_t b) { return texts_.Text(a) < texts_.Text(b); });
  std::vector<uint32_t> rank(by_text.size());
  for (uint32_t r = 0; r < by_text.size(); ++r) rank[by_text[r]] = r;
  struct Ranked {
    uint64_t day_key;
    uint32_t sub, row;
  };
  std::vector<Ranked> ranked(keys_.size());
  for (size_t row = 0; row < keys_.size(); ++row) {
    const RowKey& key = keys_[row];
    ranked[row] = {uint64_t{rank[key.day]} << 32 | rank[key.key], rank[key.sub],
                   static_cast<uint32_t>(row)};
  }
  std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    return a.day_key != b.day_key ? a.day_key < b.day_key : a.sub < b.sub;
  });
  std::vector<uint32_t> rows(ranked.size());
  for (size_t k = 0; k < ranked.size(); ++k) rows[k] = ranked[k].row;
  return rows;
}

void DimensionTable::Absorb(DimensionTable& later,
                            const std::function<uint64_t(uint64_t)>& renumber) {
  if (&later == this) return;
  std::vector<uint32_t> ours(later.texts_.size());
  for (uint32_t id = 0; id < ours.size(); ++id) ours[id] = texts_.Id(later.texts_.Text(id));
  for (size_t row = 0; row < later.keys_.size(); ++row) {
    const RowKey& theirs = later.keys_[row];
    const RowKey key{ours[theirs.day], ours[theirs.key], ours[theirs.sub]};
    const uint32_t tag = Tag(key);
    const size_t slot = slots_.empty() ? 0 : SlotOf(key, tag);
    DimensionCell& cell = later.cells_[row];
    if (slots_.empty() || slots_[slot].row == 0) {
      // A row only `later` has moves over whole; only its visitors are numbered again.
      DimensionCell& into = cells_[AddRow(key, tag, slot)];
      into.counts = std::move(cell.counts);
      if (!cell.visitors.empty()) {
        into.visitors.Reserve(cell.visitors.size());
        cell.visitors.ForEach([&](uint64_t visitor) { into.visitors.Insert(renumber(visitor)); });
      }
      continue;
    }
    DimensionCell& into = cells_[slots_[slot].row - 1];
    for (size_t c = 0; c < kDimensionCounts; ++c) {
      const int64_t count = std::as_const(cell.counts)[c];
      if (count != 0) into.counts[c] = SaturatingAdd(into.counts[c], count);
    }
    if (!cell.visitors.empty()) {
      into.visitors.Reserve(into.visitors.size() + cell.visitors.size());
      cell.visitors.ForEach([&](uint64_t visitor) { into.visitors.Insert(renumber(visitor)); });
    }
  }
  later = DimensionTable();
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
