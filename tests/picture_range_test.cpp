// Picture ranges as the terminal program's --range writes them.
#include "engine/picture_range.h"

#include <gtest/gtest.h>

namespace pageloom {
namespace {

std::vector<int> Held(const PictureRange& range, int upTo) {
  std::vector<int> numbers;
  for (int n = 0; n <= upTo; ++n)
    if (range.Contains(n)) numbers.push_back(n);
  return numbers;
}

TEST(PictureRange, PiecesInAnyOrderJoinIntoOneChoice) {
  const std::optional<PictureRange> range = PictureRange::Parse("25,10-12,11-13,14");
  ASSERT_TRUE(range);
  EXPECT_EQ(Held(*range, 30), (std::vector<int>{10, 11, 12, 13, 14, 25}));
  EXPECT_EQ(range->Last(), 25);

  const std::optional<PictureRange> open = PictureRange::Parse("-2,30-");
  ASSERT_TRUE(open);
  EXPECT_EQ(Held(*open, 31), (std::vector<int>{1, 2, 30, 31}));
  EXPECT_TRUE(open->Contains(PictureRange::kMaxNumber + 500));
  EXPECT_EQ(open->Last(), std::nullopt);
  EXPECT_EQ(PictureRange::Parse("7")->Last(), 7);
}

TEST(PictureRange, AnythingButNumbersAndSpansIsRefused) {
  for (const char* bad : {"", ",", "5,", ",5", "-", "0", "0-3", "5-2", "a", "1-2-3", " 5", "5 ",
                          "1..3", "+4", "99999999", "1000001", "1-1000001", "3,,4"})
    EXPECT_FALSE(PictureRange::Parse(bad)) << '"' << bad << '"';
}

}  // namespace
}  // namespace pageloom
