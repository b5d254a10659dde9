#include "engine/helper_thread.h"

#include <exception>
#include <string>
#include <system_error>
#include <utility>

#include "base/debug_line.h"

namespace pageloom {

namespace {

void RunGuarded(const std::function<void()>& job) {
  try {
    job();
  } catch (const std::exception& error) {
    DebugLine(std::string("background job ended by an error: ") + error.what());
  }
}

}  // namespace

HelperThread::~HelperThread() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ending = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void HelperThread::Run(std::function<void()> job) {
  Wait();
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
      RunGuarded(job);  // no thread: the job is done the plain way
      return;
    }
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_job = std::move(job);
    m_busy = true;
  }
  m_changed.notify_all();
}

void HelperThread::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_busy; });
}

void HelperThread::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_ending || m_busy; });
    if (!m_busy) return;  // ending, with nothing left to do
    const std::function<void()> job = std::exchange(m_job, nullptr);
    lock.unlock();
    RunGuarded(job);
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}

}  // namespace pageloom
