#include "app/worker_pool.h"

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "engine/page_ahead.h"
#include "engine/picture_ahead.h"
#include "net/part_file.h"
#include "script/script_host.h"
#include "store/queue_store.h"

namespace pageloom {

WorkerPool::WorkerPool(const EngineShared& engine, Links links)
    : m_engine(engine), m_links(std::move(links)) {
  for (const auto& site : m_engine.sites.All())
    m_workers.emplace(site->Kind(), std::make_unique<Worker>());
}

WorkerPool::~WorkerPool() {
  Stop();
  Join();
}

WorkerPool::Worker* WorkerPool::WorkerFor(int siteKind) const {
  const auto it = m_workers.find(siteKind);
  return it == m_workers.end() ? nullptr : it->second.get();
}

bool WorkerPool::Running(int siteKind) const {
  const Worker* worker = WorkerFor(siteKind);
  return worker != nullptr && worker->running.load();
}

bool WorkerPool::AnyRunning() const {
  for (const auto& entry : m_workers)
    if (entry.second->running.load()) return true;
  return false;
}

void WorkerPool::DownloadThread(int siteKind) {
  Worker* found = WorkerFor(siteKind);
  const SiteAdapter* site = m_engine.sites.OfKind(siteKind);
  if (found == nullptr || site == nullptr) return;
  Worker& worker = *found;
  try {
    // This worker's own page buffer: no two threads ever fill the same one.
    const auto page = std::make_unique<PageBuffer>();
    // Its own script helper: started on the first chapter, killed when the thread ends.
    ScriptHost scripts;
    // Its helpers that work one picture ahead: their threads end with the worker's.
    std::optional<PageAhead> pageAhead;
    std::optional<PictureAhead> pictureAhead;
    StepContext context{m_engine.session,
                        *page,
                        m_engine.port,
                        m_engine.settings.sites,
                        m_engine.settings.retry,
                        &scripts,
                        {},
                        nullptr,
                        nullptr};
    if (m_engine.settings.range) context.range = &*m_engine.settings.range;
    if (m_engine.settings.overlap && site->WorksAhead() == SiteAdapter::Ahead::kNextPage)
      context.pageAhead = &pageAhead.emplace(m_engine.session, m_engine.settings.retry);
    if (m_engine.settings.overlap && site->WorksAhead() == SiteAdapter::Ahead::kNextPicture)
      context.pictureAhead = &pictureAhead.emplace(m_engine.session, m_engine.settings.retry);
    context.ban = &worker.ban;
    for (;;) {
      Walk(siteKind, context);
      if (m_engine.settings.walkEndHook) m_engine.settings.walkEndHook(siteKind);
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

bool WorkerPool::WaitOutBan(int siteKind, Worker& worker) {
  const std::optional<std::chrono::seconds> left = worker.ban.Left();
  if (!left) return true;
  m_engine.port.ShowBan(siteKind, *left);
  if (m_engine.settings.longestBanWait && *left > *m_engine.settings.longestBanWait) return false;
  return worker.ban.WaitOut(m_engine.cancel) && !m_stopping.load();
}

bool WorkerPool::SayBanned(int siteKind) {
  const Worker* worker = WorkerFor(siteKind);
  const int minutes = worker ? worker->ban.MinutesLeft() : 0;
  if (minutes == 0) return false;
  m_engine.port.ShowMessage(Message{MessageKind::kBanned, {WideNumber(minutes)}});
  return true;
}

bool WorkerPool::WalkAgain(Worker& worker) {
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

void WorkerPool::WalkAgain(int siteKind) {
  Worker* worker = WorkerFor(siteKind);
  if (worker == nullptr) return;
  std::lock_guard<std::mutex> lock(m_workerMutex);
  if (worker->running.load()) worker->again = true;
}

void WorkerPool::Walk(int siteKind, StepContext& context) {
  Worker& worker = *WorkerFor(siteKind);
  std::optional<long long> lastPlace;
  while (!m_stopping.load()) {
    // In the order of the places; one moved before the walk's place is reached by the
    // walk that a move asks for.
    const std::optional<TaskRegistry::Entry> entry = m_engine.tasks.Next(lastPlace);
    if (!entry) return;
    lastPlace = entry->place;
    Task& task = *entry->task;
    if (task.GetSiteKind() != siteKind || task.Held()) continue;
    TakeTurn(worker, entry->taskNo, task, context);
    // Nothing worked ahead for this task outlives its turn.
    if (context.pageAhead) context.pageAhead->Drop();
    if (context.pictureAhead) context.pictureAhead->Drop();
    if (m_stopping.load() || (context.ban && context.ban->Left())) return;
  }
}

void WorkerPool::TakeTurn(Worker& worker, int taskNo, Task& task, StepContext& context) {
  // What a killed run left half written in the task's folder goes before it runs again.
  RemoveLeftoverPartFiles(std::filesystem::path(ToUtf8(task.GetFolder())));
  context.pictureProgress = [this, taskNo](std::uint64_t received, std::int64_t total) {
    m_engine.port.PostPictureProgress(taskNo, received, total);
  };
  QueueStore* store = m_engine.tasks.Store();
  const bool finishedBefore = task.GetState() == STATE_FINISHED;
  int result;
  do {
    worker.gate.Wait();
    // Nothing goes to a site that has banned the visitor.
    if (m_stopping.load() || (context.ban && context.ban->Left())) break;
    if (task.Held()) {
      // Held by itself: the others of its site go on.
      task.RestHeld();
      if (store) (void)store->SaveStep(taskNo, task);
      PublishHeld(worker, TaskChanged{taskNo, task.Snapshot()});
      break;
    }
    // A task deleted while this worker held it is left alone from then on.
    if (!m_engine.tasks.Holds(taskNo, &task)) break;
    // Taken: shown as downloading from now on, not only once its first step is over.
    TaskSnapshot taken = task.Snapshot();
    if (taken.status != TaskStatus::kFinished) {
      taken.status = TaskStatus::kDownloading;
      const bool shownAlready = [&] {
        std::lock_guard<std::mutex> lock(m_heldMutex);
        return worker.held && worker.held->no == taskNo &&
               worker.held->snapshot.status == TaskStatus::kDownloading;
      }();
      if (!shownAlready) PublishHeld(worker, TaskChanged{taskNo, std::move(taken)});
    }
    result = task.DownloadNext(context);
    // Saved before its row shows it; a task's end is written to its folder before too. A
    // task finished before whose step found nothing to do has nothing new to save.
    const bool unchanged = finishedBefore && result == 0 && task.GetState() == STATE_FINISHED;
    const bool saved = !store || unchanged || store->SaveStep(taskNo, task);
    if (result == 0 && !m_stopping.load()) m_links.finished(task, !finishedBefore);
    TaskSnapshot after = task.Snapshot();
    after.notSaved = !saved;
    // A task that waits at a closed gate is paused, whatever its last step said.
    if (result != 0 && after.status == TaskStatus::kDownloading && !worker.gate.IsSet())
      after.status = TaskStatus::kPaused;
    PublishHeld(worker, TaskChanged{taskNo, std::move(after)});
  } while (result != 0 && !m_stopping.load());
  std::lock_guard<std::mutex> lock(m_heldMutex);
  worker.held.reset();
}

void WorkerPool::PublishHeld(Worker& worker, TaskChanged shown) {
  std::lock_guard<std::mutex> lock(m_heldMutex);
  worker.held = shown;
  m_engine.port.Publish(std::move(shown));
}

std::optional<TaskStatus> WorkerPool::HeldInStep(int siteKind, int taskNo, bool held) {
  Worker* worker = WorkerFor(siteKind);
  if (worker == nullptr) return std::nullopt;
  std::optional<TaskStatus> status;
  {
    // What its worker last said of it says so too (a Pause that comes meanwhile shows it).
    std::lock_guard<std::mutex> lock(m_heldMutex);
    if (worker->held && worker->held->no == taskNo) {
      status = held ? TaskStatus::kPaused : TaskStatus::kDownloading;
      worker->held->snapshot.status = *status;
    }
  }
  if (!held) WalkAgain(siteKind);  // a walk that passed it over goes round once more
  return status;
}

void WorkerPool::StartWorker(int siteKind) {
  Worker* found = WorkerFor(siteKind);
  const SiteAdapter* site = m_engine.sites.OfKind(siteKind);
  if (found == nullptr || site == nullptr) return;
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
  // An ended worker is replaced: joining it is what closing its handle was. Only then is
  // it marked running: the ended thread's last act is to mark it idle.
  if (worker.thread.joinable()) worker.thread.join();
  {
    std::lock_guard<std::mutex> lock(m_workerMutex);
    worker.running.store(true);
  }
  std::function<void()> body = [this, siteKind] {
    DownloadThread(siteKind);
    m_engine.port.PostWorkerEnded(siteKind);  // the running flag is down by now
    EndRunIfIdle();
  };
  try {
    worker.thread = m_engine.settings.threadStarter
                        ? m_engine.settings.threadStarter(std::move(body))
                        : std::thread(std::move(body));
  } catch (const std::system_error&) {
    worker.thread = std::thread();
  }
  if (worker.thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_workerMutex);
    worker.running.store(false);
  }
  m_engine.port.ShowMessage(Message{MessageKind::kWorkerNotStarted, {site->Name()}});
}

void WorkerPool::OpenRun() {
  std::lock_guard<std::mutex> lock(m_workerMutex);
  m_runOpen = true;
}

void WorkerPool::EndRunIfIdle() {
  // A run cut short by closing has not ended; the add thread looks again once it is idle.
  if (m_stopping.load() || (m_links.addsPending && m_links.addsPending())) return;
  RunEnded ended;
  {
    // Counted under the lock Start takes: no worker can begin to change a task meanwhile.
    std::lock_guard<std::mutex> lock(m_workerMutex);
    if (!m_runOpen || AnyRunning()) return;
    m_runOpen = false;
    for (const int taskNo : m_engine.tasks.Numbers()) {
      const std::shared_ptr<Task> task = m_engine.tasks.Find(taskNo);
      if (!task) continue;
      const TaskStatus status = task->Snapshot().status;
      ++ended.tasks;
      ended.finished += status == TaskStatus::kFinished ? 1 : 0;
      ended.incomplete += status == TaskStatus::kIncomplete ? 1 : 0;
    }
  }
  m_engine.port.Publish(ended);
}

void WorkerPool::StartAll() {
  m_engine.session.HoldPacedRequests(false);
  for (auto& entry : m_workers) entry.second->gate.Set();
  if (m_stopping.load()) return;
  OpenRun();
  // Offered in the reverse order of the sites: EH first, as the window always did.
  for (auto it = m_engine.sites.All().rbegin(); it != m_engine.sites.All().rend(); ++it)
    if (!SayBanned((*it)->Kind())) StartWorker((*it)->Kind());
  EndRunIfIdle();  // when no worker could start
}

void WorkerPool::StartSite(int siteKind) {
  m_engine.session.HoldPacedRequests(false);
  if (Worker* worker = WorkerFor(siteKind)) worker->gate.Set();
  if (m_stopping.load()) return;
  OpenRun();
  if (!SayBanned(siteKind)) StartWorker(siteKind);
  EndRunIfIdle();  // when it could not start
}

void WorkerPool::Pause() {
  for (auto& entry : m_workers) entry.second->gate.Reset();
  // A request still waiting for its paced turn is not sent until Continue.
  m_engine.session.HoldPacedRequests(true);
  // The tasks held now show as paused at once, while their pictures in flight end; the
  // news goes behind what their workers said before.
  std::lock_guard<std::mutex> lock(m_heldMutex);
  for (auto& entry : m_workers) {
    Worker* worker = entry.second.get();
    if (!worker->held || worker->held->snapshot.status != TaskStatus::kDownloading) continue;
    worker->held->snapshot.status = TaskStatus::kPaused;
    m_engine.port.Post([this, shown = *worker->held] { m_engine.port.Publish(shown); });
  }
}

void WorkerPool::Continue() {
  m_engine.session.HoldPacedRequests(false);
  for (auto& entry : m_workers) entry.second->gate.Set();
}

void WorkerPool::Stop() {
  m_stopping.store(true);
  for (auto& entry : m_workers) entry.second->gate.Set();
}

void WorkerPool::Join() {
  for (auto& entry : m_workers)
    if (entry.second->thread.joinable()) entry.second->thread.join();
}

}  // namespace pageloom
