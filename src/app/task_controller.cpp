// The task map and the task table: construction, registration, folder naming, removal
// and renumbering. Registration, removal and renumbering run on the window thread; the
// workers only walk the map under m_tasksMutex (workers.cpp).
#include "app/task_controller.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <pwd.h>
#include <unistd.h>

#include "base/encoding.h"
#include "base/fixed_text.h"
#include "engine/safe_names.h"
#include "sites/sites.h"
#include "store/download_record.h"
#include "store/queue_store.h"

namespace pageloom {

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Number of units of `text` that fit into `room` units without splitting a pair.
std::size_t FitUnits(std::u16string_view text, std::size_t room) {
  if (text.size() <= room) return text.size();
  if (room > 0 && IsHighSurrogate(text[room - 1])) return room - 1;
  return room;
}

// Shortens a title to at most `room` units. A nested title (comic/chapter) gives way in
// its leading parts first, so that its last part, which tells sibling folders apart,
// stays whole as long as it fits: two chapters never end up in one folder, where the
// second one's numbered pictures would be taken for the first one's.
std::u16string ShortenTitle(const std::u16string& title, std::size_t room) {
  if (title.size() <= room) return title;
  const std::size_t slash = title.rfind(u'/');
  if (slash != std::u16string::npos && slash > 0 && title.size() - slash < room) {
    const std::size_t lastLength = title.size() - slash;  // the '/' included
    const std::u16string_view head(title.data(), slash);
    return std::u16string(head.substr(0, FitUnits(head, room - lastLength))) + title.substr(slash);
  }
  return title.substr(0, FitUnits(title, room));
}

// Title components made fit for the disk: one that would leave the save folder ("." or
// "..") becomes "_", control characters become '_', and each is cut to the 255 bytes of
// UTF-8 a file name may take, at a character boundary.
std::u16string ConfineComponents(std::u16string_view title) {
  std::u16string result;
  result.reserve(title.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = title.find(u'/', start);
    const std::u16string_view part = title.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (part == u"." || part == u"..")
      result += u'_';
    else
      result += CutToUtf8Bytes(ReplaceControlCharacters(part));
    if (end == std::u16string_view::npos) break;
    result += u'/';
    start = end + 1;
  }
  return result;
}

}  // namespace

TaskController::TaskController(WindowPort& window, ControllerSettings settings)
    : m_window(window),
      m_settings(std::move(settings)),
      m_adapters(m_settings.registry(m_settings.sites)),
      // A session that cannot be made stays invalid: its downloads then stop at once.
      m_session(std::make_unique<Session>(m_cancel, m_settings.timeouts)),
      m_pageBuffer(std::make_unique<PageBuffer>()) {
  // make_unique value-initialises the buffer: it starts zeroed.
  m_nextTaskNo = 0;
  for (const auto& adapter : m_adapters)
    m_workers.emplace(adapter->Kind(), std::make_unique<Worker>());
  if (!m_settings.userAgent.empty()) m_session->SetUserAgent(m_settings.userAgent);
  LoadPacing();
  if (!m_settings.dataFolder.empty()) OpenQueue();
  OpenRecord();
  LoadCookieFile();
}

TaskController::~TaskController() {
  Shutdown();
  SaveCookieFile();
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    m_tasks.clear();
  }
  m_store.reset();  // no step can save any more: the threads are joined
  m_record.reset();
  m_queueLock.reset();
  m_session.reset();  // every transfer has ended
}

std::u16string TaskController::DefaultSaveFolder() {
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env != 0) {
    home = env;
  } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
    home = entry->pw_dir;
  }
  if (home.empty()) home = "/tmp";
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  return FromUtf8(home + "/comic");
}

int TaskController::RegisterTask(std::shared_ptr<Task> task, std::u16string_view folderShown) {
  int n;
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    n = m_nextTaskNo;
    m_nextTaskNo = n + 1;
  }
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    task->SetRow(static_cast<int>(m_tasks.size()));
  }
  if (task->GetSiteName().empty())
    if (const SiteAdapter* adapter = AdapterOfKind(task->GetSiteKind()))
      task->SetSiteName(adapter->Name());
  // In the queue before a worker can see it and before its row shows it.
  const bool saved = !m_store || m_store->Insert(n, *task, folderShown, n + 1);
  // Its snapshot is taken before a worker can see it.
  TaskAdded added{n, std::u16string(folderShown), task->Snapshot()};
  added.snapshot.notSaved = !saved;
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    EnterLocked(n, task, n);
  }
  m_window.Publish(std::move(added));
  return n;
}

char16_t* TaskController::MakeTaskFolderPath(char16_t* output, char* title) {
  return MakeTaskFolderPath(output, title, m_window.SaveFolderText());
}

char16_t* TaskController::MakeTaskFolderPath(char16_t* output, char* title,
                                             std::u16string_view saveFolder) {
  // 1. The save-folder box, at most kPathCapacity - 1 units.
  CopyWide(output, kPathCapacity, saveFolder);
  std::size_t boxLength = WideLength(output, kPathCapacity);

  // 2. The title ends at its first " Page"; the caller sees the shortened title.
  std::u16string wideTitle;
  if (title != nullptr) {
    if (char* page = std::strstr(title, " Page"); page != nullptr) *page = 0;
    // 4. UTF-8 -> ANSI -> wide, at most kPathCapacity - 1 units.
    std::string ansi;
    CodeConverter().Utf8ToAnsi(ansi, title, static_cast<int>(std::strlen(title)));
    char16_t converted[kPathCapacity];
    converted[0] = 0;
    ToWide(converted, kPathCapacity, ansi.c_str());
    wideTitle = WideView(converted, kPathCapacity);
  }
  // A '/' of the title is a character of its name; a backslash joins a comic and its chapter.
  for (char16_t& unit : wideTitle) {
    if (unit == u'/')
      unit = u'_';
    else if (unit == u'\\')
      unit = u'/';
  }

  // The whole path must fit: box, '/', title, '/'. The title gives way first; the box
  // only when not even an empty title would fit.
  constexpr std::size_t kRoom = kPathCapacity - 1;
  if (boxLength + 2 > kRoom) {
    boxLength = FitUnits(std::u16string_view(output, boxLength), kRoom - 2);
    output[boxLength] = 0;
  }
  // A title that has to be cut leaves room for the pictures' names after it.
  const std::size_t titleRoom =
      boxLength + 2 + kPictureNameRoom < kRoom ? kRoom - boxLength - 2 - kPictureNameRoom : 0;
  // Confined again after shortening: a cut may leave a component reading "..".
  wideTitle = ConfineComponents(ShortenTitle(ConfineComponents(wideTitle), titleRoom));

  // 3. and 5. Separator, title, separator.
  AppendWide(output, kPathCapacity, u"/");
  AppendWide(output, kPathCapacity, wideTitle);
  AppendWide(output, kPathCapacity, u"/");
  return output;
}

void TaskController::RemoveTask(int taskNo) {
  std::shared_ptr<Task> removed;  // freed outside the lock (or by the worker holding it)
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    removed = TakeOutLocked(taskNo);
  }
  if (m_store) (void)m_store->Remove(taskNo);
  m_window.Publish(TaskRemoved{taskNo});
}

void TaskController::RemoveTasks(const std::vector<int>& taskNos) {
  if (taskNos.empty()) return;
  std::vector<std::shared_ptr<Task>> removed;  // freed outside the lock
  removed.reserve(taskNos.size());
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    for (const int taskNo : taskNos)
      if (std::shared_ptr<Task> task = TakeOutLocked(taskNo)) removed.push_back(std::move(task));
  }
  if (m_store) (void)m_store->Remove(taskNos);
  m_window.Publish(TasksRemoved{taskNos});
}

std::vector<int> TaskController::DeletableTasks(const std::vector<int>& selected,
                                                bool workerRuns) const {
  if (!workerRuns) return selected;
  std::vector<int> deletable;
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  for (const int taskNo : selected) {
    const auto it = m_tasks.find(taskNo);
    // An unfinished task rests like a finished one until the next Start.
    const int state = it == m_tasks.end() ? STATE_FINISHED : it->second->GetState();
    if (state == STATE_FINISHED || state == STATE_PREPARING || state == STATE_INCOMPLETE)
      deletable.push_back(taskNo);
  }
  return deletable;
}

void TaskController::RenumberRows() {
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  int row = 0;
  for (const auto& entry : m_order) m_tasks.at(entry.second)->SetRow(row++);
}

void TaskController::EnterLocked(int taskNo, std::shared_ptr<Task> task, long long place) {
  // A place taken already (a queue file edited by hand) goes behind the last one.
  if (m_order.count(place) != 0) place = m_order.rbegin()->first + 1;
  m_tasks[taskNo] = std::move(task);
  m_order[place] = taskNo;
  m_placeOf[taskNo] = place;
}

std::shared_ptr<Task> TaskController::TakeOutLocked(int taskNo) {
  const auto it = m_tasks.find(taskNo);
  if (it == m_tasks.end()) return nullptr;
  std::shared_ptr<Task> task = std::move(it->second);
  m_tasks.erase(it);
  const auto place = m_placeOf.find(taskNo);
  m_order.erase(place->second);
  m_placeOf.erase(place);
  return task;
}

std::shared_ptr<Task> TaskController::FindTask(int taskNo) const {
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  auto it = m_tasks.find(taskNo);
  return it == m_tasks.end() ? nullptr : it->second;
}

std::vector<int> TaskController::TaskNumbers() const {
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  std::vector<int> numbers;
  numbers.reserve(m_tasks.size());
  for (const auto& entry : m_tasks) numbers.push_back(entry.first);
  return numbers;
}

}  // namespace pageloom
