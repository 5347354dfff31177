// The hash and the sets of distinct texts that the statistics collector counts in.
#ifndef HITSIEVE_ENGINE_KEY_SET_H_
#define HITSIEVE_ENGINE_KEY_SET_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hitsieve {

// Hashes byte strings for the tables a run counts in; transparent, so a view can be looked up
// without making a string. Every record looks up its address, agent, page and referer, so the
// hash takes 16 bytes a step (two 64-bit words folded by one wide multiplication) where the
// library's takes 8. Kept in memory only: nothing stored depends on its values. Deliberately
// not noexcept, which makes the standard library keep each key's hash in its node: 8 bytes a
// key, for which a lookup compares hashes before texts, and taking a node out (as every key
// is, once, to be sorted) finds its bucket and its neighbour's without hashing their texts.
struct ByteStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const {
    constexpr uint64_t k0 = 0xa0761d6478bd642fULL;
    constexpr uint64_t k1 = 0xe7037ed1a0b428dbULL;
    constexpr uint64_t k2 = 0x8ebc6af09c88c6e3ULL;
    const char* p = text.data();
    size_t n = text.size();
    uint64_t seed = k0 ^ Fold(k0 ^ n, k1);
    uint64_t a = 0, b = 0;
    if (n <= 16) {
      if (n >= 8) {
        a = Load64(p);
        b = Load64(p + n - 8);
      } else if (n >= 4) {
        a = Load32(p);
        b = Load32(p + n - 4);
      } else if (n > 0) {
        a = uint64_t{static_cast<unsigned char>(p[0])} << 16 |
            uint64_t{static_cast<unsigned char>(p[n >> 1])} << 8 | static_cast<unsigned char>(p[n - 1]);
      }
    } else {
      if (n > 48) {
        // Two independent lanes: the multiplications of one overlap those of the other.
        uint64_t other = seed;
        do {
          seed = Fold(Load64(p) ^ k1, Load64(p + 8) ^ seed);
          other = Fold(Load64(p + 16) ^ k2, Load64(p + 24) ^ other);
          p += 32;
          n -= 32;
        } while (n > 48);
        seed ^= other;
      }
      while (n > 16) {
        seed = Fold(Load64(p) ^ k1, Load64(p + 8) ^ seed);
        p += 16;
        n -= 16;
      }
      // The last 16 bytes, overlapping what came before when fewer are left.
      a = Load64(p + n - 16);
      b = Load64(p + n - 8);
    }
    return static_cast<size_t>(Fold(k1 ^ text.size(), Fold(a ^ k1, b ^ seed)));
  }

 private:
  static uint64_t Load64(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
  static uint64_t Load32(const char* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
  // The two halves of the 128-bit product, folded together.
  static uint64_t Fold(uint64_t a, uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
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
  // Makes room for `count` keys in all, so that inserting up to that many grows the set at
  // most once, now (an estimate: keys already in the set count again).
  void Reserve(size_t count);
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
  void Grow(size_t capacity);

  std::unique_ptr<uint64_t[]> slots_;
  size_t capacity_ = 0;  // a power of two, or 0
  size_t size_ = 0;
};

// Texts kept once and numbered 0, 1, 2... in the order they were first seen, so that sets can
// hold small numbers instead of copies of long strings. The texts lie back to back in large
// pieces of memory and are found through one array of numbers: a client address costs about
// 40 bytes here, where a hashed map of strings spends some 70 on it.
class TextTable {
 public:
  // The number of `text`, which is added when new.
  uint32_t Id(std::string_view text);
  // Whether `text` has a number, and which (in `id`); adds nothing.
  bool Find(std::string_view text, uint32_t& id) const;
  std::string_view Text(uint32_t id) const { return texts_[id]; }
  size_t size() const { return texts_.size(); }

 private:
  uint32_t Add(std::string_view text, uint32_t tag);
  void Grow();

  std::vector<std::string_view> texts_;  // into pieces_ and long_texts_: bytes that never move
  std::vector<std::unique_ptr<char[]>> pieces_;
  std::vector<std::unique_ptr<char[]>> long_texts_;
  size_t piece_size_ = 0;  // bytes of the last piece
  size_t piece_left_ = 0;  // free bytes at the end of it
  // Open addressing, linear probing: id + 1 (0 = free) and, beside it in the same 8 bytes (one
  // cache line for both), 32 bits of the text's hash, which place it and spare comparing texts
  // that only share a slot.
  struct Slot {
    uint32_t id = 0;
    uint32_t tag = 0;
  };
  std::vector<Slot> slots_;
  // The text asked for last: a browser fetches a page and its images in a row, so the same
  // address and agent often come many lines running, and comparing costs less than hashing.
  uint32_t last_ = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_KEY_SET_H_
