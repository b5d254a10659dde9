#include "tasks/eh_site.h"

#include <string>

#include "net/page_fetch.h"
#include "tasks/eh_pages.h"
#include "tasks/picture_download.h"
#include "text/encoding.h"
#include "text/fixed_text.h"

namespace pageloom {

namespace {

constexpr char16_t kLoginMessage[] =
    u"解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重试";
constexpr std::size_t kPictureUrlCapacity = 1024;

// The address names a picture page already when its last '-' stands among its last
// five characters (".../123-1", ".../123-12"), or when it has no '-' at all.
bool NamesPicturePage(std::u16string_view address) {
  const std::size_t dash = address.rfind(u'-');
  if (dash == std::u16string_view::npos) return true;
  return dash + 5 >= address.size();
}

bool Contains(std::u16string_view text, const std::u16string& marker) {
  return !marker.empty() && text.find(marker) != std::u16string_view::npos;
}

}  // namespace

bool EhAdapter::Recognises(std::u16string_view address) const {
  return Contains(address, m_names.ehHostMarker);
}

bool EhAdapter::IsMirror(std::u16string_view address) const {
  return Contains(address, m_names.ehMirrorMarker);
}

std::optional<std::u16string> EhAdapter::FirstPage(std::u16string_view address,
                                                   PageReader& reader) const {
  if (NamesPicturePage(address)) return std::u16string(address);
  FetchPage(reader.session, address, reader.page);
  const char* firstPage =
      IsMirror(address) ? ParseEHMirrorGallery(reader.page) : ParseEHMainGallery(reader.page);
  if (firstPage == nullptr) return std::nullopt;
  char16_t wide[kUrlCapacity];
  ToWide(wide, kUrlCapacity, firstPage);
  return std::u16string(WideView(wide, kUrlCapacity));
}

PageReading EhAdapter::ReadPage(std::u16string_view address, PageReader& reader) const {
  PageReading reading;
  FetchPage(reader.session, address, reader.page);
  if (reader.page[0] == 0) {
    // Nothing came (or nothing could be fetched): the site wants a login. Not said when
    // the reading was cancelled.
    if (!reader.session.Aborted()) reading.message = kLoginMessage;
    return reading;
  }
  const char* title = ParseEHTitle(reader.page);
  if (title == nullptr) return reading;
  reading.task = TaskDraft{std::u16string(address), title, 0};
  return reading;
}

std::shared_ptr<Comic> EhAdapter::NewTask() const {
  auto task = std::make_shared<Comic>();
  task->SetSiteKind(SITE_EH);
  return task;
}

// The EH step: one picture page per call.
int Comic::DownloadNext(StepContext& context) {
  if (m_state == STATE_FINISHED) return 0;
  m_state = STATE_DOWNLOADING;

  char16_t url[kUrlCapacity];
  CopyWide(url, kUrlCapacity, GetPageUrl());
  FetchPage(context.session, WideView(url, kUrlCapacity), context.page);

  EHPicturePage parsed;
  if (!ParseEHPicturePage(context.page, parsed)) return 0;

  // The next page decides whether this is the mirror, whose pictures come from the
  // smaller copy.
  char16_t nextPage[kUrlCapacity];
  ToWide(nextPage, kUrlCapacity, parsed.nextPageUrl);
  const std::u16string_view next = WideView(nextPage, kUrlCapacity);
  if (Contains(next, context.sites.ehMirrorMarker) && !ApplyEHMirrorRule(parsed)) return 0;

  ToWide(url, kPictureUrlCapacity, parsed.pictureUrl);
  const std::u16string_view picture = WideView(url, kPictureUrlCapacity);
  const std::u16string fileName = PictureFileName(picture);
  if (DownloadPicture(context.session, picture, fileName, m_folder, context.ui) == kPictureStop) {
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
