#include "sites/dmzj/dmzj_metadata.h"

#include "engine/plain_text.h"

namespace pageloom {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number starting at or after `from` (blanks, '.' and ':' skipped up to it), or empty.
std::string NumberFrom(std::string_view name, std::size_t from) {
  while (from < name.size() &&
         (name[from] == ' ' || name[from] == '.' || name[from] == ':' || name[from] == '_'))
    ++from;
  std::size_t end = from;
  while (end < name.size() && IsDigit(name[end])) ++end;
  if (end == from) return {};
  if (end + 1 < name.size() && name[end] == '.' && IsDigit(name[end + 1])) {
    ++end;
    while (end < name.size() && IsDigit(name[end])) ++end;
  }
  std::string number(name.substr(from, end - from));
  std::size_t zeros = 0;
  while (zeros + 1 < number.size() && number[zeros] == '0' && IsDigit(number[zeros + 1])) ++zeros;
  return number.substr(zeros);
}

std::size_t FindNoCase(std::string_view text, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t k = 0; k < word.size() && same; ++k) {
      char c = text[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == word[k];
    }
    if (same) return i;
  }
  return npos;
}

}  // namespace

std::string ChapterNumber(std::string_view name) {
  const std::size_t di = name.find("第");
  if (di != npos) {
    std::string number = NumberFrom(name, di + std::string_view("第").size());
    if (!number.empty()) return number;
  }
  const std::size_t ch = FindNoCase(name, "ch");
  if (ch != npos) {
    std::size_t from = ch + 2;
    while (from < name.size() &&
           ((name[from] >= 'a' && name[from] <= 'z') || (name[from] >= 'A' && name[from] <= 'Z')))
      ++from;  // "Chapter", "Ch."
    std::string number = NumberFrom(name, from);
    if (!number.empty()) return number;
  }
  for (std::size_t i = 0; i < name.size(); ++i)
    if (IsDigit(name[i])) return NumberFrom(name, i);
  return {};
}

ComicMetadata DmzjChapterMetadata(std::string_view comicName, std::string_view chapterName,
                                  std::string_view address) {
  ComicMetadata out;
  out.series = PlainText(comicName);
  out.title = PlainText(chapterName);
  out.number = ChapterNumber(out.title);
  out.web = PlainText(address);
  const std::size_t slash = out.web.rfind('/');
  if (slash != npos) out.seriesWeb = out.web.substr(0, slash + 1);
  return out;
}

}  // namespace pageloom
