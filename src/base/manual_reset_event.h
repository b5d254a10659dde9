// A manual-reset event: Set opens it for every waiter until Reset closes it again.
#pragma once

#include <condition_variable>
#include <mutex>

namespace pageloom {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled) : m_signalled(signalled) {}

  void Set() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_signalled = true;
    }
    m_cv.notify_all();
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
  }

  bool IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
  }

  // Waits until the event is set.
  void Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_signalled; });
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_signalled;
};

}  // namespace pageloom
