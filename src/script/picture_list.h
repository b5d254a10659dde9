// The step from an evaluated page script's text to picture addresses: plain text work,
// no engine.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <string_view>

namespace pageloom {

// The most entries one chapter's text may give; a text with more is refused whole.
constexpr std::size_t kMaxPictureEntries = 10000;

enum class PictureListResult {
  kAppended,  // one entry per piece was appended
  kNoQuote,   // the text holds no double quote; nothing appended
  kTooMany,   // the text would give more than the limit; nothing appended
};

// Takes the text between the first and the last double quote of `value`, drops every
// double quote and backslash from it, splits it at every comma and appends each piece
// (empty ones too, untrimmed) behind `prefix`: n commas give n + 1 entries, after the
// entries already in `pictureUrls`. A single quote gives one entry, the prefix alone.
// More than `maxEntries` pieces leave the list unchanged.
[[nodiscard]] PictureListResult AppendPictureList(std::u16string_view value,
                                                  std::u16string_view prefix,
                                                  std::list<std::u16string>& pictureUrls,
                                                  std::size_t maxEntries = kMaxPictureEntries);

}  // namespace pageloom
