// Describing a log from its text handed over in pieces: what is remembered of it (bytes, line
// count, hashes of the whole and of its head) depends on the text only, never on the pieces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "engine/content_hash.h"
#include "run/log_sources.h"
#include "store/stats_merge.h"

namespace hitsieve {
namespace {

// Texts of every shape a log takes or a hostile file might: empty, no line feed at all, line
// feeds only, long lines and short ones, with or without a last line feed, any byte.
std::string GeneratedText(std::mt19937& random) {
  // Some longer than the head that is remembered apart.
  const size_t largest = std::uniform_int_distribution<int>(0, 3)(random) == 0 ? 150000 : 20000;
  const size_t size = std::uniform_int_distribution<size_t>(0, largest)(random);
  const int per_thousand = std::uniform_int_distribution<int>(0, 4)(random) == 0
                               ? std::uniform_int_distribution<int>(0, 1)(random) * 1000
                               : std::uniform_int_distribution<int>(1, 200)(random);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> chance(0, 999);
  std::string text(size, '\0');
  for (char& c : text) c = chance(random) < per_thousand ? '\n' : static_cast<char>(byte(random));
  return text;
}

TEST(LogDescriber, DescribesTheTextWhateverPiecesItCameIn) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    const std::string text = GeneratedText(random);
    LogDescriber describer;
    for (size_t at = 0; at < text.size();) {
      const size_t piece = std::uniform_int_distribution<size_t>(1, seed % 2 ? 97 : 70000)(random);
      describer.Feed(std::string_view(text).substr(at, piece));
      at += piece;
    }
    const LogSource source = describer.Describe("x.log");

    SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(text.size()) + " bytes");
    const auto line_feeds = std::count(text.begin(), text.end(), '\n');
    const bool unfinished = !text.empty() && text.back() != '\n';
    EXPECT_EQ(source.lines, line_feeds + (unfinished ? 1 : 0));
    EXPECT_EQ(source.bytes, static_cast<int64_t>(text.size()));
    EXPECT_EQ(source.hash, ContentHash::Of(text));
    const std::string head = text.substr(0, static_cast<size_t>(source.head_bytes));
    EXPECT_EQ(source.head_bytes, std::min<int64_t>(kLogHeadBytes, text.size()));
    EXPECT_EQ(source.head_hash, ContentHash::Of(head));
  }
}

}  // namespace
}  // namespace hitsieve
