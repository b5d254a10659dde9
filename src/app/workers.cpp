// The two download workers: one procedure for both sites, the pause gate, Start, Pause,
// Continue, and the shutdown when the window closes.
#include <exception>
#include <string>
#include <system_error>

#include "app/task_controller.h"
#include "text/debug_line.h"
#include "text/script_host.h"

namespace pageloom {

namespace {

// Clears a worker's running flag as the last act of its thread.
class RunningGuard {
 public:
  explicit RunningGuard(std::atomic<bool>& running) : m_running(running) {}
  ~RunningGuard() { m_running.store(false); }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;

 private:
  std::atomic<bool>& m_running;
};

}  // namespace

TaskController::Worker& TaskController::WorkerFor(int siteKind) {
  return siteKind == SITE_DMZJ ? m_threadDMZJ : m_threadEH;
}

bool TaskController::WorkerRunning(int siteKind) const {
  const Worker& worker = siteKind == SITE_DMZJ ? m_threadDMZJ : m_threadEH;
  return worker.running.load();
}

void TaskController::DownloadThread(int siteKind) {
  RunningGuard guard(WorkerFor(siteKind).running);
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    if (m_tasks.empty()) return;
  }
  bool first = true;
  int lastNo = 0;
  try {
    // This worker's own page buffer: no two threads ever fill the same one.
    const auto page = std::make_unique<PageBuffer>();
    // Its own script helper: started on the first chapter, killed when the thread ends.
    ScriptHost scripts;
    StepContext context{*m_session, *page, m_window, m_settings.sites, &scripts};
    while (!m_stopping.load()) {
      // The lock is held only to find the next entry: tasks added meanwhile lie past
      // lastNo and are reached; removed ones are simply not found.
      int taskNo;
      std::shared_ptr<Comic> task;
      {
        std::lock_guard<std::mutex> lock(m_tasksMutex);
        auto it = first ? m_tasks.begin() : m_tasks.upper_bound(lastNo);
        if (it == m_tasks.end()) break;
        taskNo = it->first;
        task = it->second;
      }
      first = false;
      lastNo = taskNo;
      if (task->GetSiteKind() != siteKind) continue;

      int result;
      do {
        m_pauseEvent.Wait();
        if (m_stopping.load()) return;
        {
          // A task deleted while this worker held it is left alone from then on.
          std::lock_guard<std::mutex> lock(m_tasksMutex);
          auto it = m_tasks.find(taskNo);
          if (it == m_tasks.end() || it->second != task) break;
        }
        result = task->DownloadNext(context);
        m_window.PostTaskRow(taskNo, task->ProgressText(), task->StatusText());
      } while (result != 0 && !m_stopping.load());
    }
  } catch (const std::exception& error) {
    DebugLine(std::string("download worker ended by an error: ") + error.what());
  }
}

void DownloadThreadEH(TaskController* controller) { controller->DownloadThread(SITE_EH); }
void DownloadThreadDMZJ(TaskController* controller) { controller->DownloadThread(SITE_DMZJ); }

void TaskController::StartWorker(int siteKind, const char16_t* failureMessage) {
  Worker& worker = WorkerFor(siteKind);
  // An ended worker is replaced: joining it is what closing its handle was.
  if (worker.thread.joinable() && !worker.running.load()) worker.thread.join();
  if (worker.thread.joinable()) return;  // still running: the open gate is enough

  std::function<void()> body = [this, siteKind] {
    if (siteKind == SITE_DMZJ)
      DownloadThreadDMZJ(this);
    else
      DownloadThreadEH(this);
    m_window.PostWorkerEnded(siteKind);  // the running flag is down by now
  };
  worker.running.store(true);
  try {
    worker.thread = m_threadStarter ? m_threadStarter(std::move(body)) : std::thread(std::move(body));
  } catch (const std::system_error&) {
    worker.thread = std::thread();
  }
  if (!worker.thread.joinable()) {
    worker.running.store(false);
    m_window.ShowMessage(failureMessage);
  }
}

void TaskController::OnBnClickedStart() {
  m_pauseEvent.Set();
  if (m_stopping.load()) return;
  StartWorker(SITE_EH, u"创建EH下载线程失败");
  StartWorker(SITE_DMZJ, u"创建DMZJ下载线程失败");
}

void TaskController::OnBnClickedPause() { m_pauseEvent.Reset(); }

void TaskController::OnBnClickedContinue() { m_pauseEvent.Set(); }

void TaskController::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(m_addMutex);
    m_stopping.store(true);
    m_addChanged.notify_all();
  }
  m_pauseEvent.Set();
  // The step and the page reading in flight end; a partial picture file goes with them.
  m_cancel.Cancel();
  if (m_adder.joinable()) m_adder.join();
  if (m_threadEH.thread.joinable()) m_threadEH.thread.join();
  if (m_threadDMZJ.thread.joinable()) m_threadDMZJ.thread.join();
}

}  // namespace pageloom
