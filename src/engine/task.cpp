#include "engine/task.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/ban_clock.h"
#include "engine/picture_download.h"
#include "engine/safe_names.h"

namespace pageloom {

Task::Task() = default;

Task::~Task() = default;

void Task::SetUrl(std::u16string_view url) {
  m_startUrl = CutWide(url, kUrlCapacity);
  m_pageUrl = m_startUrl;
}

int Task::SetFolder(std::u16string_view folder) {
  m_folder = CutWide(folder, kPathCapacity);
  return 1;
}

Task::FolderBuffer::FolderBuffer(Task& task) : m_task(task) {
  CopyWide(m_units.data(), m_units.size(), task.m_folder);
}

Task::FolderBuffer::~FolderBuffer() {
  const std::u16string_view now = WideView(m_units.data(), m_units.size());
  if (now != m_task.m_folder) m_task.m_folder = std::u16string(now);
}

int Task::SetRow(int row) {
  m_row = row;
  return 1;
}

int Task::GetRow() const { return m_row; }
int Task::GetState() const { return m_state; }
int Task::GetFileNumber() const { return m_fileNumber; }
int Task::GetPictureCount() const { return m_pictureCount; }

int Task::SetPictureCount(int count) {
  m_pictureCount = count;
  return 1;
}

int Task::SetRenameFiles(int rename) {
  m_renameFiles = rename;
  return 1;
}

int Task::SetSiteKind(int kind) {
  m_siteKind = kind;
  return 1;
}

int Task::GetSiteKind() const { return m_siteKind; }

TaskStatus Task::StatusOf(int state) {
  switch (state) {
    case STATE_PREPARING:
      return TaskStatus::kPreparing;
    case STATE_WAITING:
      return TaskStatus::kWaiting;
    case STATE_DOWNLOADING:
      return TaskStatus::kDownloading;
    case STATE_PAUSED:
      return TaskStatus::kPaused;
    case STATE_FINISHED:
      return TaskStatus::kFinished;
    case STATE_INCOMPLETE:
      return TaskStatus::kIncomplete;
    case STATE_BANNED:
      return TaskStatus::kBanned;
    default:
      return TaskStatus::kUnknown;
  }
}

TaskSnapshot Task::Snapshot() const {
  TaskSnapshot snapshot;
  snapshot.siteKind = m_siteKind;
  snapshot.status = StatusOf(m_state);
  const bool resting = snapshot.status == TaskStatus::kPreparing ||
                       snapshot.status == TaskStatus::kWaiting ||
                       snapshot.status == TaskStatus::kDownloading;
  if (m_held.load() && resting) snapshot.status = TaskStatus::kPaused;
  if (m_state == STATE_BANNED) snapshot.banMinutes = m_banMinutes.load();
  snapshot.fileNumber = m_fileNumber;
  snapshot.pictureCount = m_pictureCount;
  if (m_knownTotal.load() > 0)
    snapshot.total = m_knownTotal.load();
  else if (CountAnnounced())
    snapshot.total = m_pictureCount.load();
  snapshot.scriptsBlocked = m_state == STATE_PREPARING && m_scriptsBlocked.load();
  snapshot.missing.reserve(m_missing.size());
  for (const MissingPicture& picture : m_missing)
    snapshot.missing.push_back(MissingFile{picture.fileName, picture.reason});
  snapshot.lastError = m_lastError;
  return snapshot;
}

std::u16string_view FileExtension(std::u16string_view name) {
  std::size_t dot = std::u16string_view::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == u'.') {
      dot = i;
    } else if (name[i] == u' ' || name[i] == u'\\') {
      dot = std::u16string_view::npos;
    }
  }
  return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

std::u16string Task::PictureFileName(std::u16string_view pictureUrl) {
  if (m_renameFiles != 1) return FileNameFor(pictureUrl, 0, PicturePlace());
  const int number = ++m_fileNumber;
  return FileNameFor(pictureUrl, number, PicturePlace());
}

std::u16string Task::NextPictureFileName(std::u16string_view pictureUrl) const {
  return FileNameFor(pictureUrl, m_fileNumber + 1, PicturePlace() + 1);
}

std::u16string Task::FileNameFor(std::u16string_view pictureUrl, int number, int place) const {
  const std::size_t slash = pictureUrl.rfind(u'/');
  const std::u16string_view name =
      slash == std::u16string_view::npos ? pictureUrl : pictureUrl.substr(slash + 1);
  if (m_renameFiles != 1) return SafePictureFileName(name, place);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  std::u16string out(digits, digits + std::char_traits<char>::length(digits));
  out += FileExtension(name);
  return SafePictureFileName(out, number);
}

}  // namespace pageloom

namespace pageloom {

TaskRecord Task::Record(bool withPictureList) const {
  TaskRecord record;
  record.siteKind = m_siteKind;
  record.siteName = m_siteName;
  record.startUrl = GetStartUrl();
  record.pageUrl = GetPageUrl();
  record.folder = GetFolder();
  record.pictureCount = m_pictureCount;
  record.fileNumber = m_fileNumber;
  record.state = m_state;
  record.renameFiles = m_renameFiles;
  record.walkDone = m_walkDone;
  record.listVersion = m_listVersion;
  record.listTaken = m_listTaken;
  record.missingVersion = m_missingVersion;
  if (withPictureList) record.pictureUrls.assign(m_pictureUrls.begin(), m_pictureUrls.end());
  record.missing.assign(m_missing.begin(), m_missing.end());
  record.knownTotal = m_knownTotal;
  return record;
}

void Task::Restore(const TaskRecord& record) {
  if (record.siteKind != kNoSite) m_siteKind = record.siteKind;
  if (!record.siteName.empty()) m_siteName = record.siteName;
  m_startUrl = CutWide(record.startUrl, kUrlCapacity);
  m_pageUrl = CutWide(record.pageUrl, kUrlCapacity);
  m_folder = CutWide(record.folder, kPathCapacity);
  m_pictureCount = record.pictureCount;
  m_fileNumber = record.fileNumber;
  // A task that was being downloaded when its program ended waits for the next Start.
  // So does one that was banned: the ban's clock does not outlive the program.
  m_state = record.state == STATE_DOWNLOADING || record.state == STATE_BANNED ? STATE_PAUSED
                                                                              : record.state;
  m_renameFiles = record.renameFiles;
  m_walkDone = record.walkDone;
  m_listVersion = record.listVersion;
  m_listTaken = record.listTaken;
  m_missingVersion = record.missingVersion;
  m_pictureUrls.assign(record.pictureUrls.begin(), record.pictureUrls.end());
  m_missing.assign(record.missing.begin(), record.missing.end());
  m_missingCount = static_cast<int>(m_missing.size());
  SetKnownTotal(record.knownTotal);
  m_retriesLeft = 0;
}

void Task::AddMissing(MissingPicture picture) {
  m_lastError = picture.reason;
  m_missing.push_back(std::move(picture));
  MissingChanged();
}

void Task::MissingChanged() {
  m_missingCount = static_cast<int>(m_missing.size());
  ++m_missingVersion;
}

int Task::Banned(StepContext& context, std::chrono::seconds length) {
  if (context.ban) context.ban->Ban(length);
  const int minutes =
      context.ban ? context.ban->MinutesLeft() : static_cast<int>((length.count() + 59) / 60);
  m_banMinutes = std::max(1, minutes);
  m_state = STATE_BANNED;
  return 0;
}

int Task::EndWalk() {
  m_walkDone = true;
  m_retriesLeft = 0;
  m_state = m_missing.empty() ? STATE_FINISHED : STATE_INCOMPLETE;
  return 0;
}

int Task::StoreMissing(StepContext& context, const MissingPicture& picture,
                       FailureReason& failure) {
  return DownloadPicture(context.session, picture.url, picture.fileName,
                         FolderBuffer(*this).Units(), context.ui, context.retry,
                         context.pictureProgress, &failure);
}

int Task::RetryMissingStep(StepContext& context) {
  // A run that starts here tries every missing picture once, in the order they failed.
  if (m_state != STATE_DOWNLOADING) {
    m_retriesLeft = m_missing.size();
    m_state = STATE_DOWNLOADING;
  }
  if (m_retriesLeft == 0 || m_missing.empty()) return EndWalk();
  MissingPicture picture = std::move(m_missing.front());
  m_missing.pop_front();
  --m_retriesLeft;
  FailureReason failure;
  const int result = StoreMissing(context, picture, failure);
  if (result == kPictureStop || result == kPictureBanned) {
    // Closing, the site's limit or its ban (on the clock already): tried again later.
    m_missing.push_front(std::move(picture));
    if (result == kPictureBanned) return Banned(context, std::chrono::seconds(0));
    m_state = STATE_PAUSED;
    return 0;
  }
  if (result != kPictureStored) {
    picture.reason = failure;
    m_lastError = failure;
    m_missing.push_back(std::move(picture));
  }
  MissingChanged();
  return 1;
}

}  // namespace pageloom
