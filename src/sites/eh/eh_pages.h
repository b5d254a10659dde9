// Reading the pages of the EH gallery site. Every function works on page text as a
// fetch leaves it: 8-bit text terminated by a zero byte inside a buffer of `capacity`
// bytes. They search with plain, case-sensitive byte searches, cut pieces out by writing
// zero bytes into the text, and never read or write outside it: a text without its
// terminator, or a page whose marker is not followed (or preceded) by what the site
// puts there, counts as a page without that marker.
#pragma once

#include <cstddef>

#include "net/page_buffer.h"

namespace pageloom {

// Markers of the site's pages.
inline constexpr char kEHMirrorGalleryMarker[] = "div class=\"gi\"";
inline constexpr char kEHMainGalleryMarker[] = "img alt=\"";
inline constexpr char kEHTitleMarker[] = "<title>";
inline constexpr char kEHPictureMarker[] = "img id";

// The address of the first picture page on a gallery page of the low-bandwidth mirror:
// it starts 24 bytes after the start of "div class="gi"" and ends at the next double
// quote, which becomes a zero. Null when the page lacks that shape.
char* ParseEHMirrorGallery(char* text, std::size_t capacity);

// The address of the first picture page on a gallery page of the main site: the text
// ends 3 bytes before "img alt="" (a zero is written there) and the address is what
// follows the last double quote before that point. Null when the page lacks that shape.
char* ParseEHMainGallery(char* text, std::size_t capacity);

// The title of a picture page: the text right after "<title>" up to the next '<', which
// becomes a zero. Null when the page lacks that shape.
char* ParseEHTitle(char* text, std::size_t capacity);

// What a picture page gives: its picture and the page it links to. Both are zero-
// terminated pieces of the page text.
struct EHPicturePage {
  char* pictureUrl = nullptr;
  std::size_t pictureLength = 0;
  char* nextPageUrl = nullptr;
  std::size_t nextPageLength = 0;
};

// Reads a picture page around "img id": the text ends 3 bytes before the marker; the
// picture address starts 17 bytes after the marker's start (18 when a double quote
// stands at 17) and ends at the next double quote, which becomes a zero; the next-page
// address is what follows the last double quote of the text before the end. Returns
// false, and leaves the text untouched, when the page lacks that shape.
bool ParseEHPicturePage(char* text, std::size_t capacity, EHPicturePage& page);

// The mirror's picture address names a smaller copy: the byte right before the last
// '/' of the picture address becomes '3'. Returns false, changing nothing, when the
// address holds no '/' with a byte of the address before it.
bool ApplyEHMirrorRule(EHPicturePage& page);

// The same on a page buffer.
inline char* ParseEHMirrorGallery(PageBuffer& page) {
  return ParseEHMirrorGallery(page.data(), page.size());
}
inline char* ParseEHMainGallery(PageBuffer& page) {
  return ParseEHMainGallery(page.data(), page.size());
}
inline char* ParseEHTitle(PageBuffer& page) { return ParseEHTitle(page.data(), page.size()); }
inline bool ParseEHPicturePage(PageBuffer& buffer, EHPicturePage& page) {
  return ParseEHPicturePage(buffer.data(), buffer.size(), page);
}

}  // namespace pageloom
