// The lasting queue of a controller: opened (and locked against a second program) when
// the controller is made with a data folder, its tasks put back into their rows.
#include <filesystem>
#include <system_error>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "store/queue_store.h"

namespace pageloom {

void TaskController::OpenQueue() {
  namespace fs = std::filesystem;
  const fs::path& folder = m_settings.dataFolder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  LockAttempt attempt;
  if (ec) {
    attempt.failure = LockAttempt::Failure::kUnusable;
    attempt.reason = ec.message();
  } else {
    attempt = InstanceLock::Take(folder / "lock");
  }
  if (attempt.failure == LockAttempt::Failure::kHeld) {
    // Another program (or another window of this one) has the queue: leave it alone.
    m_queueState = QueueState::kInUse;
    return;
  }
  if (attempt.failure == LockAttempt::Failure::kUnusable) {
    // Not another program: this one runs on, with nothing lasting (said once).
    m_queueState = QueueState::kUnavailable;
    const Message message{
        MessageKind::kDataFolderNotMade,
        {FromUtf8((ec ? folder : folder / "lock").string()), FromUtf8(attempt.reason)}};
    DebugLine(u"no data folder or lock: " + message.args[0] + u" (" + message.args[1] + u")");
    m_window.Post([this, message] { m_window.ShowMessage(message); });
    return;
  }
  m_queueLock = std::move(attempt.lock);
  QueueStore::OpenResult opened = QueueStore::Open(folder / "queue.sqlite");
  m_store = std::move(opened.store);
  if (m_store) {
    // Said once when saving begins to fail, and once when it works again.
    m_store->SetHealthListener([this](bool failing, const std::string& reason) {
      const Message message = failing ? Message{MessageKind::kQueueSaveFailing, {FromUtf8(reason)}}
                                      : Message{MessageKind::kQueueSavingAgain, {}};
      m_window.Post([this, message] { m_window.ShowMessage(message); });
    });
  }
  switch (opened.how) {
    case QueueStore::Opening::kOpened:
      m_queueState = QueueState::kOpened;
      break;
    case QueueStore::Opening::kSetAside:
      m_queueState = QueueState::kSetAside;
      break;
    case QueueStore::Opening::kUnavailable:
      m_queueState = QueueState::kUnavailable;
      break;
  }
  // Said once, when the window is up.
  if (m_queueState == QueueState::kSetAside) {
    const Message message{MessageKind::kQueueSetAside, {FromUtf8(opened.setAside.string())}};
    m_window.Post([this, message] { m_window.ShowMessage(message); });
  } else if (m_queueState == QueueState::kUnavailable) {
    m_window.Post([this] { m_window.ShowMessage(Message{MessageKind::kQueueUnavailable, {}}); });
  }

  if (m_store) m_saveCbz.store(m_store->Setting("save_cbz") != 0);

  for (QueueStore::StoredTask& stored : opened.tasks) {
    const SiteAdapter* adapter = AdapterNamed(stored.record.siteName);
    if (adapter == nullptr) {
      // Kept in the file for a program that knows the site.
      DebugLine("queue: task " + std::to_string(stored.taskNo) + " of no known site, skipped");
      continue;
    }
    std::shared_ptr<Task> task = adapter->NewTask();
    task->Restore(stored.record);
    task->SetSiteName(adapter->Name());
    RestoreTask(stored.taskNo, std::move(task), stored.shownFolder, stored.place);
  }
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  m_nextTaskNo = std::max(m_nextTaskNo, opened.nextTaskNo);
}

void TaskController::RestoreTask(int taskNo, std::shared_ptr<Task> task,
                                 std::u16string_view folderShown, long long place) {
  TaskAdded added{taskNo, std::u16string(folderShown), task->Snapshot()};
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    task->SetRow(static_cast<int>(m_tasks.size()));
    EnterLocked(taskNo, task, place);
    m_nextTaskNo = std::max(m_nextTaskNo, taskNo + 1);
  }
  m_window.Publish(std::move(added));
}

}  // namespace pageloom
