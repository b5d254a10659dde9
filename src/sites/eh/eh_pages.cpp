#include "sites/eh/eh_pages.h"

#include <cstring>
#include <string_view>

namespace pageloom {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Offsets the site's page shapes fix.
constexpr std::size_t kMirrorAddressOffset = 24;  // after the start of "div class="gi""
constexpr std::size_t kLinkEndBefore = 3;         // the link ends this far before a marker
constexpr std::size_t kPictureOffset = 17;        // after the start of "img id"

// The page text up to its terminator; false when there is none within the buffer.
bool PageText(const char* text, std::size_t capacity, std::string_view& out) {
  if (text == nullptr || capacity == 0) return false;
  const void* zero = std::memchr(text, 0, capacity);
  if (zero == nullptr) return false;
  out = std::string_view(text, static_cast<std::size_t>(static_cast<const char*>(zero) - text));
  return true;
}

}  // namespace

char* ParseEHMirrorGallery(char* text, std::size_t capacity) {
  std::string_view page;
  if (!PageText(text, capacity, page)) return nullptr;
  const std::size_t marker = page.find(kEHMirrorGalleryMarker);
  if (marker == npos || page.size() - marker < kMirrorAddressOffset) return nullptr;
  const std::size_t start = marker + kMirrorAddressOffset;
  const std::size_t end = page.find('"', start);
  if (end == npos) return nullptr;
  text[end] = 0;
  return text + start;
}

char* ParseEHMainGallery(char* text, std::size_t capacity) {
  std::string_view page;
  if (!PageText(text, capacity, page)) return nullptr;
  const std::size_t marker = page.find(kEHMainGalleryMarker);
  if (marker == npos || marker < kLinkEndBefore) return nullptr;
  const std::size_t end = marker - kLinkEndBefore;
  const std::size_t quote = page.substr(0, end).rfind('"');
  if (quote == npos) return nullptr;
  text[end] = 0;
  return text + quote + 1;
}

char* ParseEHTitle(char* text, std::size_t capacity) {
  std::string_view page;
  if (!PageText(text, capacity, page)) return nullptr;
  const std::size_t marker = page.find(kEHTitleMarker);
  if (marker == npos) return nullptr;
  const std::size_t start = marker + std::strlen(kEHTitleMarker);
  const std::size_t end = page.find('<', start);
  if (end == npos) return nullptr;
  text[end] = 0;
  return text + start;
}

bool ParseEHPicturePage(char* text, std::size_t capacity, EHPicturePage& out) {
  std::string_view page;
  if (!PageText(text, capacity, page)) return false;
  const std::size_t marker = page.find(kEHPictureMarker);
  if (marker == npos || marker < kLinkEndBefore) return false;
  // The byte at 17 must belong to the text: it tells a two-letter id from a longer one.
  if (page.size() - marker <= kPictureOffset) return false;
  std::size_t start = marker + kPictureOffset;
  if (page[start] == '"') ++start;
  const std::size_t pictureEnd = page.find('"', start);
  if (pictureEnd == npos) return false;
  const std::size_t linkEnd = marker - kLinkEndBefore;
  const std::size_t quote = page.substr(0, linkEnd).rfind('"');
  if (quote == npos) return false;

  text[linkEnd] = 0;
  text[pictureEnd] = 0;
  out.pictureUrl = text + start;
  out.pictureLength = pictureEnd - start;
  out.nextPageUrl = text + quote + 1;
  out.nextPageLength = linkEnd - (quote + 1);
  return true;
}

bool ApplyEHMirrorRule(EHPicturePage& page) {
  if (page.pictureUrl == nullptr) return false;
  const std::string_view picture(page.pictureUrl, page.pictureLength);
  const std::size_t slash = picture.rfind('/');
  if (slash == npos || slash == 0) return false;
  page.pictureUrl[slash - 1] = '3';
  return true;
}

}  // namespace pageloom
