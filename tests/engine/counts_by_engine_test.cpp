// The counts of a page or phrase by engine against a std::map given the same operations: ids in
// any order, repeated, and more of them than fit in the object itself.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/counts_by_engine.h"

namespace hitsieve {
namespace {

std::vector<std::pair<int, int32_t>> Entries(const CountsByEngine& counts) {
  return {counts.begin(), counts.end()};
}
std::vector<std::pair<int, int32_t>> Entries(const std::map<int, int32_t>& counts) {
  return {counts.begin(), counts.end()};
}

TEST(CountsByEngine, BehavesAsAMapOfTheSameCounts) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::mt19937 random(seed);
    // Mostly the six standard engines; some seeds count for more ids than are held inline.
    const int ids = seed % 4 == 0 ? 20 : 6;
    std::uniform_int_distribution<int> id(-1, ids);
    std::map<int, int32_t> expected;
    CountsByEngine counts;
    for (int k = std::uniform_int_distribution<int>(0, 40)(random); k > 0; --k) {
      const int engine = id(random);
      ++expected[engine];
      ++counts[engine];
    }
    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(Entries(expected), Entries(counts));
    EXPECT_EQ(expected.empty(), counts.empty());
    for (int engine = -1; engine <= ids; ++engine) {
      if (expected.count(engine) != 0) {
        EXPECT_EQ(expected.at(engine), counts.at(engine));
      } else {
        EXPECT_EQ(counts.end(), counts.find(engine));
        EXPECT_THROW(counts.at(engine), std::out_of_range);
      }
    }
    // Equal exactly when the entries are.
    CountsByEngine other = counts;
    EXPECT_TRUE(other == counts);
    ++other[static_cast<int>(seed % 7)];
    EXPECT_FALSE(other == counts);
  }
  // Built from a list as a map is: an id given twice keeps its first count.
  EXPECT_EQ(Entries(CountsByEngine{{3, 1}, {0, 2}, {3, 5}}),
            (std::vector<std::pair<int, int32_t>>{{0, 2}, {3, 1}}));
}

}  // namespace
}  // namespace hitsieve
