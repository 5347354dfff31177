// SortedOrder: the std::string order of many byte-string keys, for sorting a run's new keys.
#ifndef HITSIEVE_ENGINE_KEY_SORT_H_
#define HITSIEVE_ENGINE_KEY_SORT_H_

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace hitsieve {

// The order that sorts `keys` as std::string compares them (unsigned bytes, a prefix first):
// result[i] is the index in `keys` of the i-th smallest key; equal keys keep no particular
// order. Made for the hundreds of thousands of referers of a large log, which share long
// prefixes ("http://www.yandex.ru/yandsearch?text=..."): keys are partitioned eight bytes at a
// time, so a key's bytes are fetched from memory once per eight bytes of depth instead of once
// per comparison. Recursion depth stays logarithmic whatever the keys are.
std::vector<size_t> SortedOrder(const std::vector<std::string_view>& keys);
// As above, for `count` keys given by `key(i)` (which must stay valid), without a list of them.
std::vector<size_t> SortedOrder(size_t count, const std::function<std::string_view(size_t)>& key);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_KEY_SORT_H_
