#include "engine/picture_range.h"

#include <algorithm>

namespace pageloom {

namespace {

// A number of 1 to PictureRange::kMaxNumber written in digits alone.
std::optional<int> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 7) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > PictureRange::kMaxNumber) return std::nullopt;
  return value;
}

}  // namespace

std::optional<PictureRange> PictureRange::Parse(std::string_view text) {
  PictureRange range;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = text.substr(0, comma);
    const std::size_t dash = piece.find('-');
    std::optional<int> first, last;
    if (dash == std::string_view::npos) {
      first = last = ParseNumber(piece);
    } else {
      const std::string_view from = piece.substr(0, dash);
      const std::string_view to = piece.substr(dash + 1);
      if (from.empty() && to.empty()) return std::nullopt;
      first = from.empty() ? std::optional<int>(1) : ParseNumber(from);
      last = to.empty() ? std::optional<int>(kOpen) : ParseNumber(to);
    }
    if (!first || !last || *last < *first) return std::nullopt;
    range.m_spans.emplace_back(*first, *last);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  std::sort(range.m_spans.begin(), range.m_spans.end());
  std::vector<std::pair<int, int>> joined;
  for (const auto& span : range.m_spans) {
    if (!joined.empty() && span.first - 1 <= joined.back().second) {
      joined.back().second = std::max(joined.back().second, span.second);
    } else {
      joined.push_back(span);
    }
  }
  range.m_spans = std::move(joined);
  return range;
}

bool PictureRange::Contains(int number) const {
  const auto after = std::upper_bound(m_spans.begin(), m_spans.end(), number,
                                      [](int n, const auto& span) { return n < span.first; });
  return after != m_spans.begin() && number <= std::prev(after)->second;
}

std::optional<int> PictureRange::Last() const {
  if (m_spans.empty() || m_spans.back().second == kOpen) return std::nullopt;
  return m_spans.back().second;
}

}  // namespace pageloom
