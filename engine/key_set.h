#ifndef HITSIEVE_ENGINE_KEY_SET_H_
#define HITSIEVE_ENGINE_KEY_SET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hitsieve {

// Hashes byte strings; transparent, so a view can be looked up without making a string.
struct ByteStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>()(text);
  }
};

// A set of 64-bit keys held in one array (open addressing, linear probing): about 14 bytes a
// key instead of a heap node each, which is what lets a day's visitors of a log of tens of
// millions of lines fit in memory. Only insertion, size and a walk over the keys are needed.
// The key kNoKey cannot be stored.
class KeySet {
 public:
  static constexpr uint64_t kNoKey = ~uint64_t{0};

  // True when `key` was not in the set yet. REQUIRES: key != kNoKey.
  bool Insert(uint64_t key);
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Calls `visit(key)` for every key, in no particular order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (size_t i = 0; i < capacity_; ++i) {
      if (slots_[i] != kNoKey) visit(slots_[i]);
    }
  }

 private:
  void Grow();

  std::unique_ptr<uint64_t[]> slots_;
  size_t capacity_ = 0;  // a power of two, or 0
  size_t size_ = 0;
};

// Texts kept once and numbered 0, 1, 2... in the order they were first seen, so that sets can
// hold small numbers instead of copies of long strings.
class TextTable {
 public:
  // The number of `text`, which is added when new.
  uint32_t Id(std::string_view text);
  std::string_view Text(uint32_t id) const { return *texts_[id]; }
  size_t size() const { return texts_.size(); }

 private:
  std::unordered_map<std::string, uint32_t, ByteStringHash, std::equal_to<>> ids_;
  std::vector<const std::string*> texts_;  // the keys of ids_, whose nodes never move
  // The text asked for last: a browser fetches a page and its images in a row, so the same
  // address and agent often come many lines running, and comparing costs less than hashing.
  uint32_t last_ = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_KEY_SET_H_
