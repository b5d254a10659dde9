// Arbitrary bytes as the text of an EH page, through every way the EH adapter reads one.
// Each parser gets its own copy in a buffer just large enough, so a read or a write past
// the text is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sites/eh/eh_metadata.h"
#include "sites/eh/eh_pages.h"

namespace {

using pageloom::EHPicturePage;

// The text as a fetch leaves it: the bytes, then a terminator, nothing behind it.
std::vector<char> Terminated(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(size + 1);
  if (size != 0) std::memcpy(text.data(), data, size);
  text[size] = 0;
  return text;
}

// The cut-out piece must be a terminated string inside the buffer.
void CheckInside(const std::vector<char>& text, const char* piece) {
  if (piece == nullptr) return;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (piece < begin || piece >= end) std::abort();
  if (std::memchr(piece, 0, static_cast<std::size_t>(end - piece)) == nullptr) std::abort();
}

void CheckPicturePage(const std::vector<char>& text, const EHPicturePage& page) {
  CheckInside(text, page.pictureUrl);
  CheckInside(text, page.nextPageUrl);
  if (std::strlen(page.pictureUrl) != page.pictureLength) std::abort();
  if (std::strlen(page.nextPageUrl) != page.nextPageLength) std::abort();
}

}  // namespace

// Every field of the gallery metadata is plain UTF-8 text without control characters.
void CheckPlain(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    // A copy of exactly the page's bytes: the metadata reader never reads past them.
    const std::vector<char> page(data, data + size);
    const pageloom::ComicMetadata m =
        pageloom::ReadEHGalleryMetadata(std::string_view(page.data(), page.size()));
    CheckPlain(m.title);
    CheckPlain(m.originalTitle);
    for (const auto& tag : m.tags) CheckPlain(tag.space + tag.name);
    if (m.length < 0) std::abort();
  }
  {
    auto text = Terminated(data, size);
    CheckInside(text, pageloom::ParseEHMirrorGallery(text.data(), text.size()));
  }
  {
    auto text = Terminated(data, size);
    CheckInside(text, pageloom::ParseEHMainGallery(text.data(), text.size()));
  }
  {
    auto text = Terminated(data, size);
    CheckInside(text, pageloom::ParseEHTitle(text.data(), text.size()));
  }
  {
    auto text = Terminated(data, size);
    EHPicturePage page;
    if (pageloom::ParseEHPicturePage(text.data(), text.size(), page)) {
      CheckPicturePage(text, page);
      if (pageloom::ApplyEHMirrorRule(page)) CheckPicturePage(text, page);
    }
  }
  // The same bytes without a terminator: nothing may be found and nothing touched.
  if (size != 0) {
    std::vector<char> raw(data, data + size);
    if (std::memchr(raw.data(), 0, size) == nullptr) {
      EHPicturePage page;
      if (pageloom::ParseEHMirrorGallery(raw.data(), raw.size()) != nullptr ||
          pageloom::ParseEHMainGallery(raw.data(), raw.size()) != nullptr ||
          pageloom::ParseEHTitle(raw.data(), raw.size()) != nullptr ||
          pageloom::ParseEHPicturePage(raw.data(), raw.size(), page)) {
        std::abort();
      }
    }
  }
  return 0;
}
