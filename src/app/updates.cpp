// Followed comics: a chain added with the follow option makes its comic followed, and a
// check reads each followed comic's last chapter again and adds the chapters linked after
// it that the record does not hold. Checks run on the add thread, one comic at a time.
#include <ctime>
#include <set>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "store/download_record.h"

namespace pageloom {

void TaskController::FollowComic(const SiteAdapter& adapter, std::u16string_view lastChapter,
                                 const ComicMetadata& about) {
  if (!m_record) return;
  FollowedComic comic;
  comic.site = ToUtf8(adapter.Name());
  comic.comic = !about.seriesWeb.empty() ? about.seriesWeb
                : !about.series.empty()  ? about.series
                                         : ToUtf8(lastChapter);
  comic.title = about.series.empty() ? comic.comic : about.series;
  comic.lastChapter = ToUtf8(lastChapter);
  if (!m_record->Follow(comic)) DebugLine("record: cannot follow " + comic.comic);
}

bool TaskController::QueueUpdateCheck(AddRequest options, bool force) {
  options.kind = AddRequest::Kind::kUpdateCheck;
  options.force = force;
  return QueueAdd(std::move(options));
}

void TaskController::RunUpdateCheck(const AddRequest& request) {
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{*m_session, *m_pageBuffer, m_settings.retry};
  const std::int64_t now = std::time(nullptr);
  std::vector<std::u16string> tooSoon;
  std::optional<FailureReason> failure;
  int made = 0;
  for (FollowedComic& comic : m_record->Followed()) {
    if (m_cancel.Cancelled()) break;
    const SiteAdapter* adapter = AdapterNamed(FromUtf8(comic.site));
    if (adapter == nullptr) continue;  // kept for a program that knows the site
    if (!request.force && comic.lastCheck <= now &&
        now - comic.lastCheck < kCheckInterval.count()) {
      tooSoon.push_back(FromUtf8(comic.title));
      continue;
    }
    const int found = CheckComic(*adapter, comic, request, reader, failure);
    made += found;
    if (found > 0) m_window.PostNewChapters(FromUtf8(comic.title), found);
  }
  if (!tooSoon.empty()) m_window.ShowMessage(Message{MessageKind::kCheckedRecently, tooSoon});
  if (m_cancel.Cancelled()) failure = FailureReason{FailureKind::kCancelled, 0};
  m_window.PostAddEnded(std::u16string(), made, failure);
}

int TaskController::CheckComic(const SiteAdapter& adapter, FollowedComic& comic,
                               const AddRequest& request, PageReader& reader,
                               std::optional<FailureReason>& failure) {
  std::u16string address = FromUtf8(comic.lastChapter);
  PageRead read = ReadTaskPage(adapter, address, reader);
  if (m_cancel.Cancelled()) return 0;
  if (!read.draft) failure = read.failure;
  int made = 0;
  std::set<std::u16string> visited{address};
  while (read.next && !m_cancel.Cancelled() &&
         static_cast<int>(visited.size()) < m_settings.maxChain &&
         visited.insert(*read.next).second) {
    const std::u16string next = std::move(*read.next);
    read = ReadTaskPage(adapter, next, reader);
    if (!read.draft) {
      failure = read.failure;
      break;
    }
    address = next;
    // Only what the record does not hold: a chapter downloaded meanwhile is not added.
    if (!RecordedEntry(adapter, address) && MakeTask(adapter, *read.draft, request)) ++made;
  }
  if (m_cancel.Cancelled()) return made;
  comic.lastChapter = ToUtf8(address);
  comic.lastCheck = std::time(nullptr);
  comic.newFound = made;
  if (!m_record->Checked(comic)) DebugLine("record: cannot note the check of " + comic.comic);
  return made;
}

}  // namespace pageloom
