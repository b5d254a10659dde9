// The engine's making and ending: its parts made in order, and taken down in reverse.
#include "app/task_controller.h"

#include "app/recording.h"
#include "store/download_record.h"
#include "store/queue_store.h"

namespace pageloom {

TaskController::TaskController(ControllerSettings settings)
    : m_settings(std::move(settings)),
      m_sites(m_settings.registry(m_settings.sites)),
      // A session that cannot be made stays invalid: its downloads then stop at once.
      m_session(std::make_unique<Session>(m_cancel, m_settings.timeouts)),
      m_tasks(std::make_unique<TaskRegistry>(m_port, m_sites)) {
  if (!m_settings.userAgent.empty()) m_session->SetUserAgent(m_settings.userAgent);
  LoadPacing();
  if (!m_settings.dataFolder.empty()) m_tasks->Open(m_settings.dataFolder);
  if (QueueStore* store = m_tasks->Store()) m_saveCbz.store(store->Setting("save_cbz") != 0);
  const QueueState queue = m_tasks->State();
  m_record = OpenRecord(m_settings, queue == QueueState::kOpened || queue == QueueState::kSetAside,
                        m_port);
  m_shared = std::make_unique<EngineShared>(
      EngineShared{m_settings, m_sites, *m_session, m_cancel, m_port, *m_tasks});
  m_adder =
      std::make_unique<Adder>(*m_shared, m_record.get(), [this] { m_workers->EndRunIfIdle(); });
  m_workers = std::make_unique<WorkerPool>(
      *m_shared,
      WorkerPool::Links{[this](const Task& task, bool ranNow) { FinishTask(task, ranNow); },
                        [this] { return m_adder->Pending(); }});
  LoadCookieFile();
}

TaskController::TaskController(WindowPort& port, ControllerSettings settings)
    : TaskController(std::move(settings)) {
  Attach(port);
}

TaskController::~TaskController() {
  Shutdown();
  SaveCookieFile();
  m_workers.reset();
  m_adder.reset();
  m_tasks->Close();  // no step can save any more: the threads are joined
  m_record.reset();
  m_tasks.reset();
  m_session.reset();  // every transfer has ended
}

void TaskController::Shutdown() {
  m_adder->Stop();
  m_workers->Stop();
  // The step and the page reading in flight end; a partial picture file goes with them.
  m_cancel.Cancel();
  m_adder->Join();
  m_workers->Join();
}

void DownloadThreadEH(TaskController* controller) { controller->Workers().DownloadThread(SITE_EH); }

void DownloadThreadDMZJ(TaskController* controller) {
  controller->Workers().DownloadThread(SITE_DMZJ);
}

}  // namespace pageloom
