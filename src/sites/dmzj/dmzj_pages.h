// Reading the pages of the DMZJ comic site: the series page with its chapter list, the
// chapter page with its names, picture count, next-chapter link and packed script.
// Plain byte-string searches for fixed markers at fixed offsets, cut in place by writing
// zero bytes. Every routine takes the page text and its length (the bytes before the
// terminating zero) and never reads or writes a byte at or past that length.
#pragma once

#include <cstddef>
#include <string_view>

namespace pageloom {

constexpr std::size_t kDmzjSeriesLinkCapacity = 2048;  // site root + first chapter's link
constexpr std::size_t kDmzjTitleCapacity = 260;        // comic name '\\' chapter name
constexpr std::size_t kDmzjNextLinkCapacity = 52;      // relative link of the next chapter

// Found in the address of every chapter page.
constexpr std::u16string_view kDmzjChapterAddressMarker = u"shtml";

constexpr std::string_view kDmzjChapterListMarker = "cartoon_online_border";
constexpr std::string_view kDmzjHrefMarker = "href";
constexpr std::size_t kDmzjHrefLinkOffset = 6;  // href="
constexpr std::string_view kDmzjComicNameMarker = "var g_comic_name";
constexpr std::string_view kDmzjPictureCountMarker = "var g_max_pic_count = ";
constexpr std::string_view kDmzjNextChapterMarker = "a id=\"next_chapter\"";
constexpr std::size_t kDmzjNextLinkOffset = 26;  // a id="next_chapter" href="
constexpr std::string_view kDmzjScriptMarker = "eval(function";
constexpr std::size_t kDmzjScriptOffset = 4;  // the script starts at the '(' behind eval

// Length of the zero-terminated text in a buffer of `size` bytes; `size` when the buffer
// holds no zero (the caller must then not treat it as terminated).
std::size_t PageTextLength(const char* buffer, std::size_t size);

// Position of the first `marker` in text[from, length), or npos.
std::size_t FindMarker(const char* text, std::size_t length, std::size_t from,
                       std::string_view marker);

// The first link of a series page's chapter list: behind "cartoon_online_border", the
// first "href", from 6 bytes after its start up to the next double quote, which is cut.
// Empty view (data() null) when the marker, the href or the closing quote is missing.
std::string_view ParseDmzjSeriesLink(char* text, std::size_t length);

enum class DmzjNextLink {
  kNone,     // no "a id="next_chapter"": the chain ends with this chapter
  kLink,     // nextLink holds the relative link (at most kDmzjNextLinkCapacity - 1 bytes)
  kTooLong,  // the link does not fit kDmzjNextLinkCapacity: the chain ends here
};

struct DmzjChapterPage {
  std::string_view comicName;
  std::string_view chapterName;
  int pictureCount = 0;
  DmzjNextLink next = DmzjNextLink::kNone;
  std::string_view nextLink;
};

enum class DmzjChapterParse {
  kNotChapter,  // no "var g_comic_name"
  kIncomplete,  // the marker is there but a later piece is missing: no task
  kComplete,
};

// Reads a whole chapter page: comic name and chapter name (the two double-quoted strings
// behind "var g_comic_name"), the picture count behind "var g_max_pic_count = " up to
// ';', and the next-chapter link 26 bytes behind the start of "a id="next_chapter"" up
// to the next double quote. Each search starts behind the previous cut. `page` is only
// meaningful when the result is kComplete; its views point into `text`.
DmzjChapterParse ParseDmzjChapterPage(char* text, std::size_t length, DmzjChapterPage& page);

// The packed script of a chapter page: from 4 bytes after the start of "eval(function"
// up to the first line feed behind it, which is cut. Null when the marker or the line
// feed is missing; otherwise a zero-terminated text inside `text`.
const char* FindDmzjScript(char* text, std::size_t length);

// A decimal number read like atoi: leading blanks skipped, an optional sign, then the
// digits up to the first other byte; no digits give 0. Clamped to the int range.
int ReadDecimal(std::string_view text);

// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside a
// UTF-8 sequence. Bytes that are not part of a well-formed sequence count singly.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

// Writes comic name, '\\', chapter name into `title` (kDmzjTitleCapacity bytes), at most
// kDmzjTitleCapacity - 1 bytes, cut never inside a UTF-8 sequence, and terminated. What
// does not fit is cut from the comic name first, then from the chapter name. Returns
// the length written.
std::size_t JoinDmzjTitle(char* title, std::string_view comicName, std::string_view chapterName);

}  // namespace pageloom
