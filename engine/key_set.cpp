// The hashed sets and numbering of the distinct texts (addresses, agents, pages, referers)
// that a run counts in.
#include "engine/key_set.h"

#include <algorithm>
#include <cstring>
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
  if ((size_ + 1) * 10 > capacity_ * 7) Grow(capacity_ == 0 ? kFirstCapacity : capacity_ * 2);
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

void KeySet::Reserve(size_t count) {
  size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_;
  while (count * 10 > capacity * 7) capacity *= 2;
  if (capacity != capacity_) Grow(capacity);
}

void KeySet::Grow(size_t capacity) {
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
  if (last_ < texts_.size() && texts_[last_] == text) return last_;
  const uint32_t tag = static_cast<uint32_t>(ByteStringHash()(text));
  if (!slots_.empty()) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = tag & mask; slots_[i].id != 0; i = (i + 1) & mask) {
      if (slots_[i].tag == tag && texts_[slots_[i].id - 1] == text) return last_ = slots_[i].id - 1;
    }
  }
  return last_ = Add(text, tag);
}

bool TextTable::Find(std::string_view text, uint32_t& id) const {
  if (slots_.empty()) return false;
  const uint32_t tag = static_cast<uint32_t>(ByteStringHash()(text));
  const size_t mask = slots_.size() - 1;
  for (size_t i = tag & mask; slots_[i].id != 0; i = (i + 1) & mask) {
    if (slots_[i].tag == tag && texts_[slots_[i].id - 1] == text) {
      id = slots_[i].id - 1;
      return true;
    }
  }
  return false;
}

uint32_t TextTable::Add(std::string_view text, uint32_t tag) {
  // Ids are stored in 32 bits, and sets combine two of them with all bits set meaning "none".
  if (texts_.size() >= std::numeric_limits<uint32_t>::max() - 1) {
    throw std::length_error("too many distinct texts");
  }
  // Pieces grow with the table, from 4 KiB to 256 KiB: a run makes a table for every part of
  // its logs, and most of them hold a few texts.
  constexpr size_t kLargestPiece = 256 << 10;
  char* at = nullptr;
  if (text.size() > kLargestPiece / 4) {
    // A long text gets memory of its own, so that no piece is left mostly empty.
    long_texts_.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
    at = long_texts_.back().get();
  } else if (!text.empty()) {
    if (text.size() > piece_left_) {
      piece_size_ = std::min(kLargestPiece, std::max<size_t>(piece_size_ * 2, 4096));
      while (piece_size_ < text.size()) piece_size_ *= 2;
      pieces_.push_back(std::make_unique_for_overwrite<char[]>(piece_size_));
      piece_left_ = piece_size_;
    }
    at = pieces_.back().get() + (piece_size_ - piece_left_);
    piece_left_ -= text.size();
  }
  if (at != nullptr) std::memcpy(at, text.data(), text.size());
  const auto id = static_cast<uint32_t>(texts_.size());
  texts_.emplace_back(at, text.size());
  // Kept at most 70% full, so that a probe finds a free slot within a few steps.
  if ((texts_.size()) * 10 > slots_.size() * 7) {
    Grow();
  } else {
    const size_t mask = slots_.size() - 1;
    size_t i = tag & mask;
    while (slots_[i].id != 0) i = (i + 1) & mask;
    slots_[i] = {id + 1, tag};
  }
  return id;
}

// Doubles the slots and places every text again by its kept tag (the last one added too).
void TextTable::Grow() {
  std::vector<Slot> old_slots = std::move(slots_);
  const size_t capacity = old_slots.empty() ? kFirstCapacity : old_slots.size() * 2;
  slots_.assign(capacity, Slot());
  const size_t mask = capacity - 1;
  auto place = [&](Slot slot) {
    size_t i = slot.tag & mask;
    while (slots_[i].id != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  };
  for (const Slot& slot : old_slots) {
    if (slot.id != 0) place(slot);
  }
  const uint32_t last = static_cast<uint32_t>(texts_.size());  // id + 1 of the text just added
  place({last, static_cast<uint32_t>(ByteStringHash()(texts_.back()))});
}

}  // namespace hitsieve
