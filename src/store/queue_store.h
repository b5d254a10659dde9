// The lasting queue: every task of a window in an SQLite file (WAL journal), each step's
// result committed before its row shows it, so that a crash or a power cut loses at most
// the picture in flight. The schema carries a version number (PRAGMA user_version).
//
// Thread-safe: the window thread registers and removes tasks while the workers save
// their steps.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/task.h"
#include "store/sqlite_db.h"

namespace pageloom {

class QueueStore {
 public:
  static constexpr int kSchemaVersion = 5;

  struct StoredTask {
    int taskNo = 0;
    TaskRecord record;
    std::u16string shownFolder;  // what the row's folder column shows
    long long place = 0;         // where the workers take it: the queue is in this order
  };

  enum class Opening {
    kOpened,      // the file was read (or made new)
    kSetAside,    // the file was damaged: it was renamed aside and a new one made
    kUnavailable  // no queue could be opened: nothing will last
  };
  struct OpenResult {
    std::unique_ptr<QueueStore> store;  // null when kUnavailable
    Opening how = Opening::kUnavailable;
    std::filesystem::path setAside;  // where a damaged file went
    std::vector<StoredTask> tasks;   // the queue as it was, in the order of its places
    int nextTaskNo = 0;
  };

  // Opens `file` (making it, with its schema, when missing) and reads the queue.
  [[nodiscard]] static OpenResult Open(const std::filesystem::path& file);

  // Registers a new task and the number the next one gets. A task whose registration
  // failed is registered by its next SaveStep.
  bool Insert(int taskNo, const Task& task, std::u16string_view shownFolder, int nextTaskNo);
  // Saves where a task stands after a step; its picture list and missing pictures only
  // when they changed since they were last saved. Nothing happens for a task that has
  // been removed.
  bool SaveStep(int taskNo, const Task& task);
  bool Remove(int taskNo);
  // Removes every task of `taskNos` in one transaction (inside a Batch: the batch's).
  bool Remove(const std::vector<int>& taskNos);
  // Where tasks stand in the order in which the workers take them (a new task's place is
  // its number), in one transaction.
  bool SetPlaces(const std::vector<std::pair<int, long long>>& places);
  // A setting kept with the queue (0 when it was never set), and its change.
  [[nodiscard]] long long Setting(const std::string& name);
  bool SetSetting(const std::string& name, long long value);

  // Told (under the store's lock, on the thread that saved) each time saving begins to
  // fail, with the database's reason, and each time it works again, with an empty one.
  using HealthListener = std::function<void(bool failing, const std::string& reason)>;
  void SetHealthListener(HealthListener listener);

  // Removals made while a Batch lives are committed together when it goes (one flush for
  // a Delete of many rows instead of one each). A Batch made while one is open joins it.
  class Batch {
   public:
    explicit Batch(QueueStore* store);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    QueueStore* m_store;
    bool m_owns = false;  // false inside a batch that is open already
  };

 private:
  explicit QueueStore(std::unique_ptr<SqliteDatabase> db) : m_db(std::move(db)) {}
  // Opens and checks the file; false (with the database's error code) when it is damaged.
  static std::unique_ptr<SqliteDatabase> OpenChecked(const std::filesystem::path& file, int& error);
  [[nodiscard]] bool ReadAll(std::vector<StoredTask>& tasks, int& nextTaskNo, int& error);
  [[nodiscard]] bool WriteTask(int taskNo, const TaskRecord& record, bool withList,
                               bool withMissing);
  [[nodiscard]] bool InsertLocked(int taskNo, const Task& task, std::u16string_view shownFolder,
                                  int nextTaskNo);
  // Notes whether a save worked, telling the listener when that changes.
  bool Saved(bool ok);
  // Keeps the reason of a failed write and rolls back the transaction it began.
  void Failed(bool ownTransaction, const std::string& what);
  // Removes the tasks and their lists inside the transaction open; false when one failed
  // (it and those after it are kept for the next save that works).
  [[nodiscard]] bool RemoveLocked(const std::vector<int>& taskNos);
  // Commits the batch open (rolling it back when that fails).
  void EndBatchLocked();
  // Removals that failed, tried again.
  void RetryRemovals();

  struct Written {
    int listVersion = -1;
    int missingVersion = -1;
  };

  mutable std::mutex m_mutex;
  std::unique_ptr<SqliteDatabase> m_db;
  std::map<int, Written> m_written;  // what of each task's lists the file holds
  struct Unregistered {
    std::u16string shownFolder;
    int nextTaskNo = 0;
  };
  std::map<int, Unregistered> m_unregistered;  // tasks whose Insert failed
  std::set<int> m_unremoved;                   // tasks whose Remove failed
  std::vector<int> m_batchRemoved;             // removed in the batch that is open
  bool m_inBatch = false;
  bool m_failing = false;
  std::string m_lastError;
  HealthListener m_healthListener;
};

}  // namespace pageloom
