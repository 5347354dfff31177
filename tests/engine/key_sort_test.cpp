#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/key_set.h"
#include "engine/key_sort.h"

namespace hitsieve {
namespace {

std::vector<std::string> SortedByOrder(const std::vector<std::string>& keys) {
  const std::vector<std::string_view> views(keys.begin(), keys.end());
  std::vector<std::string> sorted;
  for (size_t index : SortedOrder(views)) sorted.push_back(keys[index]);
  return sorted;
}

// Keys drawn from a few bytes (NUL and 0xFF among them), often sharing long prefixes and often
// prefixes of one another, so that every way two keys can differ within or across the
// eight-byte steps is met.
std::vector<std::string> RandomKeys(std::mt19937& random, size_t count) {
  const std::string alphabet = std::string("ab\xFF", 3) + std::string(1, '\0');
  const std::vector<std::string> stems = {"", "http://www.yandex.ru/yandsearch?text=", "aaaaaaa",
                                          "aaaaaaaa", std::string(20, '\0')};
  std::vector<std::string> keys;
  for (size_t i = 0; i < count; ++i) {
    std::string key = stems[random() % stems.size()];
    for (size_t n = random() % 20; n > 0; --n) key += alphabet[random() % alphabet.size()];
    keys.push_back(key);
    if (random() % 4 == 0) keys.push_back(key.substr(0, random() % (key.size() + 1)));
  }
  return keys;
}

TEST(SortedOrder, AgreesWithStringOrder) {
  std::mt19937 random(20081028);
  for (size_t count : {0, 1, 2, 15, 17, 100, 5000}) {
    for (int round = 0; round < 10; ++round) {
      const std::vector<std::string> keys = RandomKeys(random, count);
      std::vector<std::string> expected = keys;
      std::sort(expected.begin(), expected.end());
      ASSERT_EQ(expected, SortedByOrder(keys)) << count << " keys, round " << round;
    }
  }
}

TEST(SortedOrder, LongSharedPrefixesNeitherRecurseDeeplyNorLoseKeys) {
  // Copies of one 1 MB key, then the same key with one more byte: a recursive sort going eight
  // bytes deeper per level would need 131,072 nested calls, more than a thread's stack holds.
  const std::string stem(1024 * 1024, 'x');
  std::vector<std::string> keys(200, stem);
  keys.push_back(stem + "a");
  keys.push_back(stem.substr(0, 5));
  std::vector<std::string> expected = keys;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, SortedByOrder(keys));
}

TEST(KeySet, CountsEachKeyOnceAcrossGrowth) {
  KeySet set;
  std::mt19937_64 random(7);
  std::vector<uint64_t> inserted;
  for (int i = 0; i < 20000; ++i) {
    const uint64_t key = random() % 5000;  // many repeats
    inserted.push_back(key);
    set.Insert(key);
  }
  EXPECT_TRUE(set.Insert(KeySet::kNoKey - 1));  // the largest key a set can hold
  std::sort(inserted.begin(), inserted.end());
  inserted.erase(std::unique(inserted.begin(), inserted.end()), inserted.end());
  inserted.push_back(KeySet::kNoKey - 1);
  std::vector<uint64_t> walked;
  set.ForEach([&](uint64_t key) { walked.push_back(key); });
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(inserted, walked);
  EXPECT_EQ(inserted.size(), set.size());
  EXPECT_FALSE(set.Insert(0)) << "0 was among the keys";
}

// Reserving room changes nothing a set holds, however much or little is reserved.
TEST(KeySet, ReservingKeepsEveryKey) {
  std::mt19937_64 random(11);
  for (const size_t reserve : {size_t{0}, size_t{1}, size_t{100}, size_t{5000}}) {
    KeySet set;
    std::vector<uint64_t> inserted;
    for (int i = 0; i < 3000; ++i) {
      if (i == 1000) set.Reserve(set.size() + reserve);
      inserted.push_back(random() % 2000);
      set.Insert(inserted.back());
    }
    std::sort(inserted.begin(), inserted.end());
    inserted.erase(std::unique(inserted.begin(), inserted.end()), inserted.end());
    std::vector<uint64_t> walked;
    set.ForEach([&](uint64_t key) { walked.push_back(key); });
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(inserted, walked) << "reserved " << reserve;
  }
}

// Against a map of strings: every text gets the next number when first seen and the same one
// after, across growth, whatever its bytes or length (empty, NUL, longer than a piece).
TEST(TextTable, NumbersTextsInTheOrderFirstSeen) {
  std::mt19937 random(5);
  std::vector<std::string> keys = RandomKeys(random, 30000);
  keys.push_back(std::string(300 << 10, 'L'));
  keys.push_back(std::string(300 << 10, 'L') + "x");
  keys.push_back(std::string(100 << 10, '\0'));
  std::shuffle(keys.begin(), keys.end(), random);
  TextTable table;
  std::unordered_map<std::string, uint32_t> want;
  for (int round = 0; round < 2; ++round) {
    for (const std::string& key : keys) {
      const uint32_t expected = want.emplace(key, static_cast<uint32_t>(want.size())).first->second;
      ASSERT_EQ(expected, table.Id(key)) << "round " << round;
    }
  }
  ASSERT_EQ(want.size(), table.size());
  for (const auto& [text, id] : want) ASSERT_TRUE(table.Text(id) == text);
}

}  // namespace
}  // namespace hitsieve
