// The download workers of an engine: one thread per registered site, each with its pause
// gate and its ban clock, walking the tasks of its site in their order, a step at a time.
// A run begins with a Start and ends (RunEnded) once no worker runs and no address is being
// read. Commands come from the front end's thread; the walks publish from the workers'.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/controller_settings.h"
#include "app/engine_shared.h"
#include "app/task_registry.h"
#include "app/window_port.h"
#include "base/cancellation.h"
#include "base/manual_reset_event.h"
#include "engine/ban_clock.h"
#include "engine/site_list.h"
#include "net/session.h"

namespace pageloom {

class WorkerPool {
 public:
  struct Links {
    // When a task's turn on a worker has ended (`ranNow`: it stepped in this turn).
    std::function<void(const Task& task, bool ranNow)> finished;
    // True while an address is being read (a run does not end meanwhile).
    std::function<bool()> addsPending;
  };
  WorkerPool(const EngineShared& engine, Links links);
  // Stops and joins the workers.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Start: opens the gates and starts every site's worker that is not running (a banned
  // site says how long is left instead).
  void StartAll();
  // The same for one site; the other sites' workers are left as they are.
  void StartSite(int siteKind);
  // Closes the gates: every worker stops before its next step; the tasks in a step show
  // as paused at once.
  void Pause();
  void Continue();

  [[nodiscard]] bool Running(int siteKind) const;
  [[nodiscard]] bool AnyRunning() const;
  // A running walk of that site goes round once more (a task was let go or moved).
  void WalkAgain(int siteKind);
  // Holding task `taskNo`: what its row shows now, when its worker is in its step.
  [[nodiscard]] std::optional<TaskStatus> HeldInStep(int siteKind, int taskNo, bool held);

  // The worker procedure: walks the tasks of `siteKind` until nothing is left to do.
  void DownloadThread(int siteKind);
  // Publishes RunEnded when a run is open, no worker runs and no address is being read.
  void EndRunIfIdle();

  // Ends the walks: opens the gates so no worker waits at one. Then Join (after the
  // transfers have been cancelled).
  void Stop();
  void Join();
  [[nodiscard]] bool Stopping() const { return m_stopping.load(); }

 private:
  struct Worker {
    ManualResetEvent gate{true};  // the site's pause gate
    std::thread thread;
    std::atomic<bool> running{false};  // changed under m_workerMutex
    bool again = false;                // a Start came while the walk ran: walk once more
    // The task the worker holds and what was last published of it; under m_heldMutex.
    std::optional<TaskChanged> held;
    BanClock ban;  // the site's ban, consulted before every step
  };
  Worker* WorkerFor(int siteKind) const;
  void OpenRun();
  void StartWorker(int siteKind);
  void Walk(int siteKind, StepContext& context);
  // One task's turn on `worker`.
  void TakeTurn(Worker& worker, int taskNo, Task& task, StepContext& context);
  bool WalkAgain(Worker& worker);
  bool WaitOutBan(int siteKind, Worker& worker);
  bool SayBanned(int siteKind);
  void PublishHeld(Worker& worker, TaskChanged shown);

  const EngineShared& m_engine;
  const Links m_links;
  std::atomic<bool> m_stopping{false};
  std::mutex m_workerMutex;  // guards Worker::running changes, Worker::again and m_runOpen
  bool m_runOpen = false;    // a Start came, and RunEnded has not been published since
  std::mutex m_heldMutex;    // guards Worker::held and orders its publishing
  std::map<int, std::unique_ptr<Worker>> m_workers;  // one per registered site, by kind
};

}  // namespace pageloom
