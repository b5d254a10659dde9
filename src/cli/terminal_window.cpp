#include "cli/terminal_window.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <utility>
#include <variant>

#include <sys/eventfd.h>
#include <unistd.h>

#include "base/fixed_text.h"

namespace pageloom::cli {

TaskTable::Row* TaskTable::Find(int taskNo) {
  const auto found = m_rowOfTask.find(taskNo);
  return found == m_rowOfTask.end() ? nullptr : &m_rows[found->second];
}

const TaskTable::Row* TaskTable::Find(int taskNo) const {
  const auto found = m_rowOfTask.find(taskNo);
  return found == m_rowOfTask.end() ? nullptr : &m_rows[found->second];
}

void TaskTable::Add(Row row) {
  m_rowOfTask.emplace(row.taskNo, m_rows.size());
  m_rows.push_back(std::move(row));
}

void TaskTable::Remove(int taskNo) { Remove(std::vector<int>{taskNo}); }

void TaskTable::Remove(const std::vector<int>& taskNos) {
  const std::unordered_set<int> gone(taskNos.begin(), taskNos.end());
  const auto end = std::remove_if(m_rows.begin(), m_rows.end(),
                                  [&gone](const Row& row) { return gone.count(row.taskNo) != 0; });
  if (end == m_rows.end()) return;
  m_rows.erase(end, m_rows.end());
  IndexRows();
}

void TaskTable::IndexRows() {
  m_rowOfTask.clear();
  for (std::size_t i = 0; i < m_rows.size(); ++i) m_rowOfTask.emplace(m_rows[i].taskNo, i);
}

TerminalWindow::TerminalWindow(RunListener& listener)
    : m_listener(listener),
      m_mainThread(std::this_thread::get_id()),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TerminalWindow::~TerminalWindow() {
  if (m_wakeFd >= 0) close(m_wakeFd);
}

void TerminalWindow::Enqueue(Event event) {
  std::lock_guard<std::mutex> lock(m_mutex);
  EnqueueLocked(std::move(event));
}

void TerminalWindow::EnqueueLocked(Event event) {
  if (m_closing && !event.message) return;
  m_events.push_back(std::move(event));
  if (m_wakeFd >= 0) {
    const std::uint64_t one = 1;
    (void)!write(m_wakeFd, &one, sizeof one);  // never blocks: the counter cannot fill up
  }
}

void TerminalWindow::Post(std::function<void()> work) { Enqueue(Event{std::move(work), false}); }

void TerminalWindow::Publish(TaskEvent event) {
  if (std::this_thread::get_id() == m_mainThread) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_closing) return;
    }
    Apply(event);
    return;
  }
  Enqueue(Event{[this, event = std::move(event)] { Apply(event); }, false});
}

void TerminalWindow::PostAddEnded(std::u16string address, int tasksMade,
                                  std::optional<FailureReason> failure) {
  Enqueue(Event{[this, address = std::move(address), tasksMade, failure] {
                  m_listener.OnAddEnded(address, tasksMade, failure);
                },
                false});
}

void TerminalWindow::PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) {
  // A fast download reports often: only the latest count of a task waits to be shown.
  std::lock_guard<std::mutex> lock(m_mutex);
  const bool waiting = m_bytes.count(taskNo) != 0;
  m_bytes[taskNo] = PendingBytes{received, total};
  if (!waiting) EnqueueLocked(Event{[this, taskNo] { ShowBytes(taskNo); }, false});
}

void TerminalWindow::ShowBytes(int taskNo) {
  PendingBytes bytes;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_bytes.find(taskNo);
    if (it == m_bytes.end()) return;
    bytes = it->second;
    m_bytes.erase(it);
  }
  m_listener.OnPictureBytes(taskNo, bytes.received, bytes.total);
}

void TerminalWindow::PostWorkerEnded(int siteKind) {
  Enqueue(Event{[this, siteKind] { m_listener.OnWorkerEnded(siteKind); }, false});
}

void TerminalWindow::ShowMessage(const Message& message) {
  if (std::this_thread::get_id() == m_mainThread) {
    m_listener.OnMessage(message);
    return;
  }
  Enqueue(Event{[this, message] { m_listener.OnMessage(message); }, true});
}

void TerminalWindow::ShowBan(int siteKind, std::chrono::seconds left) {
  Enqueue(Event{[this, siteKind, left] { m_listener.OnBan(siteKind, left); }, true});
}

void TerminalWindow::PostNewChapters(std::u16string comic, int count) {
  Enqueue(Event{[this, comic, count] { m_listener.OnNewChapters(comic, count); }, true});
}

AgainChoice TerminalWindow::AskDownloadAgain(const std::vector<DownloadedBefore>& before,
                                             int total) {
  (void)total;
  Enqueue(Event{[this, before] { m_listener.OnDownloadedBefore(before); }, true});
  return AgainChoice::kNewOnly;
}

std::optional<std::u16string> TerminalWindow::PickFolder(const Message& title) {
  (void)title;
  return std::nullopt;
}

void TerminalWindow::Apply(const TaskEvent& event) {
  if (const auto* added = std::get_if<TaskAdded>(&event)) {
    m_table.Add(TaskTable::Row{added->no, added->folder, added->snapshot});
    m_listener.OnTaskAdded(m_table.Rows().back());
  } else if (const auto* changed = std::get_if<TaskChanged>(&event)) {
    TaskTable::Row* row = m_table.Find(changed->no);
    if (row == nullptr) return;  // the row is gone
    const TaskSnapshot before = std::move(row->snapshot);
    row->snapshot = changed->snapshot;
    m_listener.OnTaskChanged(before, *row);
  } else if (const auto* removed = std::get_if<TaskRemoved>(&event)) {
    m_table.Remove(removed->no);
  } else if (const auto* ended = std::get_if<RunEnded>(&event)) {
    m_listener.OnRunEnded(*ended);
  } else if (const auto* many = std::get_if<TasksRemoved>(&event)) {
    m_table.Remove(many->nos);
  }
}

void TerminalWindow::RunEvents() {
  if (m_wakeFd >= 0) {
    std::uint64_t count = 0;
    (void)!read(m_wakeFd, &count, sizeof count);  // cleared before the queue is taken
  }
  std::deque<Event> events;
  bool closing;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    events.swap(m_events);
    closing = m_closing;
  }
  for (Event& event : events)
    if (!closing || event.message) event.run();
}

void TerminalWindow::BeginClosing() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_closing = true;
}

}  // namespace pageloom::cli
