// What a gallery's or chapter's pages tell about it beyond its pictures: titles, tags,
// names and addresses, as plain UTF-8 text. A field a page does not give stays empty.
#pragma once

#include <string>
#include <vector>

namespace pageloom {

struct MetadataTag {
  std::string space;  // "artist", "female", ...; empty for a tag of no namespace
  std::string name;   // the tag as the site shows it, e.g. "big breasts"
  bool operator==(const MetadataTag& other) const {
    return space == other.space && name == other.name;
  }
};

struct ComicMetadata {
  std::string title;          // the gallery's title, or the chapter's name
  std::string originalTitle;  // a gallery's title in its own language
  std::string series;         // a chapter's comic
  std::string number;         // a chapter's number as read from its name ("12.5")
  std::string category;       // "Doujinshi", "Manga", ...
  std::string uploader;
  std::string posted;
  std::string language;  // the first word of the site's language field ("Japanese")
  int length = 0;        // pictures the site announces; 0 when it announces none
  std::vector<MetadataTag> tags;
  std::string web;        // the gallery's or chapter's address
  std::string seriesWeb;  // a chapter's comic page
};

}  // namespace pageloom
