// The content hash recognises logs across runs, so its value may depend on the bytes only:
// never on how they were cut into pieces, and stored values must stay valid forever.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/content_hash.h"

namespace hitsieve {
namespace {

TEST(ContentHash, AnyCuttingGivesTheValueOfTheWholeText) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string text(rng() % 300, '\0');
    for (char& c : text) c = static_cast<char>(rng());
    const uint64_t whole = ContentHash::Of(text);
    ContentHash pieces;
    for (size_t at = 0; at < text.size();) {
      const size_t take = std::min<size_t>(text.size() - at, rng() % 20);
      pieces.Update(std::string_view(text).substr(at, take));
      at += take;
      // Reading the value midway changes nothing.
      EXPECT_EQ(ContentHash::Of(text.substr(0, at)), pieces.Value());
    }
    EXPECT_EQ(whole, pieces.Value());
    EXPECT_EQ(static_cast<int64_t>(text.size()), pieces.size());
  }
}

TEST(ContentHash, SeparatesNearTextsAndKeepsItsStoredValues) {
  // A trailing NUL, one flipped bit, and a length change are all different texts.
  EXPECT_NE(ContentHash::Of("abc"), ContentHash::Of(std::string("abc\0", 4)));
  EXPECT_NE(ContentHash::Of("10.0.0.1"), ContentHash::Of("10.0.0.0"));
  EXPECT_NE(ContentHash::Of(""), ContentHash::Of(std::string(1, '\0')));
  // (address, agent) pairs are told apart however the two texts divide a stream.
  EXPECT_NE(VisitorHash("10.0.0.1", "0Mozilla"), VisitorHash("10.0.0.10", "Mozilla"));
  EXPECT_NE(AddressHash("10.0.0.1"), VisitorHash("10.0.0.1", ""));
  // Values kept in databases: changing the function would make every stored log unknown.
  EXPECT_EQ(8848935107335307795ULL, ContentHash::Of(""));
  EXPECT_EQ(453302888788969578ULL, ContentHash::Of("10.0.0.1 - - [01/Mar/2010:10:00:00 +0400] \"GET / HTTP/1.1\"\n"));
}

}  // namespace
}  // namespace hitsieve
