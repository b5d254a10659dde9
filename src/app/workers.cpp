// The two download workers: one procedure for both sites, the pause gate, Start, Pause,
// Continue, and the shutdown when the window closes.
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "engine/page_ahead.h"
#include "engine/picture_ahead.h"
#include "net/part_file.h"
#include "script/script_host.h"
#include "store/queue_store.h"

namespace pageloom {

TaskController::Worker* TaskController::WorkerFor(int siteKind) const {
  const auto it = m_workers.find(siteKind);
  return it == m_workers.end() ? nullptr : it->second.get();
}

bool TaskController::WorkerRunning(int siteKind) const {
  const Worker* worker = WorkerFor(siteKind);
  return worker != nullptr && worker->running.load();
}

bool TaskController::AnyWorkerRunning() const {
  for (const auto& entry : m_workers)
    if (entry.second->running.load()) return true;
  return false;
}

void TaskController::DownloadThread(int siteKind) {
  Worker* found = WorkerFor(siteKind);
  const SiteAdapter* adapter = AdapterOfKind(siteKind);
  if (found == nullptr || adapter == nullptr) return;
  Worker& worker = *found;
  try {
    // This worker's own page buffer: no two threads ever fill the same one.
    const auto page = std::make_unique<PageBuffer>();
    // Its own script helper: started on the first chapter, killed when the thread ends.
    ScriptHost scripts;
    // Its helpers that work one picture ahead: their threads end with the worker's.
    std::optional<PageAhead> pageAhead;
    std::optional<PictureAhead> pictureAhead;
    StepContext context{*m_session, *page, m_window, m_settings.sites, m_settings.retry,
                        &scripts,   {},    nullptr,  nullptr};
    if (m_settings.range) context.range = &*m_settings.range;
    if (m_settings.overlap && adapter->WorksAhead() == SiteAdapter::Ahead::kNextPage)
      context.pageAhead = &pageAhead.emplace(*m_session, m_settings.retry);
    if (m_settings.overlap && adapter->WorksAhead() == SiteAdapter::Ahead::kNextPicture)
      context.pictureAhead = &pictureAhead.emplace(*m_session, m_settings.retry);
    context.ban = &worker.ban;
    for (;;) {
      Walk(siteKind, context);
      if (m_walkEndHook) m_walkEndHook(siteKind);
      if (m_stopping.load()) break;
      if (worker.ban.Left()) {
        if (WaitOutBan(siteKind, worker)) continue;
        break;
      }
      if (!WalkAgain(worker)) break;
    }
  } catch (const std::exception& error) {
    DebugLine(std::string("download worker ended by an error: ") + error.what());
  }
  std::lock_guard<std::mutex> lock(m_workerMutex);
  worker.running.store(false);
}

bool TaskController::WaitOutBan(int siteKind, Worker& worker) {
  const std::optional<std::chrono::seconds> left = worker.ban.Left();
  if (!left) return true;
  m_window.ShowBan(siteKind, *left);
  if (m_settings.longestBanWait && *left > *m_settings.longestBanWait) return false;
  return worker.ban.WaitOut(m_cancel) && !m_stopping.load();
}

bool TaskController::SayBanned(int siteKind) {
  const Worker* worker = WorkerFor(siteKind);
  const int minutes = worker ? worker->ban.MinutesLeft() : 0;
  if (minutes == 0) return false;
  m_window.ShowMessage(Message{MessageKind::kBanned, {WideNumber(minutes)}});
  return true;
}

bool TaskController::WalkAgain(Worker& worker) {
  // Decided under the lock Start takes: a Start that came while this walk was ending is
  // either seen here, or sees the worker gone and makes a new one.
  std::lock_guard<std::mutex> lock(m_workerMutex);
  if (!worker.again) {
    worker.running.store(false);
    return false;
  }
  worker.again = false;
  return true;
}

void TaskController::Walk(int siteKind, StepContext& context) {
  Worker& worker = *WorkerFor(siteKind);
  bool first = true;
  long long lastPlace = 0;
  while (!m_stopping.load()) {
    // The lock is held only to find the next entry, in the order of the places: tasks
    // added meanwhile lie past lastPlace and are reached; removed ones are simply not
    // found; one moved before it is reached by the walk that a move asks for.
    int taskNo;
    std::shared_ptr<Task> task;
    {
      std::lock_guard<std::mutex> lock(m_tasksMutex);
      auto it = first ? m_order.begin() : m_order.upper_bound(lastPlace);
      if (it == m_order.end()) return;
      lastPlace = it->first;
      taskNo = it->second;
      task = m_tasks.at(taskNo);
    }
    first = false;
    if (task->GetSiteKind() != siteKind || task->Held()) continue;
    // What a killed run left half written in the task's folder goes before it runs again.
    RemoveLeftoverPartFiles(std::filesystem::path(ToUtf8(task->GetFolder())));
    context.pictureProgress = [this, taskNo](std::uint64_t received, std::int64_t total) {
      m_window.PostPictureProgress(taskNo, received, total);
    };

    const bool finishedBefore = task->GetState() == STATE_FINISHED;
    int result;
    do {
      worker.gate.Wait();
      // Nothing goes to a site that has banned the visitor.
      if (m_stopping.load() || (context.ban && context.ban->Left())) break;
      if (task->Held()) {
        // Held by itself: the others of its site go on.
        task->RestHeld();
        if (m_store) (void)m_store->SaveStep(taskNo, *task);
        PublishHeld(worker, TaskChanged{taskNo, task->Snapshot()});
        break;
      }
      {
        // A task deleted while this worker held it is left alone from then on.
        std::lock_guard<std::mutex> lock(m_tasksMutex);
        auto it = m_tasks.find(taskNo);
        if (it == m_tasks.end() || it->second != task) break;
      }
      // Taken: shown as downloading from now on, not only once its first step is over.
      TaskSnapshot taken = task->Snapshot();
      if (taken.status != TaskStatus::kFinished) {
        taken.status = TaskStatus::kDownloading;
        const bool shownAlready = [&] {
          std::lock_guard<std::mutex> lock(m_heldMutex);
          return worker.held && worker.held->no == taskNo &&
                 worker.held->snapshot.status == TaskStatus::kDownloading;
        }();
        if (!shownAlready) PublishHeld(worker, TaskChanged{taskNo, std::move(taken)});
      }
      result = task->DownloadNext(context);
      // Saved before its row shows it; a task's end is written to its folder before too. A
      // task finished before whose step found nothing to do has nothing new to save.
      const bool unchanged = finishedBefore && result == 0 && task->GetState() == STATE_FINISHED;
      const bool saved = !m_store || unchanged || m_store->SaveStep(taskNo, *task);
      if (result == 0 && !m_stopping.load()) FinishTask(*task, !finishedBefore);
      TaskSnapshot after = task->Snapshot();
      after.notSaved = !saved;
      // A task that waits at a closed gate is paused, whatever its last step said.
      if (result != 0 && after.status == TaskStatus::kDownloading && !worker.gate.IsSet())
        after.status = TaskStatus::kPaused;
      PublishHeld(worker, TaskChanged{taskNo, std::move(after)});
    } while (result != 0 && !m_stopping.load());
    {
      std::lock_guard<std::mutex> lock(m_heldMutex);
      worker.held.reset();
    }
    // Nothing worked ahead for this task outlives its turn.
    if (context.pageAhead) context.pageAhead->Drop();
    if (context.pictureAhead) context.pictureAhead->Drop();
    if (m_stopping.load() || (context.ban && context.ban->Left())) return;
  }
}

void TaskController::PublishHeld(Worker& worker, TaskChanged shown) {
  std::lock_guard<std::mutex> lock(m_heldMutex);
  worker.held = shown;
  m_window.Publish(std::move(shown));
}

void DownloadThreadEH(TaskController* controller) { controller->DownloadThread(SITE_EH); }
void DownloadThreadDMZJ(TaskController* controller) { controller->DownloadThread(SITE_DMZJ); }

void TaskController::StartWorker(int siteKind) {
  Worker* found = WorkerFor(siteKind);
  const SiteAdapter* adapter = AdapterOfKind(siteKind);
  if (found == nullptr || adapter == nullptr) return;
  Worker& worker = *found;
  {
    std::lock_guard<std::mutex> lock(m_workerMutex);
    if (worker.running.load()) {
      // Still running: the open gate is enough, and the walk goes round once more when
      // it was just ending, so that tasks added meanwhile are not left behind.
      worker.again = true;
      return;
    }
    worker.again = false;
  }
  // An ended worker is replaced: joining it is what closing its handle was.
  if (worker.thread.joinable()) worker.thread.join();

  std::function<void()> body = [this, siteKind] {
    if (siteKind == SITE_DMZJ)
      DownloadThreadDMZJ(this);
    else if (siteKind == SITE_EH)
      DownloadThreadEH(this);
    else
      DownloadThread(siteKind);
    m_window.PostWorkerEnded(siteKind);  // the running flag is down by now
    EndRunIfIdle();
  };
  {
    std::lock_guard<std::mutex> lock(m_workerMutex);
    worker.running.store(true);
  }
  try {
    worker.thread =
        m_threadStarter ? m_threadStarter(std::move(body)) : std::thread(std::move(body));
  } catch (const std::system_error&) {
    worker.thread = std::thread();
  }
  if (!worker.thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(m_workerMutex);
      worker.running.store(false);
    }
    m_window.ShowMessage(Message{MessageKind::kWorkerNotStarted, {adapter->Name()}});
  }
}

void TaskController::OpenRun() {
  std::lock_guard<std::mutex> lock(m_workerMutex);
  m_runOpen = true;
}

void TaskController::EndRunIfIdle() {
  // A run cut short by closing has not ended; the add thread looks again once it is idle.
  if (m_stopping.load() || AddsPending()) return;
  RunEnded ended;
  {
    // Counted under the lock Start takes: no worker can begin to change a task meanwhile.
    std::lock_guard<std::mutex> lock(m_workerMutex);
    if (!m_runOpen || AnyWorkerRunning()) return;
    m_runOpen = false;
    for (const int taskNo : TaskNumbers()) {
      const std::shared_ptr<Task> task = FindTask(taskNo);
      if (!task) continue;
      const TaskStatus status = task->Snapshot().status;
      ++ended.tasks;
      ended.finished += status == TaskStatus::kFinished ? 1 : 0;
      ended.incomplete += status == TaskStatus::kIncomplete ? 1 : 0;
    }
  }
  m_window.Publish(ended);
}

void TaskController::OnBnClickedStart() {
  m_session->HoldPacedRequests(false);
  for (auto& entry : m_workers) entry.second->gate.Set();
  if (m_stopping.load()) return;
  OpenRun();
  // In the order of the sites: EH first, as the window always did.
  for (auto it = m_adapters.rbegin(); it != m_adapters.rend(); ++it)
    if (!SayBanned((*it)->Kind())) StartWorker((*it)->Kind());
  EndRunIfIdle();  // when no worker could start
}

void TaskController::StartSite(int siteKind) {
  m_session->HoldPacedRequests(false);
  if (Worker* worker = WorkerFor(siteKind)) worker->gate.Set();
  if (m_stopping.load()) return;
  OpenRun();
  if (!SayBanned(siteKind)) StartWorker(siteKind);
  EndRunIfIdle();  // when it could not start
}

void TaskController::OnBnClickedPause() {
  for (auto& entry : m_workers) entry.second->gate.Reset();
  // A request still waiting for its paced turn is not sent until Continue.
  m_session->HoldPacedRequests(true);
  // The tasks held now show as paused at once, while their pictures in flight end; the
  // news goes behind what their workers said before.
  std::lock_guard<std::mutex> lock(m_heldMutex);
  for (auto& entry : m_workers) {
    Worker* worker = entry.second.get();
    if (!worker->held || worker->held->snapshot.status != TaskStatus::kDownloading) continue;
    worker->held->snapshot.status = TaskStatus::kPaused;
    m_window.Post([this, shown = *worker->held] { m_window.Publish(shown); });
  }
}

void TaskController::OnBnClickedContinue() {
  m_session->HoldPacedRequests(false);
  for (auto& entry : m_workers) entry.second->gate.Set();
}

void TaskController::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(m_addMutex);
    m_stopping.store(true);
    m_addChanged.notify_all();
  }
  for (auto& entry : m_workers) entry.second->gate.Set();
  // The step and the page reading in flight end; a partial picture file goes with them.
  m_cancel.Cancel();
  if (m_adder.joinable()) m_adder.join();
  for (auto& entry : m_workers)
    if (entry.second->thread.joinable()) entry.second->thread.join();
}

}  // namespace pageloom
