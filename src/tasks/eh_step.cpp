// The download step of an EH task: one picture page per call.
#include <string>
#include <string_view>

#include "net/internet.h"
#include "net/picture.h"
#include "tasks/comic.h"
#include "tasks/eh_pages.h"
#include "tasks/sites.h"
#include "text/encoding.h"
#include "text/fixed_text.h"

namespace pageloom {

namespace {

constexpr std::size_t kPictureUrlCapacity = 1024;

}  // namespace

int Comic::DownloadNext(PageBuffer& page, UserPrompt& ui) {
  if (m_state == STATE_FINISHED) return 0;
  m_state = STATE_DOWNLOADING;

  char16_t url[kUrlCapacity];
  CopyWide(url, kUrlCapacity, GetPageUrl());
  FetchPage(WideView(url, kUrlCapacity), page);

  EHPicturePage parsed;
  if (!ParseEHPicturePage(page, parsed)) return 0;

  // The next page decides whether this is the mirror, whose pictures come from the
  // smaller copy.
  char16_t nextPage[kUrlCapacity];
  ToWide(nextPage, kUrlCapacity, parsed.nextPageUrl);
  const std::u16string_view next = WideView(nextPage, kUrlCapacity);
  const std::u16string& mirror = Sites().ehMirrorMarker;
  if (!mirror.empty() && next.find(mirror) != std::u16string_view::npos &&
      !ApplyEHMirrorRule(parsed)) {
    return 0;
  }

  ToWide(url, kPictureUrlCapacity, parsed.pictureUrl);
  const std::u16string_view picture = WideView(url, kPictureUrlCapacity);
  const std::u16string fileName = PictureFileName(picture);
  if (DownloadPicture(picture, fileName, m_folder, ui) == kPictureStop) {
    m_state = STATE_PAUSED;
    return 0;
  }
  ++m_pictureCount;

  if (next == GetPageUrl()) {
    m_state = STATE_FINISHED;
    return 0;
  }
  CopyWide(m_pageUrl, kUrlCapacity, next);
  return 1;
}

}  // namespace pageloom
