#include "sites/dmzj/dmzj_pages.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace pageloom {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Position of the first `c` in text[from, length), or npos.
std::size_t FindByte(const char* text, std::size_t length, std::size_t from, char c) {
  if (from >= length) return npos;
  const void* hit = std::memchr(text + from, c, length - from);
  return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(hit) - text);
}

// The text from `start` up to the next double quote, which is overwritten with a zero.
// Sets `end` to the quote's position. Empty view with null data when there is none.
std::string_view CutQuoted(char* text, std::size_t length, std::size_t start, std::size_t& end) {
  end = FindByte(text, length, start, '"');
  if (end == npos) return {};
  text[end] = 0;
  return std::string_view(text + start, end - start);
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the UTF-8 sequence that `lead` starts, 0 when it starts none.
std::size_t SequenceLength(char lead) {
  const auto b = static_cast<unsigned char>(lead);
  if (b >= 0xC0 && b < 0xE0) return 2;
  if (b >= 0xE0 && b < 0xF0) return 3;
  if (b >= 0xF0 && b < 0xF8) return 4;
  return 0;
}

}  // namespace

std::size_t PageTextLength(const char* buffer, std::size_t size) {
  const void* zero = std::memchr(buffer, 0, size);
  return zero == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(zero) - buffer);
}

std::size_t FindMarker(const char* text, std::size_t length, std::size_t from,
                       std::string_view marker) {
  if (from > length || marker.size() > length - from) return npos;
  const std::string_view hay(text + from, length - from);
  const std::size_t at = hay.find(marker);
  return at == npos ? npos : from + at;
}

std::string_view ParseDmzjSeriesLink(char* text, std::size_t length) {
  const std::size_t list = FindMarker(text, length, 0, kDmzjChapterListMarker);
  if (list == npos) return {};
  const std::size_t href = FindMarker(text, length, list, kDmzjHrefMarker);
  if (href == npos) return {};
  const std::size_t start = href + kDmzjHrefLinkOffset;  // href + 4 <= length here
  if (start > length) return {};
  std::size_t end = 0;
  return CutQuoted(text, length, start, end);
}

DmzjChapterParse ParseDmzjChapterPage(char* text, std::size_t length, DmzjChapterPage& page) {
  page = DmzjChapterPage{};
  const std::size_t names = FindMarker(text, length, 0, kDmzjComicNameMarker);
  if (names == npos) return DmzjChapterParse::kNotChapter;

  // Comic name: the first double-quoted string behind the marker.
  const std::size_t comicOpen = FindByte(text, length, names + kDmzjComicNameMarker.size(), '"');
  if (comicOpen == npos) return DmzjChapterParse::kIncomplete;
  std::size_t comicClose = 0;
  page.comicName = CutQuoted(text, length, comicOpen + 1, comicClose);
  if (page.comicName.data() == nullptr) return DmzjChapterParse::kIncomplete;

  // Chapter name: the next double-quoted string; what lies between is skipped.
  const std::size_t chapterOpen = FindByte(text, length, comicClose + 1, '"');
  if (chapterOpen == npos) return DmzjChapterParse::kIncomplete;
  std::size_t chapterClose = 0;
  page.chapterName = CutQuoted(text, length, chapterOpen + 1, chapterClose);
  if (page.chapterName.data() == nullptr) return DmzjChapterParse::kIncomplete;

  // Picture count: behind the marker, up to the next ';'.
  const std::size_t count = FindMarker(text, length, chapterClose + 1, kDmzjPictureCountMarker);
  if (count == npos) return DmzjChapterParse::kIncomplete;
  const std::size_t countStart = count + kDmzjPictureCountMarker.size();
  const std::size_t semicolon = FindByte(text, length, countStart, ';');
  if (semicolon == npos) return DmzjChapterParse::kIncomplete;
  text[semicolon] = 0;
  page.pictureCount = ReadDecimal(std::string_view(text + countStart, semicolon - countStart));

  // Next chapter: optional; its link stands 26 bytes behind the marker's start.
  const std::size_t next = FindMarker(text, length, semicolon + 1, kDmzjNextChapterMarker);
  if (next == npos) return DmzjChapterParse::kComplete;
  const std::size_t linkStart = next + kDmzjNextLinkOffset;
  if (linkStart > length) return DmzjChapterParse::kIncomplete;
  std::size_t linkEnd = 0;
  page.nextLink = CutQuoted(text, length, linkStart, linkEnd);
  if (page.nextLink.data() == nullptr) return DmzjChapterParse::kIncomplete;
  page.next =
      page.nextLink.size() < kDmzjNextLinkCapacity ? DmzjNextLink::kLink : DmzjNextLink::kTooLong;
  return DmzjChapterParse::kComplete;
}

const char* FindDmzjScript(char* text, std::size_t length) {
  const std::size_t eval = FindMarker(text, length, 0, kDmzjScriptMarker);
  if (eval == npos) return nullptr;
  const std::size_t start = eval + kDmzjScriptOffset;
  const std::size_t lineFeed = FindByte(text, length, start, '\n');
  if (lineFeed == npos) return nullptr;
  text[lineFeed] = 0;
  return text + start;
}

int ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t cut = maxBytes;
  if (cut > 0 && IsContinuation(text[cut])) {
    // Find the lead byte of the sequence the cut falls into (at most 3 bytes back).
    std::size_t lead = cut - 1;
    while (lead > 0 && cut - lead < 4 && IsContinuation(text[lead])) --lead;
    const std::size_t need = SequenceLength(text[lead]);
    if (need != 0 && lead + need > cut) {
      bool wellFormed = true;
      for (std::size_t i = lead + 1; i < lead + need && i < text.size(); ++i) {
        if (!IsContinuation(text[i])) wellFormed = false;
      }
      if (wellFormed) cut = lead;
    }
  }
  return text.substr(0, cut);
}

std::size_t JoinDmzjTitle(char* title, std::string_view comicName, std::string_view chapterName) {
  constexpr std::size_t room = kDmzjTitleCapacity - 1;
  // When both do not fit, the comic name gives way first: the chapter name is what keeps
  // the chapters of one comic in folders of their own.
  const std::string_view chapter = Utf8Prefix(chapterName, room - 1);
  const std::string_view comic = Utf8Prefix(comicName, room - 1 - chapter.size());
  std::size_t used = 0;
  for (const std::string_view piece : {comic, std::string_view("\\", 1), chapter}) {
    if (!piece.empty()) std::memcpy(title + used, piece.data(), piece.size());
    used += piece.size();
  }
  title[used] = 0;
  return used;
}

}  // namespace pageloom
