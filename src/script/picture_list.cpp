#include "script/picture_list.h"

#include <algorithm>
#include <utility>

namespace pageloom {

PictureListResult AppendPictureList(std::u16string_view value, std::u16string_view prefix,
                                    std::list<std::u16string>& pictureUrls,
                                    std::size_t maxEntries) {
  const std::size_t first = value.find(u'"');
  if (first == std::u16string_view::npos) return PictureListResult::kNoQuote;
  const std::size_t last = value.rfind(u'"');
  const std::u16string_view quoted = value.substr(first, last - first);

  // Counted before anything is built, so a hostile text costs no memory.
  const auto commas = static_cast<std::size_t>(std::count(quoted.begin(), quoted.end(), u','));
  if (commas >= maxEntries) return PictureListResult::kTooMany;

  std::u16string working;
  working.reserve(quoted.size());
  for (char16_t c : quoted) {
    if (c != u'"' && c != u'\\') working += c;
  }

  // Built aside and spliced at the end: the caller's list changes all at once or not at all.
  std::list<std::u16string> entries;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = working.find(u',', start);
    const std::size_t end = comma == std::u16string::npos ? working.size() : comma;
    std::u16string entry;
    entry.reserve(prefix.size() + (end - start));
    entry.append(prefix).append(working, start, end - start);
    entries.push_back(std::move(entry));
    if (comma == std::u16string::npos) break;
    start = comma + 1;
  }
  pictureUrls.splice(pictureUrls.end(), entries);
  return PictureListResult::kAppended;
}

}  // namespace pageloom
