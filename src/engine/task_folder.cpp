// The folder of a new task, named from its page's title below the save folder.
#include "engine/task_folder.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <pwd.h>
#include <unistd.h>

#include "base/encoding.h"
#include "base/fixed_text.h"
#include "engine/safe_names.h"

namespace pageloom {

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Number of units of `text` that fit into `room` units without splitting a pair.
std::size_t FitUnits(std::u16string_view text, std::size_t room) {
  if (text.size() <= room) return text.size();
  if (room > 0 && IsHighSurrogate(text[room - 1])) return room - 1;
  return room;
}

// Shortens a title to at most `room` units. A nested title (comic/chapter) gives way in
// its leading parts first, so that its last part, which tells sibling folders apart,
// stays whole as long as it fits: two chapters never end up in one folder, where the
// second one's numbered pictures would be taken for the first one's.
std::u16string ShortenTitle(const std::u16string& title, std::size_t room) {
  if (title.size() <= room) return title;
  const std::size_t slash = title.rfind(u'/');
  if (slash != std::u16string::npos && slash > 0 && title.size() - slash < room) {
    const std::size_t lastLength = title.size() - slash;  // the '/' included
    const std::u16string_view head(title.data(), slash);
    return std::u16string(head.substr(0, FitUnits(head, room - lastLength))) + title.substr(slash);
  }
  return title.substr(0, FitUnits(title, room));
}

// Title components made fit for the disk: one that would leave the save folder ("." or
// "..") becomes "_", control characters become '_', and each is cut to the 255 bytes of
// UTF-8 a file name may take, at a character boundary.
std::u16string ConfineComponents(std::u16string_view title) {
  std::u16string result;
  result.reserve(title.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = title.find(u'/', start);
    const std::u16string_view part = title.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (part == u"." || part == u"..")
      result += u'_';
    else
      result += CutToUtf8Bytes(ReplaceControlCharacters(part));
    if (end == std::u16string_view::npos) break;
    result += u'/';
    start = end + 1;
  }
  return result;
}

}  // namespace

std::u16string DefaultSaveFolder() {
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env != 0) {
    home = env;
  } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
    home = entry->pw_dir;
  }
  if (home.empty()) home = "/tmp";
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  return FromUtf8(home + "/comic");
}

char16_t* MakeTaskFolderPath(char16_t* output, char* title, std::u16string_view saveFolder) {
  // 1. The save-folder box, at most kPathCapacity - 1 units.
  CopyWide(output, kPathCapacity, saveFolder);
  std::size_t boxLength = WideLength(output, kPathCapacity);

  // 2. The title ends at its first " Page"; the caller sees the shortened title.
  std::u16string wideTitle;
  if (title != nullptr) {
    if (char* page = std::strstr(title, " Page"); page != nullptr) *page = 0;
    // 4. UTF-8 -> ANSI -> wide, at most kPathCapacity - 1 units.
    std::string ansi;
    CodeConverter().Utf8ToAnsi(ansi, title, static_cast<int>(std::strlen(title)));
    char16_t converted[kPathCapacity];
    converted[0] = 0;
    ToWide(converted, kPathCapacity, ansi.c_str());
    wideTitle = WideView(converted, kPathCapacity);
  }
  // A '/' of the title is a character of its name; a backslash joins a comic and its chapter.
  for (char16_t& unit : wideTitle) {
    if (unit == u'/')
      unit = u'_';
    else if (unit == u'\\')
      unit = u'/';
  }

  // The whole path must fit: box, '/', title, '/'. The title gives way first; the box
  // only when not even an empty title would fit.
  constexpr std::size_t kRoom = kPathCapacity - 1;
  if (boxLength + 2 > kRoom) {
    boxLength = FitUnits(std::u16string_view(output, boxLength), kRoom - 2);
    output[boxLength] = 0;
  }
  // A title that has to be cut leaves room for the pictures' names after it.
  const std::size_t titleRoom =
      boxLength + 2 + kPictureNameRoom < kRoom ? kRoom - boxLength - 2 - kPictureNameRoom : 0;
  // Confined again after shortening: a cut may leave a component reading "..".
  wideTitle = ConfineComponents(ShortenTitle(ConfineComponents(wideTitle), titleRoom));

  // 3. and 5. Separator, title, separator.
  AppendWide(output, kPathCapacity, u"/");
  AppendWide(output, kPathCapacity, wideTitle);
  AppendWide(output, kPathCapacity, u"/");
  return output;
}

}  // namespace pageloom
