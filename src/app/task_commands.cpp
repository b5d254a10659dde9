// Commands on single tasks, from a row's menu: hold or let go of one task while its site's
// worker goes on with the others, retry its missing pictures, and clear the finished ones.
#include <iterator>
#include <utility>

#include "app/task_controller.h"
#include "store/queue_store.h"

namespace pageloom {

std::optional<TaskStatus> TaskController::HoldTask(int taskNo, bool held) {
  const std::shared_ptr<Task> task = FindTask(taskNo);
  if (!task) return std::nullopt;
  task->SetHeld(held);
  TaskStatus status = Task::StatusOf(task->GetState());
  const bool resting = status == TaskStatus::kPreparing || status == TaskStatus::kWaiting ||
                       status == TaskStatus::kDownloading;
  if (held && resting) status = TaskStatus::kPaused;
  Worker* worker = WorkerFor(task->GetSiteKind());
  if (worker == nullptr) return status;
  {
    // What its worker last said of it says so too (a Pause that comes meanwhile shows it).
    std::lock_guard<std::mutex> lock(m_heldMutex);
    if (worker->held && worker->held->no == taskNo) {
      status = held ? TaskStatus::kPaused : TaskStatus::kDownloading;
      worker->held->snapshot.status = status;
    }
  }
  if (!held) {
    // A walk that passed it over goes round once more.
    std::lock_guard<std::mutex> lock(m_workerMutex);
    if (worker->running.load()) worker->again = true;
  }
  return status;
}

bool TaskController::RetryMissing(int taskNo) {
  const std::shared_ptr<Task> task = FindTask(taskNo);
  if (!task || task->MissingCount() == 0) return false;
  task->SetHeld(false);
  StartSite(task->GetSiteKind());
  return true;
}

bool TaskController::MoveTask(int taskNo, Move move) {
  std::vector<std::pair<int, long long>> places;  // what changed
  int row = 0;
  int siteKind = 0;
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    const auto placed = m_placeOf.find(taskNo);
    if (placed == m_placeOf.end()) return false;
    const auto at = m_order.find(placed->second);
    if (move == Move::kDown) {
      const auto next = std::next(at);
      if (next == m_order.end()) return false;
      places = {{taskNo, next->first}, {next->second, at->first}};
    } else {
      if (at == m_order.begin()) return false;
      const auto before = std::prev(at);
      places = move == Move::kTop
                   ? std::vector<std::pair<int, long long>>{{taskNo, m_order.begin()->first - 1}}
                   : std::vector<std::pair<int, long long>>{{taskNo, before->first},
                                                            {before->second, at->first}};
    }
    for (const auto& entry : places) m_order.erase(m_placeOf.at(entry.first));
    for (const auto& [no, place] : places) {
      m_order[place] = no;
      m_placeOf[no] = place;
    }
    row = static_cast<int>(std::distance(m_order.begin(), m_order.find(m_placeOf.at(taskNo))));
    siteKind = m_tasks.at(taskNo)->GetSiteKind();
  }
  if (m_store) (void)m_store->SetPlaces(places);
  RenumberRows();
  m_window.Publish(TaskMoved{taskNo, row});
  // A walk that has passed the task's new place goes round once more.
  if (Worker* worker = WorkerFor(siteKind)) {
    std::lock_guard<std::mutex> lock(m_workerMutex);
    if (worker->running.load()) worker->again = true;
  }
  return true;
}

std::vector<int> TaskController::TaskOrder() const {
  std::lock_guard<std::mutex> lock(m_tasksMutex);
  std::vector<int> order;
  order.reserve(m_order.size());
  for (const auto& entry : m_order) order.push_back(entry.second);
  return order;
}

int TaskController::ClearFinished() {
  std::vector<int> finished;
  {
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    for (const auto& entry : m_tasks)
      if (entry.second->GetState() == STATE_FINISHED) finished.push_back(entry.first);
  }
  RemoveTasks(finished);
  RenumberRows();
  return static_cast<int>(finished.size());
}

}  // namespace pageloom
