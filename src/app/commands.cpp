// The commands of the front ends: Add, Start, Pause, Continue and Delete of the window's
// buttons, and those of a task row's menu (hold or let go of one task, retry its missing
// pictures, move it, clear the finished ones). All run on the front end's thread.
#include <utility>

#include "app/task_controller.h"

namespace pageloom {

int TaskController::AddAddresses(std::u16string_view text, const AddRequest& options) {
  return m_adder->QueueLines(text, options);
}

void TaskController::Start() { m_workers->StartAll(); }

void TaskController::Pause() { m_workers->Pause(); }

void TaskController::Continue() { m_workers->Continue(); }

std::vector<int> TaskController::Delete(const std::vector<int>& selected) {
  if (selected.empty()) {
    m_port.ShowMessage(Message{MessageKind::kSelectRows, {}});
    return {};
  }
  // Decided once: the answer holds for the whole command. The rows removed go together,
  // to the table and to disk.
  std::vector<int> removed = m_tasks->Deletable(selected, m_workers->AnyRunning());
  m_tasks->Remove(removed);
  m_tasks->RenumberRows();
  return removed;
}

bool TaskController::MoveTask(int taskNo, Move move) {
  const std::optional<int> site = m_tasks->MoveTask(taskNo, move);
  if (!site) return false;
  // A walk that has passed the task's new place goes round once more.
  m_workers->WalkAgain(*site);
  return true;
}

std::optional<TaskStatus> TaskController::HoldTask(int taskNo, bool held) {
  const std::shared_ptr<Task> task = m_tasks->Find(taskNo);
  if (!task) return std::nullopt;
  task->SetHeld(held);
  TaskStatus status = Task::StatusOf(task->GetState());
  const bool resting = status == TaskStatus::kPreparing || status == TaskStatus::kWaiting ||
                       status == TaskStatus::kDownloading;
  if (held && resting) status = TaskStatus::kPaused;
  return m_workers->HeldInStep(task->GetSiteKind(), taskNo, held).value_or(status);
}

bool TaskController::RetryMissing(int taskNo) {
  const std::shared_ptr<Task> task = m_tasks->Find(taskNo);
  if (!task || task->MissingCount() == 0) return false;
  task->SetHeld(false);
  m_workers->StartSite(task->GetSiteKind());
  return true;
}

int TaskController::ClearFinished() {
  const std::vector<int> finished = m_tasks->Finished();
  m_tasks->Remove(finished);
  m_tasks->RenumberRows();
  return static_cast<int>(finished.size());
}

}  // namespace pageloom
