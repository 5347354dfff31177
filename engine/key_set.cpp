#include "engine/key_set.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace hitsieve {

namespace {

// The finaliser of splitmix64: spreads ids that differ in a few low bits over the whole word.
size_t Mix(uint64_t key) {
  key = (key ^ (key >> 30)) * 0xBF58476D1CE4E5B9ULL;
  key = (key ^ (key >> 27)) * 0x94D049BB133111EBULL;
  return static_cast<size_t>(key ^ (key >> 31));
}

constexpr size_t kFirstCapacity = 16;

}  // namespace

bool KeySet::Insert(uint64_t key) {
  // Kept at most 70% full, so that a probe finds a free slot within a few steps.
  if ((size_ + 1) * 10 > capacity_ * 7) Grow();
  const size_t mask = capacity_ - 1;
  for (size_t i = Mix(key) & mask;; i = (i + 1) & mask) {
    if (slots_[i] == key) return false;
    if (slots_[i] == kNoKey) {
      slots_[i] = key;
      ++size_;
      return true;
    }
  }
}

void KeySet::Grow() {
  const size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
  auto slots = std::make_unique_for_overwrite<uint64_t[]>(capacity);
  std::fill_n(slots.get(), capacity, kNoKey);
  const size_t mask = capacity - 1;
  for (size_t from = 0; from < capacity_; ++from) {
    const uint64_t key = slots_[from];
    if (key == kNoKey) continue;
    size_t i = Mix(key) & mask;
    while (slots[i] != kNoKey) i = (i + 1) & mask;
    slots[i] = key;
  }
  slots_ = std::move(slots);
  capacity_ = capacity;
}

uint32_t TextTable::Id(std::string_view text) {
  if (last_ < texts_.size() && *texts_[last_] == text) return last_;
  if (const auto found = ids_.find(text); found != ids_.end()) return last_ = found->second;
  // Ids are stored in 32 bits, and sets combine two of them with all bits set meaning "none".
  if (texts_.size() >= std::numeric_limits<uint32_t>::max()) {
    throw std::length_error("too many distinct texts");
  }
  const auto id = static_cast<uint32_t>(texts_.size());
  texts_.push_back(&ids_.emplace(text, id).first->first);
  return last_ = id;
}

}  // namespace hitsieve
