#include "app/adder.h"

#include <array>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/recording.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "engine/safe_names.h"
#include "engine/save_folder_prompt.h"
#include "engine/task_folder.h"
#include "library/cbz_packer.h"
#include "library/task_finish.h"
#include "store/download_record.h"
#include "store/folder_claims.h"

namespace pageloom {

namespace {

bool IsLineBreak(char16_t unit) {
  return unit == u'\n' || unit == u'\r' || unit == 0x2028 || unit == 0x2029;
}
bool IsBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t' || unit == 0x3000 || unit == 0xA0;
}

// The lines of `text` without the blanks around them, empty ones left out.
std::vector<std::u16string_view> AddressLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = start;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    std::u16string_view line = text.substr(start, end - start);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The title a task is recorded under: the gallery's own title where its page told it,
// a chapter's with its comic's name before it, else the page's ("comic\\chapter" as
// "comic chapter").
std::string RecordTitle(const TaskDraft& draft) {
  const ComicMetadata& about = draft.metadata;
  if (!about.series.empty() && !about.title.empty()) return about.series + " " + about.title;
  std::string title = about.title.empty() ? draft.title : about.title;
  for (char& c : title)
    if (c == '\\') c = ' ';
  return title;
}

}  // namespace

Adder::Adder(const EngineShared& engine, DownloadRecord* record, std::function<void()> idle)
    : m_engine(engine),
      m_record(record),
      m_idle(std::move(idle)),
      m_page(std::make_unique<PageBuffer>()) {}  // value-initialised: it starts zeroed

Adder::~Adder() {
  Stop();
  Join();
}

void Adder::Stop() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_stopping.store(true);
  m_changed.notify_all();
}

void Adder::Join() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    thread.swap(m_thread);
  }
  if (thread.joinable()) thread.join();
}

int Adder::QueueLines(std::u16string_view text, const AddRequest& options) {
  if (text.empty()) {
    m_engine.port.ShowMessage(Message{MessageKind::kEnterAddress, {}});
    return 0;
  }
  const std::vector<std::u16string_view> lines = AddressLines(text);
  bool refused = lines.empty();  // blanks alone are an address of no site
  int queued = 0;
  for (const std::u16string_view line : lines) {
    std::array<char16_t, kUrlCapacity> address{};
    CopyWide(address.data(), kUrlCapacity, line);
    AddRequest request = options;
    request.address = WideView(address.data(), kUrlCapacity);
    if (Queue(std::move(request)))
      ++queued;
    else
      refused = refused || m_engine.sites.For(WideView(address.data(), kUrlCapacity)) == nullptr;
  }
  if (refused) m_engine.port.ShowMessage(Message{MessageKind::kUnsupportedSite, {}});
  return queued;
}

bool Adder::Queue(AddRequest request) {
  const bool update = request.kind == AddRequest::Kind::kUpdateCheck;
  if (update ? !m_record : m_engine.sites.For(request.address) == nullptr) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_stopping.load()) return false;
  m_queue.push_back(std::move(request));
  if (!m_thread.joinable()) m_thread = std::thread([this] { AddThread(); });
  m_changed.notify_all();
  return true;
}

bool Adder::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_busy || !m_queue.empty();
}

void Adder::AddThread() {
  // Pause holds the workers' requests, not the reading of added addresses.
  m_engine.session.ExemptThisThreadFromHold(true);
  struct Unexempt {
    Session& session;
    ~Unexempt() { session.ExemptThisThreadFromHold(false); }
  } unexempt{m_engine.session};
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stopping.load() || !m_queue.empty(); });
    if (m_stopping.load()) break;
    const AddRequest request = std::move(m_queue.front());
    m_queue.pop_front();
    m_busy = true;
    lock.unlock();
    if (request.kind == AddRequest::Kind::kUpdateCheck)
      RunUpdateCheck(request);
    else
      RunAdd(request);
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
    if (m_queue.empty()) {
      lock.unlock();
      m_idle();  // a run that waited for this add to end
      lock.lock();
    }
  }
  m_queue.clear();
  m_busy = false;
  m_changed.notify_all();
}

void Adder::RunAdd(const AddRequest& request) {
  const SiteAdapter* site = m_engine.sites.For(request.address);
  if (site == nullptr) return;
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{m_engine.session, *m_page, m_engine.settings.retry};
  const bool follow = request.followNext && site->FollowsChains();
  // One gallery or chapter downloaded before is asked about before its page is read (when
  // the address as typed names it, else once its first page is known).
  const auto askedAgain = [&](std::u16string_view asked) {
    std::optional<DownloadedBefore> earlier = DownloadedEarlier(*site, asked);
    if (!earlier) return false;
    earlier->address = request.address;  // as the user gave it
    if (m_engine.port.AskDownloadAgain({*earlier}, 1) == AgainChoice::kAll) return false;
    ++m_skipped;
    m_engine.port.PostAddEnded(request.address, 0, std::nullopt);
    return true;
  };
  const bool named = site->Identity(request.address).has_value();
  if (!follow && named && askedAgain(request.address)) return;
  const std::u16string address = site->FirstPage(request.address, reader).value_or(request.address);
  if (!follow && !named && !m_engine.cancel.Cancelled() && askedAgain(address)) return;
  std::optional<FailureReason> failure;
  const int made = AddChain(*site, address, request, reader, failure);
  if (m_engine.cancel.Cancelled()) failure = FailureReason{FailureKind::kCancelled, 0};
  m_engine.port.PostAddEnded(request.address, made, failure);
}

int Adder::AddChain(const SiteAdapter& site, std::u16string address, const AddRequest& request,
                    PageReader& reader, std::optional<FailureReason>& failure) {
  const bool follow = request.followNext && site.FollowsChains();
  // Addresses of this chain so far: a chain that leads back to one of them stops there,
  // and so does one longer than any real series.
  std::set<std::u16string> visited;
  int made = 0;
  int total = 0;
  // From the first chapter downloaded before on, a chain's pages are held until the user
  // has answered once for all of them.
  std::vector<HeldPage> held;
  std::vector<DownloadedBefore> before;
  std::optional<std::pair<std::u16string, ComicMetadata>> reached;  // the chain's last page
  while (!m_engine.cancel.Cancelled() &&
         static_cast<int>(visited.size()) < m_engine.settings.maxChain &&
         visited.insert(address).second) {
    const std::optional<DownloadedBefore> earlier =
        follow ? DownloadedEarlier(site, address) : std::nullopt;
    PageRead read = ReadTaskPage(site, address, reader);
    if (read.failure) failure = read.failure;
    if (read.draft) {
      ++total;
      reached.emplace(address, read.draft->metadata);
      // The folder of the address added remembers it as added; a chain's later chapters
      // were never added by the user and are named by their own address.
      std::u16string source = visited.size() == 1 ? request.address : u"";
      if (earlier) before.push_back(*earlier);
      if (earlier || !held.empty())
        held.push_back(HeldPage{std::move(*read.draft), earlier.has_value(), std::move(source)});
      else if (MakeTask(site, *read.draft, request, source))
        ++made;
    }
    if (!follow || !read.next) break;
    address = std::move(*read.next);
  }
  if (m_engine.cancel.Cancelled()) return made;
  if (!held.empty()) made += MakeHeld(site, held, before, total, request);
  if (follow && reached) FollowComic(m_record, site, reached->first, reached->second);
  return made;
}

Adder::PageRead Adder::ReadTaskPage(const SiteAdapter& site, std::u16string_view address,
                                    PageReader& reader) {
  PageReading reading = site.ReadPage(address, reader);
  if (m_engine.cancel.Cancelled()) return {};  // half a reading makes no task
  if (reading.message) m_engine.port.ShowMessage(*reading.message);
  PageRead read;
  if (!reading.task) {
    read.failure = reading.failure.value_or(FailureReason{FailureKind::kUnreadablePage, 0});
    return read;
  }
  read.draft = std::move(reading.task);
  read.next = std::move(reading.next);
  return read;
}

bool Adder::MakeTask(const SiteAdapter& site, const TaskDraft& draft, const AddRequest& options,
                     std::u16string_view sourceAddress) {
  // A save folder is a path from the root: one relative to the working folder would put
  // the pictures wherever the program happened to be started.
  if (options.saveFolder.empty() || options.saveFolder.front() != u'/') {
    m_engine.port.ShowMessage(Message{MessageKind::kInvalidFolder, {}});
    return false;
  }
  std::string title = draft.title;
  char16_t folder[kPathCapacity];
  MakeTaskFolderPath(folder, title.data(), options.saveFolder);
  // The folder may be one the user picks instead; the task keeps what the row shows.
  PrepareSaveFolder(folder, m_engine.port);
  if (m_engine.cancel.Cancelled()) return false;
  // No folder, no task: nothing is queued (nor kept) that would ask again at Start.
  std::error_code noFolder;
  if (!std::filesystem::is_directory(ToUtf8(WideView(folder, kPathCapacity)), noFolder)) {
    m_engine.port.ShowMessage(Message{MessageKind::kTaskFolderNotMade,
                                      {std::u16string(WideView(folder, kPathCapacity))}});
    return false;
  }
  // Another gallery or chapter of the same title has a folder of its own. A folder that
  // names the task's first page is its own from an earlier version.
  const std::u16string source =
      sourceAddress.empty() ? draft.address : std::u16string(sourceAddress);
  // So does one whose archive stands where this folder would be packed.
  const auto archiveTaken = [&](std::u16string_view candidate) {
    const std::filesystem::path path(ToUtf8(candidate));
    return ArchiveOfOtherSource(path, ToUtf8(source)) &&
           ArchiveOfOtherSource(path, ToUtf8(draft.address));
  };
  const std::u16string claimed = ClaimTaskFolder(
      WideView(folder, kPathCapacity), {source, draft.address}, site.TaskTag(draft.address),
      kPictureNameRoom, archiveTaken, m_engine.settings.beforeFolderClaim);
  if (claimed.empty()) {
    m_engine.port.ShowMessage(Message{MessageKind::kTaskFolderNotMade,
                                      {std::u16string(WideView(folder, kPathCapacity))}});
    return false;
  }
  CopyWide(folder, kPathCapacity, claimed);
  if (m_writeMetadata.load())
    (void)WriteAddedInfo(std::filesystem::path(ToUtf8(WideView(folder, kPathCapacity))),
                         draft.metadata, ToUtf8(draft.address));

  std::shared_ptr<Task> task = site.NewTask();
  task->SetUrl(draft.address);
  task->SetFolder(WideView(folder, kPathCapacity));
  task->SetPictureCount(draft.pictureCount);
  task->SetKnownTotal(draft.metadata.length);
  task->SetRenameFiles(options.autoRename ? 1 : 0);
  task->SetTitle(RecordTitle(draft));
  m_engine.port.Post([this, task, shown = std::u16string(WideView(folder, kPathCapacity))] {
    if (!m_stopping.load()) m_engine.tasks.Register(task, shown);
  });
  return true;
}

std::optional<DownloadedBefore> Adder::DownloadedEarlier(const SiteAdapter& site,
                                                         std::u16string_view address) const {
  if (m_engine.settings.downloadAgain) return std::nullopt;
  return RecordedEntry(m_record, site, address);
}

int Adder::MakeHeld(const SiteAdapter& site, const std::vector<HeldPage>& held,
                    const std::vector<DownloadedBefore>& before, int total,
                    const AddRequest& options) {
  const AgainChoice choice =
      before.empty() ? AgainChoice::kAll : m_engine.port.AskDownloadAgain(before, total);
  int made = 0;
  for (const HeldPage& page : held) {
    const bool wanted =
        choice == AgainChoice::kAll || (choice == AgainChoice::kNewOnly && !page.before);
    if (!wanted) {
      if (page.before) ++m_skipped;
      continue;
    }
    if (m_engine.cancel.Cancelled()) break;
    if (MakeTask(site, page.draft, options, page.source)) ++made;
  }
  return made;
}

bool Adder::QueueUpdateCheck(AddRequest options, bool force) {
  options.kind = AddRequest::Kind::kUpdateCheck;
  options.force = force;
  return Queue(std::move(options));
}

void Adder::RunUpdateCheck(const AddRequest& request) {
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{m_engine.session, *m_page, m_engine.settings.retry};
  const std::int64_t now = std::time(nullptr);
  std::vector<std::u16string> tooSoon;
  std::optional<FailureReason> failure;
  int made = 0;
  for (FollowedComic& comic : m_record->Followed()) {
    if (m_engine.cancel.Cancelled()) break;
    const SiteAdapter* site = m_engine.sites.Named(FromUtf8(comic.site));
    if (site == nullptr) continue;  // kept for a program that knows the site
    if (!request.force && comic.lastCheck <= now &&
        now - comic.lastCheck < kCheckInterval.count()) {
      tooSoon.push_back(FromUtf8(comic.title));
      continue;
    }
    const int found = CheckComic(*site, comic, request, reader, failure);
    made += found;
    if (found > 0) m_engine.port.PostNewChapters(FromUtf8(comic.title), found);
  }
  if (!tooSoon.empty()) m_engine.port.ShowMessage(Message{MessageKind::kCheckedRecently, tooSoon});
  if (m_engine.cancel.Cancelled()) failure = FailureReason{FailureKind::kCancelled, 0};
  m_engine.port.PostAddEnded(std::u16string(), made, failure);
}

int Adder::CheckComic(const SiteAdapter& site, FollowedComic& comic, const AddRequest& request,
                      PageReader& reader, std::optional<FailureReason>& failure) {
  std::u16string address = FromUtf8(comic.lastChapter);
  PageRead read = ReadTaskPage(site, address, reader);
  if (m_engine.cancel.Cancelled()) return 0;
  if (!read.draft) failure = read.failure;
  int made = 0;
  std::set<std::u16string> visited{address};
  while (read.next && !m_engine.cancel.Cancelled() &&
         static_cast<int>(visited.size()) < m_engine.settings.maxChain &&
         visited.insert(*read.next).second) {
    const std::u16string next = std::move(*read.next);
    read = ReadTaskPage(site, next, reader);
    if (!read.draft) {
      failure = read.failure;
      break;
    }
    address = next;
    // Only what the record does not hold: a chapter downloaded meanwhile is not added.
    if (!RecordedEntry(m_record, site, address) && MakeTask(site, *read.draft, request)) ++made;
  }
  if (m_engine.cancel.Cancelled()) return made;
  comic.lastChapter = ToUtf8(address);
  comic.lastCheck = std::time(nullptr);
  comic.newFound = made;
  if (!m_record->Checked(comic)) DebugLine("record: cannot note the check of " + comic.comic);
  return made;
}

// --- the site operations of Add under their own names ---

int Adder::FindFirstPage(int site, char16_t* address) {
  const SiteAdapter* adapter = m_engine.sites.OfKind(site);
  if (adapter == nullptr) return 0;
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{m_engine.session, *m_page, m_engine.settings.retry};
  const std::optional<std::u16string> first =
      adapter->FirstPage(WideView(address, kUrlCapacity), reader);
  if (!first) return 0;
  CopyWide(address, kUrlCapacity, *first);
  return 1;
}

Adder::PageAdded Adder::AddPage(int site, std::u16string_view address, const AddRequest& options) {
  const SiteAdapter* adapter = m_engine.sites.OfKind(site);
  if (adapter == nullptr) return {};
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{m_engine.session, *m_page, m_engine.settings.retry};
  PageRead read = ReadTaskPage(*adapter, address, reader);
  PageAdded added;
  added.failure = read.failure;
  if (!read.draft) return added;
  added.taskMade = MakeTask(*adapter, *read.draft, options);
  if (added.taskMade) added.next = std::move(read.next);
  return added;
}

int Adder::FindEHFirstPage(char16_t* address) { return FindFirstPage(SITE_EH, address); }

int Adder::AddEHTask(const char16_t* address, const AddRequest& options) {
  return AddPage(SITE_EH, WideView(address, kUrlCapacity), options).taskMade ? 1 : 0;
}

int Adder::FindDMZJFirstChapter(char16_t* address) { return FindFirstPage(SITE_DMZJ, address); }

int Adder::AddDMZJTask(char16_t* address, const AddRequest& options) {
  const PageAdded added = AddPage(SITE_DMZJ, WideView(address, kUrlCapacity), options);
  if (!added.next) return 0;
  CopyWide(address, kUrlCapacity, *added.next);
  return 1;
}

int Adder::AddDMZJTaskChain(char16_t* address, const AddRequest& options) {
  // Addresses queued by this chain: a chain that leads back to one of them stops there.
  std::set<std::u16string> queued;
  while (!m_engine.cancel.Cancelled() &&
         static_cast<int>(queued.size()) < m_engine.settings.maxChain &&
         queued.insert(std::u16string(WideView(address, kUrlCapacity))).second) {
    if (AddDMZJTask(address, options) == 0) break;
  }
  return 1;
}

}  // namespace pageloom
