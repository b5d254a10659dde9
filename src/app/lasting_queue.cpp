// The lasting queue of a controller: opened (and locked against a second program) when
// the controller is made with a data folder, its tasks put back into their rows.
#include <filesystem>
#include <system_error>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "store/queue_store.h"

namespace pageloom {

namespace {

constexpr char16_t kQueueSetAside[] = u"任务队列文件已损坏，已另存为：";
constexpr char16_t kQueueUnavailable[] = u"无法打开任务队列文件，本次添加的任务不会被保存。";

}  // namespace

void TaskController::OpenQueue() {
  namespace fs = std::filesystem;
  const fs::path& folder = m_settings.dataFolder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  m_queueLock = InstanceLock::Acquire(folder / "lock");
  if (!m_queueLock) {
    // Another program (or another window of this one) has the queue: leave it alone.
    m_queueState = QueueState::kInUse;
    return;
  }
  QueueStore::OpenResult opened = QueueStore::Open(folder / "queue.sqlite");
  m_store = std::move(opened.store);
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
    const std::u16string text = kQueueSetAside + FromUtf8(opened.setAside.string());
    m_window.Post([this, text] { m_window.ShowMessage(text); });
  } else if (m_queueState == QueueState::kUnavailable) {
    m_window.Post([this] { m_window.ShowMessage(kQueueUnavailable); });
  }

  if (m_store) m_saveCbz.store(m_store->Setting("save_cbz") != 0);

  for (QueueStore::StoredTask& stored : opened.tasks) {
    const SiteAdapter* adapter = AdapterOfKind(static_cast<SiteKind>(stored.record.siteKind));
    if (adapter == nullptr) {
      DebugLine("queue: task " + std::to_string(stored.taskNo) + " of no known site, skipped");
      continue;
    }
    std::shared_ptr<Comic> task = adapter->NewTask();
    task->Restore(stored.record);
    RestoreTask(stored.taskNo, std::move(task), stored.shownFolder);
  }
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  m_nextTaskNo = std::max(m_nextTaskNo, opened.nextTaskNo);
}

void TaskController::RestoreTask(int taskNo, std::shared_ptr<Comic> task,
                                 std::u16string_view folderShown) {
  task->SetRow(m_window.RowCount());
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    m_tasks.emplace(taskNo, task);
    m_nextTaskNo = std::max(m_nextTaskNo, taskNo + 1);
  }
  AppendTaskRow(taskNo, *task, folderShown);
}

}  // namespace pageloom
