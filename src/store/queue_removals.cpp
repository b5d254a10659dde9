// Taking tasks out of the lasting queue: one at a time, many in one transaction, and the
// batches that gather removals into one.
#include <mutex>
#include <string>
#include <vector>

#include "store/queue_store.h"
#include "store/sqlite_db.h"

namespace pageloom {

void QueueStore::RetryRemovals() {
  // The lists by hand too: the keys may be off for a removal of many.
  for (auto it = m_unremoved.begin(); it != m_unremoved.end();) {
    for (const char* table : {"pictures", "missing", "tasks"}) {
      SqliteStatement remove =
          m_db->Prepare(std::string("DELETE FROM ") + table + " WHERE task_no = ?1");
      if (!remove.Bind(1, *it).Run()) return;
    }
    it = m_unremoved.erase(it);
  }
}

bool QueueStore::Remove(int taskNo) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_written.erase(taskNo);
  m_unregistered.erase(taskNo);
  SqliteStatement remove = m_db->Prepare("DELETE FROM tasks WHERE task_no = ?1");
  if (remove.Bind(1, taskNo).Run()) {
    if (m_inBatch) m_batchRemoved.push_back(taskNo);
    return m_inBatch || Saved(true);
  }
  m_lastError = m_db->ErrorText();
  m_unremoved.insert(taskNo);  // removed with the next save that works
  return Saved(false);
}

bool QueueStore::Remove(const std::vector<int>& taskNos) {
  if (taskNos.empty()) return true;
  std::lock_guard<std::mutex> lock(m_mutex);
  // One transaction, unless a batch is open already. A cascade per task costs several
  // times the removal itself: a removal of its own takes the lists out by hand with the
  // keys off (they cannot change inside a transaction; in an open batch they stay on).
  const bool own = !m_inBatch;
  if (own) {
    (void)m_db->Execute("PRAGMA foreign_keys = OFF");
    m_inBatch = m_db->Execute("BEGIN IMMEDIATE");
  }
  const bool ok = RemoveLocked(taskNos);
  const bool result = ok ? m_inBatch || Saved(true) : Saved(false);
  if (own) {
    EndBatchLocked();
    (void)m_db->Execute("PRAGMA foreign_keys = ON");
  }
  return result;
}

bool QueueStore::RemoveLocked(const std::vector<int>& taskNos) {
  SqliteStatement removals[] = {m_db->Prepare("DELETE FROM pictures WHERE task_no = ?1"),
                                m_db->Prepare("DELETE FROM missing WHERE task_no = ?1"),
                                m_db->Prepare("DELETE FROM tasks WHERE task_no = ?1")};
  bool ok = true;
  for (const int taskNo : taskNos) {
    m_written.erase(taskNo);
    m_unregistered.erase(taskNo);
    for (SqliteStatement& remove : removals) {
      if (!ok) break;
      remove.Reset();
      ok = remove.Bind(1, taskNo).Run();
      if (!ok) m_lastError = m_db->ErrorText();
    }
    if (ok) {
      if (m_inBatch) m_batchRemoved.push_back(taskNo);
      continue;
    }
    m_unremoved.insert(taskNo);  // removed with the next save that works
  }
  return ok;
}

QueueStore::Batch::Batch(QueueStore* store) : m_store(store) {
  if (m_store == nullptr) return;
  std::lock_guard<std::mutex> lock(m_store->m_mutex);
  if (m_store->m_inBatch) return;
  m_owns = true;
  m_store->m_inBatch = m_store->m_db->Execute("BEGIN IMMEDIATE");
}

QueueStore::Batch::~Batch() {
  if (m_store == nullptr || !m_owns) return;
  std::lock_guard<std::mutex> lock(m_store->m_mutex);
  m_store->EndBatchLocked();
}

void QueueStore::EndBatchLocked() {
  if (m_inBatch) {
    const bool committed = m_db->Execute("COMMIT");
    if (!committed) {
      Failed(true, "removal of tasks");
      // Removed with the next save that works.
      m_unremoved.insert(m_batchRemoved.begin(), m_batchRemoved.end());
    }
    (void)Saved(committed);
  }
  m_batchRemoved.clear();
  m_inBatch = false;
}

}  // namespace pageloom
