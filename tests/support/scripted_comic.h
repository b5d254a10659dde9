// Test tasks whose download step is a script, and small thread helpers for driving the
// workers step by step.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/task.h"

namespace pageloom::test {

// A door that stays open once opened.
class Latch {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_open = true;
    }
    m_cv.notify_all();
  }
  bool IsOpen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
  }
  // True when opened within the time.
  bool Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_open; });
  }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  bool m_open = false;
};

// What the steps did, in order, from every thread.
class StepLog {
 public:
  struct Entry {
    int taskNo;
    bool begin;  // false: the step's end
    std::thread::id thread;
  };
  void Add(int taskNo, bool begin) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back({taskNo, begin, std::this_thread::get_id()});
  }
  std::vector<Entry> Entries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
  }
  int Begins(int taskNo) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& e : m_entries) n += e.taskNo == taskNo && e.begin;
    return n;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<Entry> m_entries;
};

// A task whose step runs `script` between a "begin" and an "end" entry of the log. The
// script sees the task and may change its counters and state.
class ScriptedComic : public Task {
 public:
  using Script = std::function<int(ScriptedComic&)>;

  ScriptedComic(int siteKind, int taskNoForLog, StepLog* log, Script script)
      : m_logNo(taskNoForLog), m_log(log), m_script(std::move(script)) {
    SetSiteKind(siteKind);
  }

  int DownloadNext(StepContext& context) override {
    context.page[0] = static_cast<char>(m_logNo);  // a write into the buffer: TSan sees sharing
    ++m_steps;
    if (m_log) m_log->Add(m_logNo, true);
    m_context = &context;
    const int result = m_script(*this);
    m_context = nullptr;
    if (m_log) m_log->Add(m_logNo, false);
    return result;
  }

  // The context of the step that runs the script (valid inside the script only).
  StepContext& Context() { return *m_context; }

  void SetState(int state) { m_state = state; }
  void SetFileNumber(int number) { m_fileNumber = number; }
  int Steps() const { return m_steps; }

  // The usual script: `pictures` steps of one picture each, then finished; a finished
  // task returns 0 at once.
  static Script Pictures(int pictures, std::function<void(ScriptedComic&)> during = {}) {
    return [pictures, during](ScriptedComic& task) {
      if (task.GetState() == STATE_FINISHED) return 0;
      task.SetState(STATE_DOWNLOADING);
      if (during) during(task);
      task.SetFileNumber(task.GetFileNumber() + 1);
      if (task.GetFileNumber() >= pictures) {
        task.SetState(STATE_FINISHED);
        return 0;
      }
      return 1;
    };
  }

 private:
  int m_logNo;
  StepLog* m_log;
  Script m_script;
  std::atomic<int> m_steps{0};
  StepContext* m_context = nullptr;
};

// Polls `done` every millisecond until it holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Number of threads of this process.
inline int ThreadCount() {
  // ThreadSanitizer starts a helper thread of its own with the first thread of the
  // process; make sure it exists before anything is counted.
  static const bool warmed = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmed;
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

}  // namespace pageloom::test
