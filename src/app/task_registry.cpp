#include "app/task_registry.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <system_error>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "store/queue_store.h"

namespace pageloom {

namespace fs = std::filesystem;

TaskRegistry::TaskRegistry(WindowPort& port, const SiteList& sites)
    : m_port(port), m_sites(sites) {}

TaskRegistry::~TaskRegistry() { Close(); }

void TaskRegistry::Close() {
  std::map<int, std::shared_ptr<Task>> tasks;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    tasks.swap(m_tasks);
    m_order.clear();
    m_placeOf.clear();
  }
  tasks.clear();
  m_store.reset();
  m_lock.reset();
}

void TaskRegistry::SayLater(const Message& message) {
  // Said once the front end is up, on its thread.
  m_port.Post([this, message] { m_port.ShowMessage(message); });
}

void TaskRegistry::Open(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  LockAttempt attempt;
  if (ec) {
    attempt.failure = LockAttempt::Failure::kUnusable;
    attempt.reason = ec.message();
  } else {
    attempt = InstanceLock::Take(folder / "lock");
  }
  if (attempt.failure == LockAttempt::Failure::kHeld) {
    // Another program (or another window of this one) has the queue: leave it alone.
    m_state = QueueState::kInUse;
    return;
  }
  if (attempt.failure == LockAttempt::Failure::kUnusable) {
    // Not another program: this one runs on, with nothing lasting (said once).
    m_state = QueueState::kUnavailable;
    const Message message{
        MessageKind::kDataFolderNotMade,
        {FromUtf8((ec ? folder : folder / "lock").string()), FromUtf8(attempt.reason)}};
    DebugLine(u"no data folder or lock: " + message.args[0] + u" (" + message.args[1] + u")");
    SayLater(message);
    return;
  }
  m_lock = std::move(attempt.lock);
  QueueStore::OpenResult opened = QueueStore::Open(folder / "queue.sqlite");
  m_store = std::move(opened.store);
  if (m_store) {
    // Said once when saving begins to fail, and once when it works again.
    m_store->SetHealthListener([this](bool failing, const std::string& reason) {
      SayLater(failing ? Message{MessageKind::kQueueSaveFailing, {FromUtf8(reason)}}
                       : Message{MessageKind::kQueueSavingAgain, {}});
    });
  }
  switch (opened.how) {
    case QueueStore::Opening::kOpened:
      m_state = QueueState::kOpened;
      break;
    case QueueStore::Opening::kSetAside:
      m_state = QueueState::kSetAside;
      SayLater(Message{MessageKind::kQueueSetAside, {FromUtf8(opened.setAside.string())}});
      break;
    case QueueStore::Opening::kUnavailable:
      m_state = QueueState::kUnavailable;
      SayLater(Message{MessageKind::kQueueUnavailable, {}});
      break;
  }
  for (QueueStore::StoredTask& stored : opened.tasks) {
    const SiteAdapter* site = m_sites.Named(stored.record.siteName);
    if (site == nullptr) {
      // Kept in the file for a program that knows the site.
      DebugLine("queue: task " + std::to_string(stored.taskNo) + " of no known site, skipped");
      continue;
    }
    std::shared_ptr<Task> task = site->NewTask();
    task->Restore(stored.record);
    task->SetSiteName(site->Name());
    Restore(stored.taskNo, std::move(task), stored.shownFolder, stored.place);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_nextTaskNo = std::max(m_nextTaskNo, opened.nextTaskNo);
}

void TaskRegistry::Restore(int taskNo, std::shared_ptr<Task> task, std::u16string_view folderShown,
                           long long place) {
  TaskAdded added{taskNo, std::u16string(folderShown), task->Snapshot()};
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    task->SetRow(static_cast<int>(m_tasks.size()));
    EnterLocked(taskNo, task, place);
    m_nextTaskNo = std::max(m_nextTaskNo, taskNo + 1);
  }
  m_port.Publish(std::move(added));
}

int TaskRegistry::Register(std::shared_ptr<Task> task, std::u16string_view folderShown) {
  int n;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    n = m_nextTaskNo++;
    task->SetRow(static_cast<int>(m_tasks.size()));
  }
  if (task->GetSiteName().empty())
    if (const SiteAdapter* site = m_sites.OfKind(task->GetSiteKind()))
      task->SetSiteName(site->Name());
  // In the queue before a worker can see it and before its row shows it.
  const bool saved = !m_store || m_store->Insert(n, *task, folderShown, n + 1);
  // Its snapshot is taken before a worker can see it.
  TaskAdded added{n, std::u16string(folderShown), task->Snapshot()};
  added.snapshot.notSaved = !saved;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    EnterLocked(n, task, n);
  }
  m_port.Publish(std::move(added));
  return n;
}

void TaskRegistry::Remove(int taskNo) {
  std::shared_ptr<Task> removed;  // freed outside the lock (or by the worker holding it)
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    removed = TakeOutLocked(taskNo);
  }
  if (m_store) (void)m_store->Remove(taskNo);
  m_port.Publish(TaskRemoved{taskNo});
}

void TaskRegistry::Remove(const std::vector<int>& taskNos) {
  if (taskNos.empty()) return;
  std::vector<std::shared_ptr<Task>> removed;  // freed outside the lock
  removed.reserve(taskNos.size());
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const int taskNo : taskNos)
      if (std::shared_ptr<Task> task = TakeOutLocked(taskNo)) removed.push_back(std::move(task));
  }
  if (m_store) (void)m_store->Remove(taskNos);
  m_port.Publish(TasksRemoved{taskNos});
}

std::vector<int> TaskRegistry::Deletable(const std::vector<int>& selected, bool workerRuns) const {
  if (!workerRuns) return selected;
  std::vector<int> deletable;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const int taskNo : selected) {
    const auto it = m_tasks.find(taskNo);
    // An unfinished task rests like a finished one until the next Start.
    const int state = it == m_tasks.end() ? STATE_FINISHED : it->second->GetState();
    if (state == STATE_FINISHED || state == STATE_PREPARING || state == STATE_INCOMPLETE)
      deletable.push_back(taskNo);
  }
  return deletable;
}

void TaskRegistry::RenumberRows() {
  std::lock_guard<std::mutex> lock(m_mutex);
  int row = 0;
  for (const auto& entry : m_order) m_tasks.at(entry.second)->SetRow(row++);
}

std::optional<int> TaskRegistry::MoveTask(int taskNo, Move move) {
  std::vector<std::pair<int, long long>> places;  // what changed
  int row = 0;
  int siteKind = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto placed = m_placeOf.find(taskNo);
    if (placed == m_placeOf.end()) return std::nullopt;
    const auto at = m_order.find(placed->second);
    if (move == Move::kDown) {
      const auto next = std::next(at);
      if (next == m_order.end()) return std::nullopt;
      places = {{taskNo, next->first}, {next->second, at->first}};
    } else {
      if (at == m_order.begin()) return std::nullopt;
      const auto before = std::prev(at);
      places = move == Move::kTop
                   ? std::vector<std::pair<int, long long>>{{taskNo, m_order.begin()->first - 1}}
                   : std::vector<std::pair<int, long long>>{{taskNo, before->first},
                                                            {before->second, at->first}};
    }
    for (const auto& entry : places) m_order.erase(m_placeOf.at(entry.first));
    for (const auto& [no, place] : places) {
      m_order[place] = no;
      m_placeOf[no] = place;
    }
    row = static_cast<int>(std::distance(m_order.begin(), m_order.find(m_placeOf.at(taskNo))));
    siteKind = m_tasks.at(taskNo)->GetSiteKind();
  }
  if (m_store) (void)m_store->SetPlaces(places);
  RenumberRows();
  m_port.Publish(TaskMoved{taskNo, row});
  return siteKind;
}

void TaskRegistry::EnterLocked(int taskNo, std::shared_ptr<Task> task, long long place) {
  // A place taken already (a queue file edited by hand) goes behind the last one.
  if (m_order.count(place) != 0) place = m_order.rbegin()->first + 1;
  m_tasks[taskNo] = std::move(task);
  m_order[place] = taskNo;
  m_placeOf[taskNo] = place;
}

std::shared_ptr<Task> TaskRegistry::TakeOutLocked(int taskNo) {
  const auto it = m_tasks.find(taskNo);
  if (it == m_tasks.end()) return nullptr;
  std::shared_ptr<Task> task = std::move(it->second);
  m_tasks.erase(it);
  const auto place = m_placeOf.find(taskNo);
  m_order.erase(place->second);
  m_placeOf.erase(place);
  return task;
}

std::shared_ptr<Task> TaskRegistry::Find(int taskNo) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_tasks.find(taskNo);
  return it == m_tasks.end() ? nullptr : it->second;
}

std::vector<int> TaskRegistry::Numbers() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int> numbers;
  numbers.reserve(m_tasks.size());
  for (const auto& entry : m_tasks) numbers.push_back(entry.first);
  return numbers;
}

std::vector<int> TaskRegistry::Order() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int> order;
  order.reserve(m_order.size());
  for (const auto& entry : m_order) order.push_back(entry.second);
  return order;
}

std::vector<int> TaskRegistry::Finished() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int> finished;
  for (const auto& entry : m_tasks)
    if (entry.second->GetState() == STATE_FINISHED) finished.push_back(entry.first);
  return finished;
}

std::optional<TaskRegistry::Entry> TaskRegistry::Next(std::optional<long long> place) const {
  // Tasks added meanwhile lie past `place` and are reached; removed ones are not found.
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = place ? m_order.upper_bound(*place) : m_order.begin();
  if (it == m_order.end()) return std::nullopt;
  return Entry{it->first, it->second, m_tasks.at(it->second)};
}

bool TaskRegistry::Holds(int taskNo, const Task* task) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_tasks.find(taskNo);
  return it != m_tasks.end() && it->second.get() == task;
}

}  // namespace pageloom
