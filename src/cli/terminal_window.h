// The window of pageloom-cli: WindowPort for a terminal. The task table is kept in memory,
// the boxes and options are the command line's, messages go to the listener (which writes
// them on standard error), and a folder picker is always cancelled. What other threads
// hand over is queued and run on the main thread, in order, when it calls RunEvents; the
// queue's wake-up descriptor lets the main loop wait for it together with other things.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/window_port.h"

namespace pageloom::cli {

// The task table: one row per task, its number, its folder and its latest snapshot.
class TaskTable {
 public:
  struct Row {
    int taskNo = 0;
    std::u16string folder;
    TaskSnapshot snapshot;
  };

  [[nodiscard]] int RowCount() const { return static_cast<int>(m_rows.size()); }
  [[nodiscard]] const std::vector<Row>& Rows() const { return m_rows; }
  void Add(Row row);
  // The row of task `taskNo`, or null.
  [[nodiscard]] Row* Find(int taskNo);
  [[nodiscard]] const Row* Find(int taskNo) const;
  void Remove(int taskNo);
  // Removes the rows of `taskNos` in one pass.
  void Remove(const std::vector<int>& taskNos);

 private:
  void IndexRows();

  std::vector<Row> m_rows;
  std::unordered_map<int, std::size_t> m_rowOfTask;  // task number -> row (the first)
};

// What the run hears from the window, on the main thread.
class RunListener {
 public:
  virtual ~RunListener() = default;
  // A task appeared.
  virtual void OnTaskAdded(const TaskTable::Row& row) = 0;
  // Task `row` changed: it was `before` and is as `row` says now.
  virtual void OnTaskChanged(const TaskSnapshot& before, const TaskTable::Row& row) = 0;
  // The add thread has read an address to its end.
  virtual void OnAddEnded(const std::u16string& address, int tasksMade,
                          const std::optional<FailureReason>& failure) = 0;
  virtual void OnPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) = 0;
  virtual void OnWorkerEnded(int siteKind) = 0;
  virtual void OnMessage(const Message& message) = 0;
  // The run the last Start began has ended (every worker idle, no address being read).
  virtual void OnRunEnded(const RunEnded& ended) = 0;
  // The worker of `siteKind` stops for the site's ban, which lasts `left` more.
  virtual void OnBan(int siteKind, std::chrono::seconds left) {
    (void)siteKind;
    (void)left;
  }
  // A check of followed comics added `count` new chapters of `comic`.
  virtual void OnNewChapters(const std::u16string& comic, int count) {
    (void)comic;
    (void)count;
  }
  // An Add left out tasks that were downloaded before.
  virtual void OnDownloadedBefore(const std::vector<DownloadedBefore>& before) { (void)before; }
};

class TerminalWindow final : public WindowPort {
 public:
  // Made on the main thread, which is the window thread from then on.
  explicit TerminalWindow(RunListener& listener);
  ~TerminalWindow() override;
  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  // --- WindowPort: from any thread; none of them blocks ---
  void Post(std::function<void()> work) override;
  void Publish(TaskEvent event) override;
  void PostAddEnded(std::u16string address, int tasksMade,
                    std::optional<FailureReason> failure) override;
  void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) override;
  void PostWorkerEnded(int siteKind) override;
  // On the main thread the listener hears it at once; from another thread it is queued.
  void ShowMessage(const Message& message) override;
  // A terminal has no folder picker: always cancelled.
  std::optional<std::u16string> PickFolder(const Message& title) override;
  // Heard by the run on the main thread; never blocks.
  void ShowBan(int siteKind, std::chrono::seconds left) override;
  void PostNewChapters(std::u16string comic, int count) override;
  // A terminal does not ask: only the new tasks are made, and the run hears of the others.
  AgainChoice AskDownloadAgain(const std::vector<DownloadedBefore>& before, int total) override;

  // --- main thread ---
  // Readable while events wait (an eventfd); -1 when it could not be made, and the main
  // loop then has to look every so often.
  [[nodiscard]] int WakeFd() const { return m_wakeFd; }
  // Runs the events queued so far, in order.
  void RunEvents();
  // From now on posted work and rows are dropped; messages are still shown by RunEvents.
  void BeginClosing();
  [[nodiscard]] const TaskTable& Table() const { return m_table; }

 private:
  struct Event {
    std::function<void()> run;
    bool message = false;  // shown even while closing
  };
  struct PendingBytes {
    std::uint64_t received = 0;
    std::int64_t total = -1;
  };
  void Enqueue(Event event);
  void EnqueueLocked(Event event);  // m_mutex held
  void ShowBytes(int taskNo);
  void Apply(const TaskEvent& event);

  RunListener& m_listener;
  TaskTable m_table;
  const std::thread::id m_mainThread;
  int m_wakeFd = -1;

  std::mutex m_mutex;  // guards m_events, m_bytes and m_closing
  std::deque<Event> m_events;
  std::map<int, PendingBytes> m_bytes;  // the latest picture bytes of a task, not yet shown
  bool m_closing = false;
};

}  // namespace pageloom::cli
