// CountsByEngine: a small in-place map of counts per search engine.
#ifndef HITSIEVE_ENGINE_COUNTS_BY_ENGINE_H_
#define HITSIEVE_ENGINE_COUNTS_BY_ENGINE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <utility>

#include <boost/container/small_vector.hpp>

namespace hitsieve {

// Counts by search engine id, in id order, as a map of them would hold them. A page and a
// phrase count for a few engines at most, so the entries lie in the object itself, one after
// another: counting a search costs no walk through nodes elsewhere in memory, and copying or
// freeing the counts no allocation. Ids beyond the first six counted move to the heap.
class CountsByEngine {
 public:
  using value_type = std::pair<int, int32_t>;
  using Entries = boost::container::small_vector<value_type, 6>;
  using iterator = Entries::iterator;
  using const_iterator = Entries::const_iterator;

  CountsByEngine() = default;
  // As a map built from `entries`: an id given twice keeps its first count.
  CountsByEngine(std::initializer_list<value_type> entries) {
    for (const auto& [id, count] : entries) {
      const auto at = LowerBound(id);
      if (at == entries_.end() || at->first != id) entries_.insert(at, {id, count});
    }
  }

  // The count of `id`, added as 0 when missing.
  int32_t& operator[](int id) {
    auto at = LowerBound(id);
    if (at == entries_.end() || at->first != id) at = entries_.insert(at, {id, 0});
    return at->second;
  }
  // Throws std::out_of_range when `id` has no count.
  int32_t at(int id) const {
    const auto found = find(id);
    if (found == end()) throw std::out_of_range("no count for this engine");
    return found->second;
  }
  const_iterator find(int id) const {
    const auto at = LowerBound(id);
    return at != entries_.end() && at->first == id ? at : entries_.end();
  }

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  void clear() { entries_.clear(); }

  friend bool operator==(const CountsByEngine& a, const CountsByEngine& b) {
    return a.entries_ == b.entries_;
  }

 private:
  template <typename Held>
  static auto LowerBoundIn(Held& entries, int id) {
    return std::lower_bound(entries.begin(), entries.end(), id,
                            [](const value_type& entry, int key) { return entry.first < key; });
  }
  iterator LowerBound(int id) { return LowerBoundIn(entries_, id); }
  const_iterator LowerBound(int id) const { return LowerBoundIn(entries_, id); }

  Entries entries_;  // ascending ids, each once
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_COUNTS_BY_ENGINE_H_
