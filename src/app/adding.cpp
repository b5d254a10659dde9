// Adding addresses: the Add command, the add thread that reads the pages of queued
// addresses, and the site operations of Add under their own names. The pages are read
// off the window thread; each task is registered on the window thread as soon as its
// page has been read, so a chain fills the table row by row while the window answers.
#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "engine/safe_names.h"
#include "engine/save_folder_prompt.h"
#include "library/cbz_packer.h"
#include "library/task_finish.h"
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

void TaskController::OnBnClickedAdd() {
  const std::u16string typed = m_window.AddressText();
  if (typed.empty()) {
    m_window.ShowMessage(Message{MessageKind::kEnterAddress, {}});
    return;
  }
  m_window.SetAddressText(std::u16string());
  AddAddresses(typed);
}

int TaskController::AddAddresses(std::u16string_view text) {
  const std::vector<std::u16string_view> lines = AddressLines(text);
  bool refused = lines.empty();  // blanks alone are an address of no site
  int queued = 0;
  for (const std::u16string_view line : lines) {
    std::array<char16_t, kUrlCapacity> address{};
    CopyWide(address.data(), kUrlCapacity, line);
    AddRequest request = WindowOptions();
    request.address = WideView(address.data(), kUrlCapacity);
    if (QueueAdd(std::move(request)))
      ++queued;
    else
      refused = refused || AdapterFor(WideView(address.data(), kUrlCapacity)) == nullptr;
  }
  if (refused) m_window.ShowMessage(Message{MessageKind::kUnsupportedSite, {}});
  return queued;
}

AddRequest TaskController::WindowOptions() const {
  AddRequest options;
  options.saveFolder = m_window.SaveFolderText();
  options.autoRename = m_autoRename != 0;
  options.followNext = m_followNext != 0;
  return options;
}

const SiteAdapter* TaskController::AdapterFor(std::u16string_view address) const {
  for (const auto& adapter : m_adapters)
    if (adapter->Recognises(address)) return adapter.get();
  return nullptr;
}

const SiteAdapter* TaskController::AdapterOfKind(int kind) const {
  for (const auto& adapter : m_adapters)
    if (adapter->Kind() == kind) return adapter.get();
  return nullptr;
}

const SiteAdapter* TaskController::AdapterNamed(std::u16string_view name) const {
  for (const auto& adapter : m_adapters)
    if (adapter->Name() == name) return adapter.get();
  return nullptr;
}

bool TaskController::QueueAdd(AddRequest request) {
  const bool update = request.kind == AddRequest::Kind::kUpdateCheck;
  if (update ? !m_record : AdapterFor(request.address) == nullptr) return false;
  std::lock_guard<std::mutex> lock(m_addMutex);
  if (m_stopping.load()) return false;
  m_addQueue.push_back(std::move(request));
  if (!m_adder.joinable()) m_adder = std::thread([this] { AddThread(); });
  m_addChanged.notify_all();
  return true;
}

bool TaskController::AddsPending() const {
  std::lock_guard<std::mutex> lock(m_addMutex);
  return m_addBusy || !m_addQueue.empty();
}

bool TaskController::WaitForAdds(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_addMutex);
  return m_addChanged.wait_for(lock, timeout, [this] { return !m_addBusy && m_addQueue.empty(); });
}

void TaskController::AddThread() {
  // Pause holds the workers' requests, not the reading of added addresses.
  m_session->ExemptThisThreadFromHold(true);
  struct Unexempt {
    Session& session;
    ~Unexempt() { session.ExemptThisThreadFromHold(false); }
  } unexempt{*m_session};
  std::unique_lock<std::mutex> lock(m_addMutex);
  for (;;) {
    m_addChanged.wait(lock, [this] { return m_stopping.load() || !m_addQueue.empty(); });
    if (m_stopping.load()) break;
    const AddRequest request = std::move(m_addQueue.front());
    m_addQueue.pop_front();
    m_addBusy = true;
    lock.unlock();
    if (request.kind == AddRequest::Kind::kUpdateCheck)
      RunUpdateCheck(request);
    else
      RunAdd(request);
    lock.lock();
    m_addBusy = false;
    m_addChanged.notify_all();
    if (m_addQueue.empty()) {
      lock.unlock();
      EndRunIfIdle();  // a run that waited for this add to end
      lock.lock();
    }
  }
  m_addQueue.clear();
  m_addBusy = false;
  m_addChanged.notify_all();
}

void TaskController::RunAdd(const AddRequest& request) {
  const SiteAdapter* adapter = AdapterFor(request.address);
  if (adapter == nullptr) return;
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{*m_session, *m_pageBuffer, m_settings.retry};
  const bool follow = request.followNext && adapter->FollowsChains();
  // One gallery or chapter downloaded before is asked about before its page is read (when
  // the address as typed names it, else once its first page is known).
  const auto askedAgain = [&](std::u16string_view asked) {
    std::optional<DownloadedBefore> earlier = DownloadedEarlier(*adapter, asked);
    if (!earlier) return false;
    earlier->address = request.address;  // as the user gave it
    if (m_window.AskDownloadAgain({*earlier}, 1) == AgainChoice::kAll) return false;
    ++m_skipped;
    m_window.PostAddEnded(request.address, 0, std::nullopt);
    return true;
  };
  const bool named = adapter->Identity(request.address).has_value();
  if (!follow && named && askedAgain(request.address)) return;
  const std::u16string address =
      adapter->FirstPage(request.address, reader).value_or(request.address);
  if (!follow && !named && !m_cancel.Cancelled() && askedAgain(address)) return;
  std::optional<FailureReason> failure;
  const int made = AddChain(*adapter, address, request, reader, failure);
  if (m_cancel.Cancelled()) failure = FailureReason{FailureKind::kCancelled, 0};
  m_window.PostAddEnded(request.address, made, failure);
}

int TaskController::AddChain(const SiteAdapter& adapter, std::u16string address,
                             const AddRequest& request, PageReader& reader,
                             std::optional<FailureReason>& failure) {
  const bool follow = request.followNext && adapter.FollowsChains();
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
  while (!m_cancel.Cancelled() && static_cast<int>(visited.size()) < m_settings.maxChain &&
         visited.insert(address).second) {
    const std::optional<DownloadedBefore> earlier =
        follow ? DownloadedEarlier(adapter, address) : std::nullopt;
    PageRead read = ReadTaskPage(adapter, address, reader);
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
      else if (MakeTask(adapter, *read.draft, request, source))
        ++made;
    }
    if (!follow || !read.next) break;
    address = std::move(*read.next);
  }
  if (m_cancel.Cancelled()) return made;
  if (!held.empty()) made += MakeHeld(adapter, held, before, total, request);
  if (follow && reached) FollowComic(adapter, reached->first, reached->second);
  return made;
}

TaskController::PageRead TaskController::ReadTaskPage(const SiteAdapter& adapter,
                                                      std::u16string_view address,
                                                      PageReader& reader) {
  PageReading reading = adapter.ReadPage(address, reader);
  if (m_cancel.Cancelled()) return {};  // half a reading makes no task
  if (reading.message) m_window.ShowMessage(*reading.message);
  PageRead read;
  if (!reading.task) {
    read.failure = reading.failure.value_or(FailureReason{FailureKind::kUnreadablePage, 0});
    return read;
  }
  read.draft = std::move(reading.task);
  read.next = std::move(reading.next);
  return read;
}

TaskController::PageAdded TaskController::AddFromPage(const SiteAdapter& adapter,
                                                      std::u16string_view address,
                                                      const AddRequest& options, PageReader& reader,
                                                      std::u16string_view sourceAddress) {
  PageRead read = ReadTaskPage(adapter, address, reader);
  PageAdded added;
  added.failure = read.failure;
  if (!read.draft) return added;
  added.taskMade = MakeTask(adapter, *read.draft, options, sourceAddress);
  if (added.taskMade) added.next = std::move(read.next);
  return added;
}

bool TaskController::MakeTask(const SiteAdapter& adapter, const TaskDraft& draft,
                              const AddRequest& options, std::u16string_view sourceAddress) {
  // A save folder is a path from the root: one relative to the working folder would put
  // the pictures wherever the program happened to be started.
  if (options.saveFolder.empty() || options.saveFolder.front() != u'/') {
    m_window.ShowMessage(Message{MessageKind::kInvalidFolder, {}});
    return false;
  }
  std::string title = draft.title;
  char16_t folder[kPathCapacity];
  MakeTaskFolderPath(folder, title.data(), options.saveFolder);
  // The folder may be one the user picks instead; the task keeps what the row shows.
  PrepareSaveFolder(folder, m_window);
  if (m_cancel.Cancelled()) return false;
  // No folder, no task: nothing is queued (nor kept) that would ask again at Start.
  std::error_code noFolder;
  if (!std::filesystem::is_directory(ToUtf8(WideView(folder, kPathCapacity)), noFolder)) {
    m_window.ShowMessage(Message{MessageKind::kTaskFolderNotMade,
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
      WideView(folder, kPathCapacity), {source, draft.address}, adapter.TaskTag(draft.address),
      kPictureNameRoom, archiveTaken, m_settings.beforeFolderClaim);
  if (claimed.empty()) {
    m_window.ShowMessage(Message{MessageKind::kTaskFolderNotMade,
                                 {std::u16string(WideView(folder, kPathCapacity))}});
    return false;
  }
  CopyWide(folder, kPathCapacity, claimed);
  if (m_writeMetadata.load())
    (void)WriteAddedInfo(std::filesystem::path(ToUtf8(WideView(folder, kPathCapacity))),
                         draft.metadata, ToUtf8(draft.address));

  std::shared_ptr<Task> task = adapter.NewTask();
  task->SetUrl(draft.address);
  task->SetFolder(WideView(folder, kPathCapacity));
  task->SetPictureCount(draft.pictureCount);
  task->SetKnownTotal(draft.metadata.length);
  task->SetRenameFiles(options.autoRename ? 1 : 0);
  task->SetTitle(RecordTitle(draft));
  m_window.Post([this, task, shown = std::u16string(WideView(folder, kPathCapacity))] {
    if (!m_stopping.load()) RegisterTask(task, shown);
  });
  return true;
}

// --- the site operations under their own names ---

int TaskController::FindFirstPage(int site, char16_t* address) {
  const SiteAdapter* adapter = AdapterOfKind(site);
  if (adapter == nullptr) return 0;
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{*m_session, *m_pageBuffer, m_settings.retry};
  const std::optional<std::u16string> first =
      adapter->FirstPage(WideView(address, kUrlCapacity), reader);
  if (!first) return 0;
  CopyWide(address, kUrlCapacity, *first);
  return 1;
}

int TaskController::FindEHFirstPage(char16_t* address) { return FindFirstPage(SITE_EH, address); }

int TaskController::AddEHTask(const char16_t* address) {
  const SiteAdapter* adapter = AdapterOfKind(SITE_EH);
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{*m_session, *m_pageBuffer, m_settings.retry};
  return AddFromPage(*adapter, WideView(address, kUrlCapacity), WindowOptions(), reader).taskMade
             ? 1
             : 0;
}

int TaskController::FindDMZJFirstChapter(char16_t* address) {
  return FindFirstPage(SITE_DMZJ, address);
}

int TaskController::AddDMZJTask(char16_t* address) {
  const SiteAdapter* adapter = AdapterOfKind(SITE_DMZJ);
  std::lock_guard<std::mutex> reading(m_readMutex);
  PageReader reader{*m_session, *m_pageBuffer, m_settings.retry};
  const PageAdded added =
      AddFromPage(*adapter, WideView(address, kUrlCapacity), WindowOptions(), reader);
  if (!added.next) return 0;
  CopyWide(address, kUrlCapacity, *added.next);
  return 1;
}

int TaskController::AddDMZJTaskChain(char16_t* address) {
  // Addresses queued by this chain: a chain that leads back to one of them stops there.
  std::set<std::u16string> queued;
  while (!m_cancel.Cancelled() && static_cast<int>(queued.size()) < m_settings.maxChain &&
         queued.insert(std::u16string(WideView(address, kUrlCapacity))).second) {
    if (AddDMZJTask(address) == 0) break;
  }
  return 1;
}

}  // namespace pageloom
