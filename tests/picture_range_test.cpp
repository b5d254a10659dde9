// Picture ranges as the terminal program's --range writes them.
#include "engine/picture_range.h"

#include <gtest/gtest.h>

namespace pageloom {
namespace {

TEST(PictureRange, PiecesJoinInAnyOrderOpenEndsReachAnyNumberAndAllElseIsRefused) {
  const std::optional<PictureRange> range = PictureRange::Parse("25,10-12,11-13,-2,30-");
  ASSERT_TRUE(range);
  std::vector<int> held;
  for (int n = 0; n <= 31; ++n)
    if (range->Contains(n)) held.push_back(n);
  EXPECT_EQ(held, (std::vector<int>{1, 2, 10, 11, 12, 13, 25, 30, 31}));
  EXPECT_TRUE(range->Contains(PictureRange::kMaxNumber + 500));
  EXPECT_EQ(range->Last(), std::nullopt);
  EXPECT_EQ(PictureRange::Parse("7,3-5")->Last(), 7);
  for (const char* bad : {"", ",", "5,", "-", "0", "5-2", "a", "1-2-3", " 5", "+4", "1000001"})
    EXPECT_FALSE(PictureRange::Parse(bad)) << '"' << bad << '"';
}

}  // namespace
}  // namespace pageloom
