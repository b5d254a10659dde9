#include "cli/terminal_window.h"

#include <cstdint>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

#include "base/fixed_text.h"

namespace pageloom::cli {

void TaskTable::Append(const std::u16string& number) { m_rows.push_back(Row{number, {}, {}, {}}); }

void TaskTable::Set(int row, int column, const std::u16string& text) {
  if (row < 0 || row >= RowCount() || column < 0 || column > 3) return;
  m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
}

void TaskTable::Delete(int row) {
  if (row < 0 || row >= RowCount()) return;
  m_rows.erase(m_rows.begin() + row);
}

std::u16string TaskTable::Get(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column > 3) return {};
  return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

int TaskTable::RowOfTask(int taskNo) const {
  const std::u16string number = WideNumber(taskNo);
  for (std::size_t row = 0; row < m_rows.size(); ++row)
    if (m_rows[row][0] == number) return static_cast<int>(row);
  return -1;
}

TerminalWindow::TerminalWindow(RunListener& listener, Boxes boxes)
    : m_listener(listener),
      m_boxes(std::move(boxes)),
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

void TerminalWindow::PostTaskRow(int taskNo, std::u16string progress, std::u16string status) {
  Enqueue(Event{[this, taskNo, progress = std::move(progress), status = std::move(status)] {
                  ApplyTaskRow(taskNo, progress, status);
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

void TerminalWindow::ShowMessage(std::u16string_view text) {
  if (std::this_thread::get_id() == m_mainThread) {
    m_listener.OnMessage(text);
    return;
  }
  Enqueue(Event{[this, message = std::u16string(text)] { m_listener.OnMessage(message); }, true});
}

void TerminalWindow::ShowBan(int siteKind, std::chrono::seconds left) {
  Enqueue(Event{[this, siteKind, left] { m_listener.OnBan(siteKind, left); }, true});
}

std::optional<std::u16string> TerminalWindow::PickFolder(std::u16string_view title) {
  (void)title;
  return std::nullopt;
}

void TerminalWindow::ApplyTaskRow(int taskNo, const std::u16string& progress,
                                  const std::u16string& status) {
  const int row = m_table.RowOfTask(taskNo);
  if (row < 0) return;  // the row is gone
  const std::u16string before = m_table.Get(row, 2);
  m_table.Set(row, 2, progress);
  m_table.Set(row, 3, status);
  m_listener.OnTaskStep(taskNo, before, progress, status);
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
