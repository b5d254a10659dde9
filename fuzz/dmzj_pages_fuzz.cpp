// Arbitrary page text into the DMZJ series and chapter parsers and the script cut. The
// text is copied into a buffer of exactly its length, so any read or write past the
// end of the page text is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "sites/dmzj/dmzj_metadata.h"
#include "sites/dmzj/dmzj_pages.h"

namespace {

// The page text as the adapters see it: the bytes before the first zero.
std::unique_ptr<char[]> Page(const uint8_t* data, std::size_t size, std::size_t& length) {
  length = pageloom::PageTextLength(reinterpret_cast<const char*>(data), size);
  auto text = std::make_unique<char[]>(length == 0 ? 1 : length);
  if (length > 0) std::memcpy(text.get(), data, length);
  return text;
}

void Inside(const char* text, std::size_t length, std::string_view piece) {
  if (piece.data() == nullptr) return;
  if (piece.data() < text || piece.data() + piece.size() > text + length) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace pageloom;
  std::size_t length = 0;

  {
    // Names of any bytes: the chapter's metadata reads inside them only.
    auto names = Page(data, size, length);
    const std::string_view all(names.get(), length);
    const ComicMetadata m =
        DmzjChapterMetadata(all.substr(0, length / 2), all.substr(length / 2), all);
    for (const char c : m.number)
      if ((c < '0' || c > '9') && c != '.') __builtin_trap();
  }

  auto series = Page(data, size, length);
  Inside(series.get(), length, ParseDmzjSeriesLink(series.get(), length));

  auto chapterText = Page(data, size, length);
  DmzjChapterPage chapter;
  if (ParseDmzjChapterPage(chapterText.get(), length, chapter) == DmzjChapterParse::kComplete) {
    Inside(chapterText.get(), length, chapter.comicName);
    Inside(chapterText.get(), length, chapter.chapterName);
    if (chapter.next != DmzjNextLink::kNone) Inside(chapterText.get(), length, chapter.nextLink);
    if (chapter.next == DmzjNextLink::kLink && chapter.nextLink.size() >= kDmzjNextLinkCapacity) {
      __builtin_trap();
    }
    char title[kDmzjTitleCapacity];
    const std::size_t titleLength = JoinDmzjTitle(title, chapter.comicName, chapter.chapterName);
    if (titleLength >= kDmzjTitleCapacity || title[titleLength] != 0) __builtin_trap();
  }

  auto scriptText = Page(data, size, length);
  if (const char* script = FindDmzjScript(scriptText.get(), length)) {
    const std::size_t scriptLength = std::strlen(script);  // ends at the cut line feed
    Inside(scriptText.get(), length, std::string_view(script, scriptLength));
  }

  // The title cut on raw bytes, with every limit up to the text's length.
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::size_t limit = size == 0 ? 0 : data[0] % (size + 1);
  if (Utf8Prefix(raw, limit).size() > limit) __builtin_trap();
  (void)ReadDecimal(raw);
  return 0;
}
