#include "sites/eh/eh_site.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/encoding.h"
#include "base/fixed_text.h"
#include "engine/ban_clock.h"
#include "engine/page_ahead.h"
#include "engine/picture_download.h"
#include "engine/picture_range.h"
#include "engine/plain_text.h"
#include "engine/retry.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "sites/eh/eh_answers.h"
#include "sites/eh/eh_metadata.h"
#include "sites/eh/eh_pages.h"
#include "sites/eh/eh_task.h"

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

// True when the range of the step ends before picture `number`.
bool PastRange(const StepContext& context, int number) {
  if (context.range == nullptr) return false;
  const std::optional<int> last = context.range->Last();
  return last && number > *last;
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
  // A ban page makes no task; the user hears how long it lasts.
  const std::string_view text(reader.page.data(), strnlen(reader.page.data(), reader.page.size()));
  if (const std::optional<std::chrono::seconds> ban = ParseEhBan(text)) {
    reading.message =
        Message{MessageKind::kBanned, {WideNumber(static_cast<int>((ban->count() + 59) / 60))}};
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

std::optional<std::u16string> EhAdapter::Identity(std::u16string_view address) const {
  const std::u16string_view path = address.substr(0, address.find_first_of(u"?#"));
  std::u16string_view number;
  if (const std::size_t gallery = path.find(u"/g/"); gallery != std::u16string_view::npos) {
    const std::u16string_view rest = path.substr(gallery + 3);
    number = rest.substr(0, rest.find(u'/'));
  } else if (const std::size_t page = path.find(u"/s/"); page != std::u16string_view::npos) {
    std::u16string_view rest = path.substr(page + 3);
    rest = rest.substr(rest.find(u'/') == std::u16string_view::npos ? rest.size()
                                                                    : rest.find(u'/') + 1);
    number = rest.substr(0, rest.find(u'-'));
  }
  const bool digits = !number.empty() && number.size() <= 20 &&
                      number.find_first_not_of(u"0123456789") == std::u16string_view::npos;
  if (!digits) return std::nullopt;
  return std::u16string(number);
}

std::shared_ptr<Task> EhAdapter::NewTask() const {
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
  std::string reloadKey;  // of its link to the picture's second server; empty: none
};

// What reading a picture page came to: the page, or the ban the site answered with, or
// neither (the page could not be had or lacks its shape).
struct PageRead {
  std::optional<EhStepPage> page;
  std::optional<std::chrono::seconds> ban;
  FailureReason failure;  // why there is no page, when there is none
};

std::string_view PageText(const PageBuffer& page) {
  return std::string_view(page.data(), strnlen(page.data(), page.size()));
}

// Fetches a page of the site into `page`, tried again as `retry` says; a ban page ends
// the tries. The ban's length, when the site answered with one; `last` is the last try's
// outcome.
std::optional<std::chrono::seconds> FetchEhPage(Session& session, const RetryPolicy& retry,
                                                std::u16string_view url, PageBuffer& page,
                                                TransferOutcome& last) {
  std::optional<std::chrono::seconds> ban;
  WithRetries(retry, session.Cancel(), [&] {
    last = FetchPageText(session, url, page);
    ban = ParseEhBan(PageText(page));
    if (!ban) return last;
    TransferOutcome settled;  // a ban is not tried again
    settled.result = TransferResult::kOk;
    return settled;
  });
  return ban;
}

// Fetches and reads the picture page `url` (or takes it from the worker's page read
// ahead, unless `fresh`).
PageRead ReadPicturePage(StepContext& context, std::u16string_view url, bool fresh = false) {
  PageRead read;
  TransferOutcome fetched;
  fetched.result = TransferResult::kOk;
  if (!fresh && context.pageAhead && context.pageAhead->Take(url, context.page))
    read.ban = ParseEhBan(PageText(context.page));
  else
    read.ban = FetchEhPage(context.session, context.retry, url, context.page, fetched);
  if (read.ban) return read;
  read.failure = ReasonOfPage(fetched);
  std::optional<std::string> reloadKey = ParseEhReloadKey(PageText(context.page));
  EHPicturePage parsed;
  if (!ParseEHPicturePage(context.page, parsed)) return read;
  // The next page decides whether this is the mirror, whose pictures come from the
  // smaller copy.
  char16_t nextPage[kUrlCapacity];
  ToWide(nextPage, kUrlCapacity, parsed.nextPageUrl);
  const std::u16string_view next = WideView(nextPage, kUrlCapacity);
  if (Contains(next, context.sites.ehMirrorMarker) && !ApplyEHMirrorRule(parsed)) return read;
  char16_t picture[kPictureUrlCapacity];
  ToWide(picture, kPictureUrlCapacity, parsed.pictureUrl);
  read.page = EhStepPage{std::u16string(WideView(picture, kPictureUrlCapacity)),
                         std::u16string(next), reloadKey.value_or(std::string())};
  return read;
}

// What the site's answers instead of a picture mean: its ban, its limit page.
AnswerReading ReadEhAnswer(std::string_view text) {
  AnswerReading reading;
  if (const std::optional<std::chrono::seconds> ban = ParseEhBan(text)) {
    reading.kind = AnswerReading::Kind::kBan;
    reading.banFor = *ban;
  } else if (IsEhLimitText(text)) {
    reading.kind = AnswerReading::Kind::kLimit;
  }
  return reading;
}

// How a picture's download ended, beyond its result: why it failed, how long a ban lasts,
// whether its second server may serve it.
struct PictureEnd {
  FailureReason reason;
  std::chrono::seconds banFor{0};
  bool worthReload = false;
  bool mayPass = false;  // it failed for a reason that may pass
};

// The picture page's second server is asked when the first failed in a way that another
// server may not: no connection, a broken or stalled transfer, an answer 5xx, 403 or 404,
// an answer that is no picture (the limit has stopped the download before).
bool WorthReload(const PictureOutcome& last) {
  if (last.result == PictureResult::kNotPicture) return true;
  const TransferOutcome& transfer = last.transfer;
  if ((transfer.status >= 500 && transfer.status <= 599) || transfer.status == 403 ||
      transfer.status == 404)
    return true;
  return transfer.result == TransferResult::kConnectFailed ||
         transfer.result == TransferResult::kTimedOut ||
         (transfer.result == TransferResult::kFailed && transfer.status < 400);
}

// The reloads of one picture from the second server, before the retry policy applies.
constexpr int kMostReloads = 2;

// The picture of a page, into the task's folder, as the step and a later run store it;
// tried once when `once`, else as the retry policy says.
int DownloadEhPicture(StepContext& context, std::u16string_view picture,
                      std::u16string_view fileName, char16_t* folder, PictureEnd& end,
                      bool once = false) {
  PictureRequest request;
  request.retry = once ? nullptr : &context.retry;
  request.progress = context.pictureProgress;
  request.readAnswer = &ReadEhAnswer;
  const int result =
      DownloadPicture(context.session, picture, fileName, folder, context.ui, request);
  if (result == kPictureFailed) end.reason = request.failure;
  end.banFor = request.banFor;
  end.worthReload = result == kPictureFailed && WorthReload(request.last);
  end.mayPass = result == kPictureFailed && request.last.transfer.MayPass();
  return result;
}

// The picture of `page` (read from `pageUrl`), and when it fails the picture the page
// names when asked for its second server, at most kMostReloads times; the file keeps its
// name. The last try goes as the retry policy says.
int DownloadFromPage(StepContext& context, std::u16string_view pageUrl, EhStepPage page,
                     std::u16string_view fileName, char16_t* folder, PictureEnd& end) {
  for (int reload = 0;; ++reload) {
    const bool mayReload = reload < kMostReloads && !page.reloadKey.empty();
    const int result = DownloadEhPicture(context, page.picture, fileName, folder, end, mayReload);
    if (!mayReload || context.session.Aborted()) return result;
    // A failure the second server would not mend goes as the retry policy says.
    if (!end.worthReload)
      return end.mayPass ? DownloadEhPicture(context, page.picture, fileName, folder, end) : result;
    const PageRead read = ReadPicturePage(context, EhReloadAddress(pageUrl, page.reloadKey), true);
    if (read.ban) {
      end.banFor = *read.ban;
      return kPictureBanned;
    }
    if (!read.page) return result;
    page = *read.page;
  }
}

}  // namespace

void Comic::ReadNextPageAhead(StepContext& context, std::u16string_view current,
                              const std::u16string& next, std::u16string_view picture) const {
  // Only the page the next step will read: not when the walk ends there (a page linking
  // to itself, a page walked before, the cap), nor when this picture stops the task.
  if (!context.pageAhead || next == current || m_visited.count(next) != 0 ||
      m_pictureCount + 1 >= kMaxPages || PastRange(context, m_pictureCount + 2) ||
      IsLimitPicture(picture) || context.session.Aborted())
    return;
  context.pageAhead->Start(next, [&session = context.session, &retry = context.retry](
                                     std::u16string_view url, PageBuffer& page) {
    TransferOutcome last;
    (void)FetchEhPage(session, retry, url, page, last);
  });
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
  if (!m_visited.insert(current).second || m_pictureCount >= kMaxPages ||
      PastRange(context, m_pictureCount + 1))
    return EndGallery();

  const PageRead read = ReadPicturePage(context, current);
  if (read.ban) {
    m_visited.erase(current);
    return Banned(context, *read.ban);
  }
  const std::optional<EhStepPage>& page = read.page;
  const FailureReason& failure = read.failure;
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
  if (context.range && !context.range->Contains(m_pictureCount + 1)) {
    // A page outside the range: its picture is named and counted, never fetched.
    ++m_pictureCount;
    if (page->next == current) return EndGallery();
    SetPageUrl(page->next);
    return 1;
  }
  ReadNextPageAhead(context, current, page->next, page->picture);
  PictureEnd end;
  const int stored =
      DownloadFromPage(context, current, *page, fileName, FolderBuffer(*this).Units(), end);
  if (stored == kPictureStop || stored == kPictureBanned) {
    if (context.pageAhead) context.pageAhead->Drop();
    m_visited.erase(current);
    // Closing, the site's limit and its ban give the number back: the picture gets it
    // when the page is read again, and numbering goes on without a gap.
    m_fileNumber = numberBefore;
    if (stored == kPictureBanned) return Banned(context, end.banFor);
    m_state = STATE_PAUSED;
    return 0;
  }
  if (stored == kPictureFailed) AddMissing(MissingPicture{{}, current, fileName, end.reason});
  ++m_pictureCount;

  if (page->next == current) return EndGallery();
  SetPageUrl(page->next);
  return 1;
}

int Comic::EndGallery() {
  m_visited.clear();
  return EndWalk();
}

void Comic::Restore(const TaskRecord& record) {
  Task::Restore(record);
  m_visited.clear();
}

int Comic::StoreMissing(StepContext& context, const MissingPicture& picture,
                        FailureReason& failure) {
  // Picture addresses of this site do not last: the page is read again for a fresh one.
  const PageRead read = ReadPicturePage(context, picture.page);
  PictureEnd end;
  int result;
  if (read.ban) {
    end.banFor = *read.ban;
    result = kPictureBanned;
  } else if (!read.page) {
    failure = read.failure;
    return context.session.Aborted() ? kPictureStop : kPictureFailed;
  } else {
    result = DownloadFromPage(context, picture.page, *read.page, picture.fileName,
                              FolderBuffer(*this).Units(), end);
  }
  if (result == kPictureBanned && context.ban) context.ban->Ban(end.banFor);
  if (result == kPictureFailed) failure = end.reason;
  return result;
}

}  // namespace pageloom
