// A thread beside a worker that does one job at a time for it in the background: the
// page or picture a step works ahead on. Started with the first job, ended (after the job
// in flight) with the object. Run and Wait are called by the owning worker only.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pageloom {

class HelperThread {
 public:
  HelperThread() = default;
  // Waits for the job in flight, then ends the thread.
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  // Runs `job` on the helper thread, once the job before it has ended. When no thread can
  // be made, `job` runs here, before Run returns.
  void Run(std::function<void()> job);
  // Waits until the job in flight, if any, has ended; what it wrote is seen afterwards.
  void Wait();

 private:
  void Loop();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::function<void()> m_job;  // queued, not yet taken by the thread
  bool m_busy = false;          // a job is queued or running
  bool m_ending = false;
  std::thread m_thread;
};

}  // namespace pageloom
