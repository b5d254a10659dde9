#include "sites/eh/eh_site.h"

#include <cstring>
#include <optional>
#include <string>

#include "base/encoding.h"
#include "base/fixed_text.h"
#include "engine/page_ahead.h"
#include "engine/picture_download.h"
#include "engine/plain_text.h"
#include "engine/retry.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "sites/eh/eh_metadata.h"
#include "sites/eh/eh_pages.h"

namespace pageloom {

namespace {

constexpr std::size_t kPictureUrlCapacity = 1024;

// The address names a picture page already when its last '-' stands among its last
// five characters (".../123-1", ".../123-12"), or when it has no '-' at all.
bool NamesPicturePage(std::u16string_view address) {
  const std::size_t dash = address.rfind(u'-');
  if (dash == std::u16string_view::npos) return true;
  return dash + 5 >= address.size();
}

// The page text up to its terminator (or the whole buffer when it holds none).
std::string_view PageView(const PageBuffer& page) {
  const void* zero = std::memchr(page.data(), 0, page.size());
  return std::string_view(
      page.data(), zero == nullptr
                       ? page.size()
                       : static_cast<std::size_t>(static_cast<const char*>(zero) - page.data()));
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
  (void)FetchPageRetrying(reader.session, address, reader.page, reader.retry);
  const bool mirror = IsMirror(address);
  // The main form's gallery page tells about the gallery; the mirror's only its address.
  reader.found = mirror ? ComicMetadata{} : ReadEHGalleryMetadata(PageView(reader.page));
  reader.found.web = ToUtf8(address);
  const char* firstPage =
      mirror ? ParseEHMirrorGallery(reader.page) : ParseEHMainGallery(reader.page);
  if (firstPage == nullptr) return std::nullopt;
  char16_t wide[kUrlCapacity];
  ToWide(wide, kUrlCapacity, firstPage);
  return std::u16string(WideView(wide, kUrlCapacity));
}

PageReading EhAdapter::ReadPage(std::u16string_view address, PageReader& reader) const {
  PageReading reading;
  const TransferOutcome fetched =
      FetchPageRetrying(reader.session, address, reader.page, reader.retry);
  if (reader.page[0] == 0) {
    // Nothing came (or nothing could be fetched): the site wants a login. Not said when
    // the reading was cancelled.
    reading.failure = ReasonOfPage(fetched);
    if (!reader.session.Aborted()) reading.message = Message{MessageKind::kLoginNeeded, {}};
    return reading;
  }
  const char* title = ParseEHTitle(reader.page);
  if (title == nullptr) {
    reading.failure = ReasonOfPage(fetched);
    return reading;
  }
  reading.task = TaskDraft{std::u16string(address), title, 0};
  ComicMetadata& metadata = reading.task->metadata;
  metadata = std::move(reader.found);
  reader.found = ComicMetadata{};
  if (metadata.title.empty()) {
    const std::string_view shown(title);
    metadata.title = PlainText(shown.substr(0, shown.find(" Page")));
  }
  if (metadata.web.empty()) metadata.web = ToUtf8(address);
  return reading;
}

std::u16string EhAdapter::TaskTag(std::u16string_view address) const {
  const std::u16string_view path = address.substr(0, address.find_first_of(u"?#"));
  const std::size_t gallery = path.find(u"/g/");
  if (gallery != std::u16string_view::npos) {
    const std::u16string_view rest = path.substr(gallery + 3);
    const std::u16string_view id = rest.substr(0, rest.find(u'/'));
    if (!id.empty() && id.size() <= 20) return std::u16string(id);
  }
  std::u16string_view last = path;
  while (!last.empty() && last.back() == u'/') last.remove_suffix(1);
  last = last.substr(last.rfind(u'/') + 1);
  const std::size_t dash = last.rfind(u'-');
  if (dash != std::u16string_view::npos && dash > 0 && dash <= 20)
    return std::u16string(last.substr(0, dash));
  return SiteAdapter::TaskTag(address);
}

std::shared_ptr<Comic> EhAdapter::NewTask() const {
  auto task = std::make_shared<Comic>();
  task->SetSiteKind(SITE_EH);
  return task;
}

namespace {

// What a picture page gives once read: its picture's address (the mirror's smaller copy
// already chosen) and the page it links to.
struct EhStepPage {
  std::u16string picture;
  std::u16string next;
};

// Fetches and reads the picture page `url` (or takes it from the worker's page read
// ahead). Nothing when the page cannot be had or lacks its shape; `failure` then says why.
std::optional<EhStepPage> ReadPicturePage(StepContext& context, std::u16string_view url,
                                          FailureReason& failure) {
  TransferOutcome fetched;
  fetched.result = TransferResult::kOk;
  if (!context.pageAhead || !context.pageAhead->Take(url, context.page))
    fetched = FetchPageRetrying(context.session, url, context.page, context.retry);
  failure = ReasonOfPage(fetched);
  EHPicturePage parsed;
  if (!ParseEHPicturePage(context.page, parsed)) return std::nullopt;
  // The next page decides whether this is the mirror, whose pictures come from the
  // smaller copy.
  char16_t nextPage[kUrlCapacity];
  ToWide(nextPage, kUrlCapacity, parsed.nextPageUrl);
  const std::u16string_view next = WideView(nextPage, kUrlCapacity);
  if (Contains(next, context.sites.ehMirrorMarker) && !ApplyEHMirrorRule(parsed))
    return std::nullopt;
  char16_t picture[kPictureUrlCapacity];
  ToWide(picture, kPictureUrlCapacity, parsed.pictureUrl);
  return EhStepPage{std::u16string(WideView(picture, kPictureUrlCapacity)), std::u16string(next)};
}

}  // namespace

void Comic::ReadNextPageAhead(StepContext& context, std::u16string_view current,
                              const std::u16string& next, std::u16string_view picture) const {
  // Only the page the next step will read: not when the walk ends there (a page linking
  // to itself, a page walked before, the cap), nor when this picture stops the task.
  if (!context.pageAhead || next == current || m_visited.count(next) != 0 ||
      m_pictureCount + 1 >= kMaxPages || IsLimitPicture(picture) || context.session.Aborted())
    return;
  context.pageAhead->Start(next);
}

// The EH step: one picture page per call, until a page links to itself (or to a page
// walked before); a later run tries the missing pictures again.
int Comic::DownloadNext(StepContext& context) {
  if (m_state == STATE_FINISHED) return 0;
  if (m_walkDone) return RetryMissingStep(context);
  m_state = STATE_DOWNLOADING;

  const std::u16string current(GetPageUrl());
  // A page walked before in this run closes a circle: the gallery ends as at a page that
  // links to itself. So does a gallery longer than any real one.
  if (!m_visited.insert(current).second || m_pictureCount >= kMaxPages) return EndWalk();

  FailureReason failure;
  const std::optional<EhStepPage> page = ReadPicturePage(context, current, failure);
  if (!page) {
    NoteFailure(failure);
    m_visited.erase(current);
    // The page could not be read: the task stands there until the next run. Closing is
    // no failure of the page.
    if (!context.session.Aborted()) m_state = STATE_INCOMPLETE;
    return 0;
  }

  const int numberBefore = m_fileNumber;
  const std::u16string fileName = PictureFileName(page->picture);
  ReadNextPageAhead(context, current, page->next, page->picture);
  const int stored = DownloadPicture(context.session, page->picture, fileName, m_folder, context.ui,
                                     context.retry, context.pictureProgress, &failure);
  if (stored == kPictureStop) {
    if (context.pageAhead) context.pageAhead->Drop();
    m_visited.erase(current);
    // Closing gives the number back, so that the picture keeps it when the page is read
    // again; the site's limit keeps the number used.
    if (context.session.Aborted()) m_fileNumber = numberBefore;
    m_state = STATE_PAUSED;
    return 0;
  }
  if (stored == kPictureFailed) AddMissing(MissingPicture{{}, current, fileName, failure});
  ++m_pictureCount;

  if (page->next == current) return EndWalk();
  CopyWide(m_pageUrl, kUrlCapacity, page->next);
  return 1;
}

int Comic::StoreMissing(StepContext& context, const MissingPicture& picture,
                        FailureReason& failure) {
  // Picture addresses of this site do not last: the page is read again for a fresh one.
  const std::optional<EhStepPage> page = ReadPicturePage(context, picture.page, failure);
  if (!page) return context.session.Aborted() ? kPictureStop : kPictureFailed;
  return DownloadPicture(context.session, page->picture, picture.fileName, m_folder, context.ui,
                         context.retry, context.pictureProgress, &failure);
}

}  // namespace pageloom
