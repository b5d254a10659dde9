#include "store/queue_store.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <system_error>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/debug_line.h"
#include "base/fixed_text.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

constexpr int kNotAQueue = -1;   // a database, but not one of ours
constexpr int kNewerQueue = -2;  // a queue of a newer program: left alone

constexpr const char* kSchema = R"sql(
CREATE TABLE tasks (
  task_no INTEGER PRIMARY KEY,
  site TEXT NOT NULL,
  start_url TEXT NOT NULL,
  page_url TEXT NOT NULL,
  folder TEXT NOT NULL,
  shown_folder TEXT NOT NULL,
  rename_files INTEGER NOT NULL,
  state INTEGER NOT NULL,
  file_number INTEGER NOT NULL,
  picture_count INTEGER NOT NULL,
  walk_done INTEGER NOT NULL,
  list_version INTEGER NOT NULL,
  list_taken INTEGER NOT NULL,
  missing_version INTEGER NOT NULL,
  known_total INTEGER NOT NULL DEFAULT 0,
  place INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE pictures (
  task_no INTEGER NOT NULL REFERENCES tasks(task_no) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  url TEXT NOT NULL,
  PRIMARY KEY (task_no, position)
) WITHOUT ROWID;
CREATE TABLE missing (
  task_no INTEGER NOT NULL REFERENCES tasks(task_no) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  url TEXT NOT NULL,
  page TEXT NOT NULL,
  file_name TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT '',
  http_status INTEGER NOT NULL DEFAULT 0,
  content_type TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (task_no, position)
) WITHOUT ROWID;
CREATE TABLE counters (name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
INSERT INTO counters VALUES ('next_task_no', 0);
PRAGMA user_version = 5;
)sql";

// Steps from one schema version to the next: [0] takes version 1 to 2, [1] 2 to 3, ...
constexpr const char* kSchemaSteps[] = {
    "ALTER TABLE tasks ADD COLUMN known_total INTEGER NOT NULL DEFAULT 0;"
    "PRAGMA user_version = 2;",
    // The sites were kept as numbers, 1 and 2 for the two sites of that time; they are
    // named now, in place.
    "ALTER TABLE tasks RENAME COLUMN site TO site_number;"
    "ALTER TABLE tasks ADD COLUMN site TEXT NOT NULL DEFAULT '';"
    "UPDATE tasks SET site = CASE site_number WHEN 1 THEN 'EH' WHEN 2 THEN 'DMZJ' ELSE '' END;"
    "ALTER TABLE tasks DROP COLUMN site_number;"
    "PRAGMA user_version = 3;",
    // Why each picture is missing; the ones of before are of no known reason.
    "ALTER TABLE missing ADD COLUMN reason TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE missing ADD COLUMN http_status INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE missing ADD COLUMN content_type TEXT NOT NULL DEFAULT '';"
    "PRAGMA user_version = 4;",
    // The order in which the workers take the tasks, which the user may change: by number
    // until then.
    "ALTER TABLE tasks ADD COLUMN place INTEGER NOT NULL DEFAULT 0;"
    "UPDATE tasks SET place = task_no;"
    "PRAGMA user_version = 5;",
};

constexpr const char* kTaskColumns =
    "site, start_url, page_url, folder, shown_folder, rename_files, state, file_number, "
    "picture_count, walk_done, list_version, list_taken, missing_version, known_total";

int Clamp(long long value, int low, int high) {
  return static_cast<int>(value < low ? low : value > high ? high : value);
}

// Binds the task columns in the order of kTaskColumns, from `first` on.
void BindTask(SqliteStatement& s, int first, const TaskRecord& r, std::u16string_view shown) {
  s.Bind(first, ToUtf8(r.siteName))
      .Bind(first + 1, ToUtf8(r.startUrl))
      .Bind(first + 2, ToUtf8(r.pageUrl))
      .Bind(first + 3, ToUtf8(r.folder))
      .Bind(first + 4, ToUtf8(shown))
      .Bind(first + 5, r.renameFiles)
      .Bind(first + 6, r.state)
      .Bind(first + 7, r.fileNumber)
      .Bind(first + 8, r.pictureCount)
      .Bind(first + 9, r.walkDone ? 1 : 0)
      .Bind(first + 10, r.listVersion)
      .Bind(first + 11, r.listTaken)
      .Bind(first + 12, r.missingVersion)
      .Bind(first + 13, r.knownTotal);
}

// A name beside `file` for a damaged copy: "queue.sqlite.damaged-20261209-101500".
fs::path SetAsideName(const fs::path& file) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  fs::path aside = file.string() + ".damaged-" + stamp;
  std::error_code ec;
  for (int n = 2; fs::exists(aside, ec); ++n)
    aside = file.string() + ".damaged-" + stamp + "-" + std::to_string(n);
  return aside;
}

// Moves the file (and its journal files) aside. False when the file itself stays.
bool MoveAside(const fs::path& file, const fs::path& aside) {
  std::error_code ec;
  fs::rename(file, aside, ec);
  if (ec) return false;
  for (const char* suffix : {"-wal", "-shm"}) {
    std::error_code ignored;
    const fs::path journal = file.string() + suffix;
    if (fs::exists(journal, ignored)) fs::rename(journal, aside.string() + suffix, ignored);
  }
  return true;
}

}  // namespace

std::unique_ptr<SqliteDatabase> QueueStore::OpenChecked(const fs::path& file, int& error) {
  auto db = std::make_unique<SqliteDatabase>(file);
  const auto fail = [&](int code) -> std::unique_ptr<SqliteDatabase> {
    error = code;
    return nullptr;
  };
  if (!db->Ok()) return fail(db->ErrorCode());
  (void)db->Execute("PRAGMA busy_timeout = 2000");
  // The first read of the file: a file that is no database says so here. Nothing is
  // written before the file is known to be a queue this program understands.
  long long schema = 0;
  {
    SqliteStatement version = db->Prepare("PRAGMA user_version");
    if (!version || version.Step() != SQLITE_ROW) return fail(db->ErrorCode());
    schema = version.Integer(0);
  }  // no statement may be open while the journal mode changes
  if (schema > kSchemaVersion) return fail(kNewerQueue);
  if (schema < 0) return fail(kNotAQueue);
  if (!db->Execute("PRAGMA journal_mode = WAL")) return fail(db->ErrorCode());
  if (!db->Execute("PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON"))
    return fail(db->ErrorCode());
  if (schema == 0) {
    long long tables = 0;
    {
      SqliteStatement count = db->Prepare("SELECT count(*) FROM sqlite_master");
      if (count.Step() != SQLITE_ROW) return fail(db->ErrorCode());
      tables = count.Integer(0);
    }
    if (tables != 0) return fail(kNotAQueue);
    if (!db->Execute(std::string("BEGIN;") + kSchema + "COMMIT;")) return fail(db->ErrorCode());
  } else {
    // A queue of an earlier version is brought up to this one, a step at a time.
    for (long long v = schema; v < kSchemaVersion; ++v)
      if (!db->Execute(std::string("BEGIN;") + kSchemaSteps[v - 1] + "COMMIT;")) {
        const int code = db->ErrorCode();
        (void)db->Execute("ROLLBACK");
        return fail(code);
      }
  }
  SqliteStatement check = db->Prepare("PRAGMA quick_check");
  const int code = check.Step();
  if (code != SQLITE_ROW) return fail(db->ErrorCode());
  if (check.Text(0) != "ok") return fail(SQLITE_CORRUPT);
  return db;
}

// The queue lists every address: it and its journal files are the user's alone, also a
// file an earlier version made readable by all.
static void MakePrivate(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    (void)::fchmod(fd, 0600);
    ::close(fd);
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    const fs::path journal = file.string() + suffix;
    std::error_code ignored;
    if (fs::is_regular_file(fs::symlink_status(journal, ignored)))
      fs::permissions(journal, fs::perms::owner_read | fs::perms::owner_write, ignored);
  }
}

QueueStore::OpenResult QueueStore::Open(const fs::path& file) {
  OpenResult result;
  int error = SQLITE_OK;
  for (int attempt = 0; attempt < 2; ++attempt) {
    MakePrivate(file);  // SQLite gives the journal files the mode of the file
    std::unique_ptr<SqliteDatabase> db = OpenChecked(file, error);
    if (db) {
      std::unique_ptr<QueueStore> store(new QueueStore(std::move(db)));
      if (store->ReadAll(result.tasks, result.nextTaskNo, error)) {
        result.store = std::move(store);
        if (result.how != Opening::kSetAside) result.how = Opening::kOpened;
        return result;
      }
      result.tasks.clear();
    }
    DebugLine("queue " + file.string() + ": " + std::to_string(error));
    if (attempt > 0 || !(IsDamage(error) || error == kNotAQueue)) break;
    // Damaged: kept aside for whoever wants to look at it, and a new queue begun.
    const fs::path aside = SetAsideName(file);
    if (!MoveAside(file, aside)) break;
    result.how = Opening::kSetAside;
    result.setAside = aside;
  }
  result.how = Opening::kUnavailable;
  return result;
}

bool QueueStore::ReadAll(std::vector<StoredTask>& tasks, int& nextTaskNo, int& error) {
  // Put in order here: cheaper than the database's sorter, which copies each row.
  SqliteStatement rows =
      m_db->Prepare(std::string("SELECT task_no, ") + kTaskColumns + ", place FROM tasks");
  SqliteStatement count = m_db->Prepare("SELECT count(*) FROM tasks");
  if (count && count.Step() == SQLITE_ROW)
    tasks.reserve(static_cast<std::size_t>(Clamp(count.Integer(0), 0, 1 << 24)));
  // The lists of all tasks in one reading each, not one reading per task.
  SqliteStatement pictures =
      m_db->Prepare("SELECT task_no, position, url FROM pictures ORDER BY task_no, position");
  SqliteStatement missing = m_db->Prepare(
      "SELECT task_no, url, page, file_name, reason, http_status, content_type FROM missing "
      "ORDER BY task_no, position");
  SqliteStatement counter = m_db->Prepare("SELECT value FROM counters WHERE name = 'next_task_no'");
  if (!rows || !pictures || !missing || !counter) {
    error = m_db->ErrorCode();
    return false;
  }
  int highest = -1;
  int code;
  while ((code = rows.Step()) == SQLITE_ROW) {
    StoredTask task;
    task.taskNo = Clamp(rows.Integer(0), 0, INT_MAX - 1);
    TaskRecord& r = task.record;
    r.siteName = FromUtf8(rows.Text(1));
    r.startUrl = FromUtf8(rows.Text(2));
    r.pageUrl = FromUtf8(rows.Text(3));
    r.folder = FromUtf8(rows.Text(4));
    task.shownFolder = FromUtf8(rows.Text(5));
    r.renameFiles = Clamp(rows.Integer(6), INT_MIN, INT_MAX);
    r.state = Clamp(rows.Integer(7), STATE_PREPARING, STATE_INCOMPLETE);
    r.fileNumber = Clamp(rows.Integer(8), 0, INT_MAX);
    r.pictureCount = Clamp(rows.Integer(9), INT_MIN, INT_MAX);
    r.walkDone = rows.Integer(10) != 0;
    r.listVersion = Clamp(rows.Integer(11), 0, INT_MAX);
    r.listTaken = Clamp(rows.Integer(12), 0, INT_MAX);
    r.missingVersion = Clamp(rows.Integer(13), 0, INT_MAX);
    r.knownTotal = Clamp(rows.Integer(14), 0, INT_MAX);
    task.place = rows.Integer(15);
    m_written[task.taskNo] = Written{r.listVersion, r.missingVersion};
    highest = std::max(highest, task.taskNo);
    tasks.push_back(std::move(task));
  }
  std::sort(tasks.begin(), tasks.end(), [](const StoredTask& a, const StoredTask& b) {
    return a.place != b.place ? a.place < b.place : a.taskNo < b.taskNo;
  });
  std::unordered_map<long long, std::size_t> index;  // task number -> place in `tasks`
  index.reserve(tasks.size());
  for (std::size_t at = 0; at < tasks.size(); ++at) index.emplace(tasks[at].taskNo, at);
  const auto taskOf = [&](long long taskNo) -> TaskRecord* {
    const auto found = index.find(taskNo);
    return found == index.end() ? nullptr : &tasks[found->second].record;
  };
  if (code == SQLITE_DONE) {
    while ((code = pictures.Step()) == SQLITE_ROW) {
      TaskRecord* r = taskOf(pictures.Integer(0));
      if (r != nullptr && pictures.Integer(1) >= r->listTaken)
        r->pictureUrls.push_back(FromUtf8(pictures.Text(2)));
    }
  }
  if (code == SQLITE_DONE) {
    while ((code = missing.Step()) == SQLITE_ROW)
      if (TaskRecord* r = taskOf(missing.Integer(0)))
        r->missing.push_back({FromUtf8(missing.Text(1)), FromUtf8(missing.Text(2)),
                              FromUtf8(missing.Text(3)),
                              FailureReason{FailureKindOfKey(missing.Text(4)),
                                            Clamp(missing.Integer(5), 0, 999), missing.Text(6)}});
  }
  if (code != SQLITE_DONE) {
    error = m_db->ErrorCode();
    return false;
  }
  nextTaskNo = counter.Step() == SQLITE_ROW ? Clamp(counter.Integer(0), 0, INT_MAX - 1) : 0;
  if (nextTaskNo <= highest) nextTaskNo = highest + 1;
  return true;
}

bool QueueStore::WriteTask(int taskNo, const TaskRecord& record, bool withList, bool withMissing) {
  if (withList) {
    SqliteStatement clear = m_db->Prepare("DELETE FROM pictures WHERE task_no = ?1");
    if (!clear.Bind(1, taskNo).Run()) return false;
    SqliteStatement add = m_db->Prepare("INSERT INTO pictures VALUES (?1, ?2, ?3)");
    long long position = record.listTaken;
    for (const std::u16string& url : record.pictureUrls) {
      add.Reset();
      if (!add.Bind(1, taskNo).Bind(2, position++).Bind(3, ToUtf8(url)).Run()) return false;
    }
  }
  if (withMissing) {
    SqliteStatement clear = m_db->Prepare("DELETE FROM missing WHERE task_no = ?1");
    if (!clear.Bind(1, taskNo).Run()) return false;
    SqliteStatement add =
        m_db->Prepare("INSERT INTO missing VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    long long position = 0;
    for (const MissingPicture& picture : record.missing) {
      add.Reset();
      add.Bind(1, taskNo).Bind(2, position++).Bind(3, ToUtf8(picture.url));
      add.Bind(4, ToUtf8(picture.page)).Bind(5, ToUtf8(picture.fileName));
      const FailureReason& reason = picture.reason;
      add.Bind(6, reason.kind == FailureKind::kUnknown ? "" : FailureKindKey(reason.kind));
      add.Bind(7, static_cast<long long>(reason.httpStatus)).Bind(8, reason.contentType);
      if (!add.Run()) return false;
    }
  }
  return true;
}

bool QueueStore::Insert(int taskNo, const Task& task, std::u16string_view shownFolder,
                        int nextTaskNo) {
  std::lock_guard<std::mutex> lock(m_mutex);
  RetryRemovals();
  if (InsertLocked(taskNo, task, shownFolder, nextTaskNo)) return Saved(true);
  m_unregistered[taskNo] = Unregistered{std::u16string(shownFolder), nextTaskNo};
  return Saved(false);
}

bool QueueStore::InsertLocked(int taskNo, const Task& task, std::u16string_view shownFolder,
                              int nextTaskNo) {
  const TaskRecord record = task.Record(true);
  const bool own = !m_inBatch;
  if (own && !m_db->Execute("BEGIN IMMEDIATE")) {
    m_lastError = m_db->ErrorText();
    return false;
  }
  SqliteStatement insert =
      m_db->Prepare(std::string("INSERT OR REPLACE INTO tasks (task_no, ") + kTaskColumns +
                    ", place) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                    "?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?1)");
  insert.Bind(1, taskNo);
  BindTask(insert, 2, record, shownFolder);
  SqliteStatement counter =
      m_db->Prepare("UPDATE counters SET value = max(value, ?1) WHERE name = 'next_task_no'");
  const bool ok = insert.Run() && WriteTask(taskNo, record, true, true) &&
                  counter.Bind(1, nextTaskNo).Run() && (!own || m_db->Execute("COMMIT"));
  if (!ok) {
    Failed(own, "task " + std::to_string(taskNo));
    return false;
  }
  m_written[taskNo] = Written{record.listVersion, record.missingVersion};
  m_unregistered.erase(taskNo);
  return true;
}

bool QueueStore::SaveStep(int taskNo, const Task& task) {
  std::lock_guard<std::mutex> lock(m_mutex);
  RetryRemovals();
  if (const auto unregistered = m_unregistered.find(taskNo); unregistered != m_unregistered.end()) {
    // Its registration failed: the whole task is saved now.
    const Unregistered pending = unregistered->second;
    return Saved(InsertLocked(taskNo, task, pending.shownFolder, pending.nextTaskNo));
  }
  const auto written = m_written.find(taskNo);
  if (written == m_written.end()) return false;  // removed
  // What a failed save left unwritten is written now: the versions saved last count.
  const bool withList = written->second.listVersion != task.ListVersion();
  const bool withMissing = written->second.missingVersion != task.MissingVersion();
  const TaskRecord record = task.Record(withList);
  // Inside a batch (a Delete of many rows) the step joins the batch's transaction.
  const bool own = !m_inBatch;
  if (own && !m_db->Execute("BEGIN IMMEDIATE")) {
    m_lastError = m_db->ErrorText();
    return Saved(false);
  }
  SqliteStatement update = m_db->Prepare(
      "UPDATE tasks SET page_url = ?2, folder = ?3, state = ?4, file_number = ?5, "
      "picture_count = ?6, walk_done = ?7, list_version = ?8, list_taken = ?9, "
      "missing_version = ?10 WHERE task_no = ?1");
  update.Bind(1, taskNo).Bind(2, ToUtf8(record.pageUrl)).Bind(3, ToUtf8(record.folder));
  update.Bind(4, record.state).Bind(5, record.fileNumber).Bind(6, record.pictureCount);
  update.Bind(7, record.walkDone ? 1 : 0).Bind(8, record.listVersion).Bind(9, record.listTaken);
  update.Bind(10, record.missingVersion);
  bool ok = update.Run() && m_db->Changes() == 1;
  ok = ok && WriteTask(taskNo, record, withList, withMissing) && (!own || m_db->Execute("COMMIT"));
  if (ok) {
    written->second = Written{record.listVersion, record.missingVersion};
  } else {
    Failed(own, "step of task " + std::to_string(taskNo));
  }
  return Saved(ok);
}

void QueueStore::SetHealthListener(HealthListener listener) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_healthListener = std::move(listener);
}

bool QueueStore::Saved(bool ok) {
  if (ok == !m_failing) return ok;
  m_failing = !ok;
  // While saving fails (a lock held elsewhere), a step waits briefly instead of 2 s.
  sqlite3_busy_timeout(m_db->Handle(), m_failing ? 100 : 2000);
  if (m_healthListener) m_healthListener(m_failing, m_failing ? m_lastError : std::string());
  return ok;
}

void QueueStore::Failed(bool ownTransaction, const std::string& what) {
  m_lastError = m_db->ErrorText();  // before the rollback says something else
  if (ownTransaction) (void)m_db->Execute("ROLLBACK");
  DebugLine("queue: " + what + " not saved: " + m_lastError);
}

bool QueueStore::SetPlaces(const std::vector<std::pair<int, long long>>& places) {
  if (places.empty()) return true;
  const Batch batch(this);
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement update = m_db->Prepare("UPDATE tasks SET place = ?2 WHERE task_no = ?1");
  bool ok = static_cast<bool>(update);
  for (const auto& [taskNo, place] : places) {
    if (!ok) break;
    update.Reset();
    ok = update.Bind(1, taskNo).Bind(2, place).Run();
  }
  if (!ok) m_lastError = m_db->ErrorText();
  return ok ? m_inBatch || Saved(true) : Saved(false);
}

long long QueueStore::Setting(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement read = m_db->Prepare("SELECT value FROM counters WHERE name = ?1");
  read.Bind(1, "setting:" + name);
  return read.Step() == SQLITE_ROW ? read.Integer(0) : 0;
}

bool QueueStore::SetSetting(const std::string& name, long long value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement write = m_db->Prepare("INSERT OR REPLACE INTO counters VALUES (?1, ?2)");
  return write.Bind(1, "setting:" + name).Bind(2, value).Run();
}

}  // namespace pageloom
