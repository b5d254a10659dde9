#include "sites/dmzj/dmzj_site.h"

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "base/debug_line.h"
#include "base/encoding.h"
#include "base/fixed_text.h"
#include "engine/links.h"
#include "engine/picture_ahead.h"
#include "engine/picture_download.h"
#include "engine/picture_range.h"
#include "engine/retry.h"
#include "engine/user_prompt.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "script/script_eval.h"
#include "script/script_host.h"
#include "sites/dmzj/dmzj_metadata.h"
#include "sites/dmzj/dmzj_pages.h"
#include "sites/dmzj/dmzj_task.h"

namespace pageloom {

namespace {

// Makes sure the page text ends inside the buffer and returns its length.
std::size_t TerminatedLength(PageBuffer& page) {
  std::size_t length = PageTextLength(page.data(), page.size());
  if (length == page.size()) {
    length = page.size() - 1;
    page[length] = 0;
  }
  return length;
}

// `link`, as text of the page at `page`, resolved against that page's address. Nothing
// when it cannot be resolved, leads off the page's host, or does not fit an address
// buffer (a cut address would name some other page).
std::optional<std::u16string> ResolveOnSite(std::u16string_view page, std::u16string_view link,
                                            const char* what) {
  std::u16string resolved = ResolveReference(page, link);
  if (resolved.empty() || !StaysOnHost(resolved, page)) {
    DebugLine(std::string("DMZJ ") + what + " link leads elsewhere; not followed");
    return std::nullopt;
  }
  if (resolved.size() > kUrlCapacity - 1) {
    DebugLine(std::string("DMZJ ") + what + " address too long; not followed");
    return std::nullopt;
  }
  return resolved;
}

// The next chapter's address: `link` (relative, UTF-8 page text) resolved against the
// chapter's address.
std::optional<std::u16string> NextChapterAddress(std::u16string_view current,
                                                 std::string_view link) {
  char linkText[kDmzjNextLinkCapacity] = {};
  std::memcpy(linkText, link.data(), link.size());
  std::string ansi;
  CodeConverter().Utf8ToAnsi(ansi, linkText, static_cast<int>(link.size()));
  char16_t wideLink[kPathCapacity];
  wideLink[0] = 0;
  ToWide(wideLink, kPathCapacity, ansi.c_str());
  return ResolveOnSite(current, WideView(wideLink, kPathCapacity), "next-chapter");
}

// A folder a picture can be stored into as it is, without preparing it: its text ends in
// '/' and a folder is there.
bool ReadyFolder(std::u16string_view folder) {
  if (folder.empty() || folder.back() != u'/') return false;
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::u8path(ToUtf8(folder)), error);
}

}  // namespace

bool DmzjAdapter::Recognises(std::u16string_view address) const {
  return !m_names.dmzjHost.empty() && address.find(m_names.dmzjHost) != std::u16string_view::npos;
}

std::optional<std::u16string> DmzjAdapter::Identity(std::u16string_view address) const {
  if (address.find(kDmzjChapterAddressMarker) == std::u16string_view::npos) return std::nullopt;
  return LastPartNumber(address);
}

std::optional<std::u16string> DmzjAdapter::FirstPage(std::u16string_view address,
                                                     PageReader& reader) const {
  if (address.find(kDmzjChapterAddressMarker) != std::u16string_view::npos)
    return std::u16string(address);
  (void)FetchPageRetrying(reader.session, address, reader.page, reader.retry);
  const std::size_t length = TerminatedLength(reader.page);
  const std::string_view link = ParseDmzjSeriesLink(reader.page.data(), length);
  if (link.data() == nullptr) return std::nullopt;

  if (link.size() > kDmzjSeriesLinkCapacity - 1) {
    DebugLine(std::string_view("DMZJ series link too long; address left as typed"));
    return std::nullopt;
  }
  // The page's bytes are taken as ANSI text, not re-encoded from UTF-8; the link is
  // resolved against the series page and followed only on its host.
  char series[kDmzjSeriesLinkCapacity];
  std::memcpy(series, link.data(), link.size());
  series[link.size()] = 0;
  char16_t wide[kUrlCapacity];
  ToWide(wide, kUrlCapacity, series);
  return ResolveOnSite(address, WideView(wide, kUrlCapacity), "series");
}

PageReading DmzjAdapter::ReadPage(std::u16string_view address, PageReader& reader) const {
  PageReading reading;
  const TransferOutcome fetched =
      FetchPageRetrying(reader.session, address, reader.page, reader.retry);
  const std::size_t length = TerminatedLength(reader.page);

  // The whole page is read before anything is made, so that a page lacking a piece
  // leaves no half-filled task behind.
  DmzjChapterPage chapter;
  const DmzjChapterParse parsed = ParseDmzjChapterPage(reader.page.data(), length, chapter);
  if (parsed != DmzjChapterParse::kComplete) {
    reading.failure = ReasonOfPage(fetched);
    if (parsed == DmzjChapterParse::kIncomplete)
      DebugLine(u"DMZJ chapter page incomplete, no task: " + std::u16string(address));
    return reading;
  }

  char title[kDmzjTitleCapacity];
  JoinDmzjTitle(title, chapter.comicName, chapter.chapterName);
  reading.task = TaskDraft{std::u16string(address), title, chapter.pictureCount};
  reading.task->metadata =
      DmzjChapterMetadata(chapter.comicName, chapter.chapterName, ToUtf8(address));
  if (chapter.next == DmzjNextLink::kTooLong)
    DebugLine(std::string_view("DMZJ next-chapter link too long; chain ends"));
  if (chapter.next == DmzjNextLink::kLink)
    reading.next = NextChapterAddress(address, chapter.nextLink);
  return reading;
}

std::shared_ptr<Task> DmzjAdapter::NewTask() const {
  auto task = std::make_shared<ComicDMZJ>();
  task->SetSiteKind(SITE_DMZJ);
  return task;
}

// The DMZJ chapter step: the first call of a run builds the chapter's picture list from
// the page's packed script, every call downloads the front picture of the list. A chapter
// whose list cannot be built goes back to "准备中" and is read again by the next run; one
// whose pictures failed ends unfinished, and the next run tries those again.
int ComicDMZJ::DownloadNext(StepContext& context) {
  if (m_state == STATE_FINISHED) return 0;
  if (m_walkDone) return RetryMissingStep(context);
  if (m_state == STATE_PREPARING) {
    m_state = STATE_DOWNLOADING;
    if (LoadPictureList(context) != 1) {
      m_state = STATE_PREPARING;  // never finished without its pictures
      return 0;
    }
  }
  m_state = STATE_DOWNLOADING;  // the states 1, 3 and 5 carry on like 2
  if (m_pictureUrls.empty()) return EndWalk();

  std::u16string entry = std::move(m_pictureUrls.front());
  m_pictureUrls.pop_front();
  ++m_listTaken;
  const int numberBefore = m_fileNumber;
  const std::u16string fileName = PictureFileName(entry);
  if (context.range && !context.range->Contains(m_listTaken)) return SkipOutOfRange(*context.range);
  // Stored ahead by the step before, or now, with the next one stored ahead meanwhile.
  std::optional<int> stored;
  FailureReason failure;
  if (context.pictureAhead)
    stored = context.pictureAhead->Take(PictureJob{entry, std::u16string(GetFolder()), fileName},
                                        &failure);
  if (!stored) {
    StoreNextPictureAhead(context, entry);
    stored = DownloadPicture(context.session, entry, fileName, FolderBuffer(*this).Units(),
                             context.ui, context.retry, context.pictureProgress, &failure);
  }
  if (*stored == kPictureStop) {
    if (context.pictureAhead) context.pictureAhead->Drop();
    // Closing (or the site's limit): the entry goes back to the front with its number,
    // so stopping never loses a picture of the list.
    m_pictureUrls.push_front(std::move(entry));
    --m_listTaken;
    m_fileNumber = numberBefore;
    m_state = STATE_PAUSED;
    return 0;
  }
  if (*stored == kPictureFailed) AddMissing(MissingPicture{entry, {}, fileName, failure});
  return 1;
}

void ComicDMZJ::StoreNextPictureAhead(StepContext& context, std::u16string_view current) const {
  // Never a word to the user from the helper: not the site's limit picture, not into a
  // folder that would have to be made or picked first; nothing when this picture stops.
  if (!context.pictureAhead || m_pictureUrls.empty() || IsLimitPicture(current) ||
      context.session.Aborted() || (context.range && !context.range->Contains(m_listTaken + 1)))
    return;
  const std::u16string& next = m_pictureUrls.front();
  const std::u16string folder(GetFolder());
  if (IsLimitPicture(next) || !ReadyFolder(folder)) return;
  context.pictureAhead->Start(PictureJob{next, folder, NextPictureFileName(next)});
}

int ComicDMZJ::SkipOutOfRange(const PictureRange& range) {
  const std::optional<int> last = range.Last();
  if (!last || m_listTaken <= *last) return 1;
  // Past the range's end: the rest of the list is named and counted in this one step.
  while (!m_pictureUrls.empty()) {
    ++m_listTaken;
    (void)PictureFileName(m_pictureUrls.front());
    m_pictureUrls.pop_front();
  }
  return EndWalk();
}

int ComicDMZJ::LoadPictureList(StepContext& context) {
  m_pictureUrls.clear();
  ++m_listVersion;
  m_listTaken = 0;
  const TransferOutcome fetched =
      FetchPageRetrying(context.session, GetStartUrl(), context.page, context.retry);
  const std::size_t length = TerminatedLength(context.page);
  const char* script = FindDmzjScript(context.page.data(), length);
  if (script == nullptr) {
    NoteFailure(ReasonOfPage(fetched));
    return 0;
  }
  ScriptOptions options;
  options.pictureHost = context.sites.dmzjPictureHost;
  options.cancel = &context.session.Cancel();
  options.host = context.scripts;
  const bool toldBefore = context.scripts != nullptr && context.scripts->SandboxMissing();
  ScriptStatus failure = ScriptStatus::kText;
  const int listed = EvalPictureList(script, m_pictureUrls, options, &failure);
  const bool unsafe = listed != 1 && failure == ScriptStatus::kNoSandbox;
  NoteScriptsBlocked(unsafe);
  // Refusing to run scripts unlimited is right, but never silent: the user hears why
  // once for the worker's helper, and the chapter's row says it.
  if (unsafe && !toldBefore) context.ui.ShowMessage(Message{MessageKind::kScriptsUnsafe, {}});
  return listed == 1 && !m_pictureUrls.empty() ? 1 : 0;
}

}  // namespace pageloom
