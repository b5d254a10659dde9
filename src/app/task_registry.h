// The tasks of an engine: their numbers, the order in which the workers take them (and the
// rows show them), and the lasting queue that keeps them between runs. Every change is
// published to the front end as a typed event. Registration, removal and moves run on the
// front end's thread; workers look tasks up from theirs.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "app/window_port.h"
#include "engine/site_list.h"
#include "engine/task.h"
#include "store/instance_lock.h"

namespace pageloom {

class QueueStore;

// What became of the lasting queue when the engine was made.
enum class QueueState {
  kNone,         // no data folder: nothing lasts (tests)
  kOpened,       // the queue was read; its tasks are in the table
  kSetAside,     // the file was damaged: kept aside, an empty queue begun (said once)
  kUnavailable,  // no queue could be opened: this run's tasks will not last (said once)
  kInUse,        // another program holds the queue: this one should not run
};

// "上移" / "下移" / "置顶".
enum class Move { kUp, kDown, kTop };

class TaskRegistry {
 public:
  TaskRegistry(WindowPort& port, const SiteList& sites);
  ~TaskRegistry();
  TaskRegistry(const TaskRegistry&) = delete;
  TaskRegistry& operator=(const TaskRegistry&) = delete;

  // Takes the lock of `dataFolder` and reads its queue: the tasks come back in their order
  // (TaskAdded each). A queue that cannot be had is said once.
  void Open(const std::filesystem::path& dataFolder);
  [[nodiscard]] QueueState State() const { return m_state; }
  // The queue, or null when nothing lasts. Saving a step is the worker's.
  [[nodiscard]] QueueStore* Store() const { return m_store.get(); }
  // Whether this engine holds the data folder's lock.
  [[nodiscard]] bool HoldsDataFolder() const { return m_lock.has_value(); }

  // Registers a filled-in task: number, place at the end, the queue, and TaskAdded with
  // `folderShown` and its snapshot. Returns the task number.
  int Register(std::shared_ptr<Task> task, std::u16string_view folderShown);
  // Removes one task, or several together (one transaction, one TasksRemoved).
  void Remove(int taskNo);
  void Remove(const std::vector<int>& taskNos);
  // Of the tasks `selected`, those Delete removes: all when no worker runs; while one
  // runs, those finished, unfinished or preparing (and numbers of no task). In order.
  [[nodiscard]] std::vector<int> Deletable(const std::vector<int>& selected, bool workerRuns) const;
  // Sets every task's row to its position in the order.
  void RenumberRows();
  // Moves task `taskNo` in the order, kept in the queue; TaskMoved. The site of the task
  // moved, or nothing when it cannot move.
  std::optional<int> MoveTask(int taskNo, Move move);

  [[nodiscard]] std::shared_ptr<Task> Find(int taskNo) const;
  // The task numbers, ascending; in the order of the walks.
  [[nodiscard]] std::vector<int> Numbers() const;
  [[nodiscard]] std::vector<int> Order() const;
  [[nodiscard]] std::vector<int> Finished() const;

  // The walks: the task after `place` in the order (the first with none).
  struct Entry {
    long long place = 0;
    int taskNo = 0;
    std::shared_ptr<Task> task;
  };
  [[nodiscard]] std::optional<Entry> Next(std::optional<long long> place) const;
  // Whether `task` is still registered as `taskNo` (a deleted one is left alone).
  [[nodiscard]] bool Holds(int taskNo, const Task* task) const;

  // Frees every task and then the queue (once no thread steps a task any more).
  void Close();

 private:
  void Restore(int taskNo, std::shared_ptr<Task> task, std::u16string_view folderShown,
               long long place);
  // Enters a task into m_tasks and the order; with m_mutex held.
  void EnterLocked(int taskNo, std::shared_ptr<Task> task, long long place);
  // Takes a task out of m_tasks and the order; with m_mutex held. Returns it (or null).
  std::shared_ptr<Task> TakeOutLocked(int taskNo);
  void SayLater(const Message& message);

  WindowPort& m_port;
  const SiteList& m_sites;
  std::optional<InstanceLock> m_lock;   // held while the queue is open
  std::unique_ptr<QueueStore> m_store;  // null: nothing lasts
  QueueState m_state = QueueState::kNone;
  mutable std::mutex m_mutex;  // guards the tasks, the order and m_nextTaskNo
  std::map<int, std::shared_ptr<Task>> m_tasks;
  std::map<long long, int> m_order;    // place -> task number
  std::map<int, long long> m_placeOf;  // task number -> place
  int m_nextTaskNo = 0;
};

}  // namespace pageloom
