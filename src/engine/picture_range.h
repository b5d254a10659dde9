// A choice of pictures by their number in their task, counting from 1 (an EH gallery's
// pages, a DMZJ chapter's pictures): "10-20,25" holds 10 to 20 and 25; "30-" every number
// from 30 on; "-5" 1 to 5.
#pragma once

#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace pageloom {

class PictureRange {
 public:
  // The largest number written in a range.
  static constexpr int kMaxNumber = 1000000;

  // Pieces "N", "N-M", "N-", "-M" joined by ','; no blanks. Nothing when a piece is empty,
  // holds anything but digits and one '-', a number is 0 or above kMaxNumber, or M < N.
  [[nodiscard]] static std::optional<PictureRange> Parse(std::string_view text);

  [[nodiscard]] bool Contains(int number) const;
  // The largest number held; nothing when the range goes on to the end.
  [[nodiscard]] std::optional<int> Last() const;

 private:
  // Sorted, overlapping and touching spans joined; an open end is kOpen.
  static constexpr int kOpen = std::numeric_limits<int>::max();
  std::vector<std::pair<int, int>> m_spans;
};

}  // namespace pageloom
