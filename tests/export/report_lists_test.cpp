#include <gtest/gtest.h>

#include <limits>

#include "export/report_lists.h"

namespace hitsieve {
namespace {

TEST(ReportLists, CellFormats) {
  const struct { int64_t value; const char* dash; const char* megabytes; } cases[] = {
      {0, "-", "0,00"},
      {1048576, "1048576", "1,00"},
      {1572864, "1572864", "1,50"},
      {int64_t{5} << 31, "10737418240", "10240,00"},  // past 32 bits: no wrap
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.dash, DashOrDecimal(c.value)) << c.value;
    EXPECT_EQ(c.megabytes, Megabytes(c.value)) << c.value;
  }
}

TEST(ReportLists, EmptyTablesShowATotalsRowOfOneEmptyCell) {
  const std::vector<ListRow> only_totals{ListRow{""}};
  EXPECT_EQ(only_totals, RenderCommonStats({}));
  EXPECT_EQ(only_totals, RenderPageStats({}));
  EXPECT_EQ(only_totals, RenderQueryStats({}));
}

TEST(ReportLists, PageTotalsKeepTrafficAsANumberAndDashOtherZeroes) {
  PageStatsRow a;
  a.page = "/a.html";
  a.visits = 2;
  PageStatsRow b;
  b.page = "/\xEF\xF0\xE8\xE2\xE5\xF2.html";  // Windows-1251 bytes are shown as UTF-8
  b.visits = 1;
  b.engines[kMailru] = 1;
  const std::vector<ListRow> expected{
      {"", "3", "-", "0,00", "-", "-", "-", "1", "-", "-"},
      {"/a.html", "2", "-", "0,00", "-", "-", "-", "-", "-", "-"},
      {"/привет.html", "1", "-", "0,00", "-", "-", "-", "1", "-", "-"}};
  EXPECT_EQ(expected, RenderPageStats({a, b}));
}

TEST(ReportLists, TotalsSaturateInsteadOfWrapping) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  PageStatsRow a;
  a.page = "/a.iso";
  a.visits = std::numeric_limits<int32_t>::max();
  a.bandwidth = kMax;
  PageStatsRow b = a;
  b.page = "/b.iso";
  const std::vector<ListRow> list = RenderPageStats({a, b});
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ(Megabytes(kMax), list[0][3]);
  EXPECT_EQ("4294967294", list[0][1]);  // int32 counts sum in 64 bits, exactly

  // A database written by something else may hold negative counts; they must not wrap either.
  PageStatsRow low = a;
  low.bandwidth = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(Megabytes(std::numeric_limits<int64_t>::min()), RenderPageStats({low, low})[0][3]);
}

}  // namespace
}  // namespace hitsieve
