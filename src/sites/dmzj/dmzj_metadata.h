// The metadata of a DMZJ chapter: comic, chapter, the chapter's number as its name gives
// it, and the addresses of the chapter and of its comic.
#pragma once

#include <string>
#include <string_view>

#include "engine/comic_metadata.h"

namespace pageloom {

// The chapter number a chapter name holds: the number behind "第" ("第01话" gives "1",
// "第12.5话" "12.5"), else behind "ch" in any case ("Ch 3" gives "3"), else the first
// number of the name; leading zeros dropped. Empty when the name holds no digit.
std::string ChapterNumber(std::string_view chapterName);

// What a chapter page at `address` (UTF-8) with these names tells.
ComicMetadata DmzjChapterMetadata(std::string_view comicName, std::string_view chapterName,
                                  std::string_view address);

}  // namespace pageloom
