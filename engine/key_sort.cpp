// Sorting many byte-string keys in std::string order, fast for long shared prefixes (key_sort.h).
#include "engine/key_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace hitsieve {

namespace {

constexpr size_t kChunk = 8;
constexpr size_t kSmallGroup = 16;  // sorted by comparing whole tails

struct Item {
  uint64_t chunk;  // bytes [depth, depth + 8) of the key, most significant first, 0 past its end
  const char* data;
  size_t size;
  size_t index;
};

uint64_t ChunkAt(const char* data, size_t size, size_t depth) {
  if (size >= depth + kChunk) {
    uint64_t chunk;
    std::memcpy(&chunk, data + depth, kChunk);
    return __builtin_bswap64(chunk);
  }
  unsigned char bytes[kChunk] = {};
  if (size > depth) std::memcpy(bytes, data + depth, size - depth);
  uint64_t chunk = 0;
  for (unsigned char byte : bytes) chunk = chunk << 8 | byte;
  return chunk;
}

// A group of items that share their first `depth` bytes.
struct Group {
  Item* begin;
  size_t count;
  size_t depth;
  bool loaded;  // the items' chunks are those at `depth`
};

uint64_t MedianOfThree(uint64_t a, uint64_t b, uint64_t c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

}  // namespace

std::vector<size_t> SortedOrder(const std::vector<std::string_view>& keys) {
  return SortedOrder(keys.size(), [&keys](size_t i) { return keys[i]; });
}

std::vector<size_t> SortedOrder(size_t count, const std::function<std::string_view(size_t)>& key) {
  std::vector<Item> items(count);
  for (size_t i = 0; i < count; ++i) {
    const std::string_view text = key(i);
    items[i] = {0, text.data(), text.size(), i};
  }

  // Groups wait on a stack of their own instead of in recursion: a log can hold keys of any
  // length sharing any prefix, and each eight shared bytes make a group one level deeper.
  std::vector<Group> pending{{items.data(), items.size(), 0, false}};
  while (!pending.empty()) {
    Group group = pending.back();
    pending.pop_back();
    Item* const a = group.begin;
    const size_t depth = group.depth;
    if (group.count < 2) continue;
    if (!group.loaded) {
      for (size_t i = 0; i < group.count; ++i) a[i].chunk = ChunkAt(a[i].data, a[i].size, depth);
    }
    if (group.count <= kSmallGroup) {
      std::sort(a, a + group.count, [depth](const Item& x, const Item& y) {
        if (x.chunk != y.chunk) return x.chunk < y.chunk;
        return std::string_view(x.data + depth, x.size - depth) <
               std::string_view(y.data + depth, y.size - depth);
      });
      continue;
    }
    // Three ways on the chunk: [0, lt) below the pivot, [lt, gt) equal, [gt, count) above.
    const uint64_t pivot =
        MedianOfThree(a[0].chunk, a[group.count / 2].chunk, a[group.count - 1].chunk);
    size_t lt = 0, i = 0, gt = group.count;
    while (i < gt) {
      if (a[i].chunk < pivot) {
        std::swap(a[lt++], a[i++]);
      } else if (a[i].chunk > pivot) {
        std::swap(a[i], a[--gt]);
      } else {
        ++i;
      }
    }
    pending.push_back({a, lt, depth, true});
    pending.push_back({a + gt, group.count - gt, depth, true});
    // Equal chunks: a key that ends within them is a prefix of every longer one, and such keys
    // order by length; the others go on eight bytes deeper.
    Item* const equal = a + lt;
    Item* const longer = std::partition(equal, a + gt, [depth](const Item& x) {
      return x.size <= depth + kChunk;
    });
    std::sort(equal, longer, [](const Item& x, const Item& y) { return x.size < y.size; });
    pending.push_back({longer, static_cast<size_t>(a + gt - longer), depth + kChunk, false});
  }

  std::vector<size_t> order(items.size());
  for (size_t i = 0; i < items.size(); ++i) order[i] = items[i].index;
  return order;
}

}  // namespace hitsieve
