// The engine: made by the program (window or terminal) before its front end, and handed
// to it. It owns the sites, the internet session its transfers share, the cancellation
// switch that ends them all, and its parts:
// - the task registry (numbers, order, lasting queue; task_registry.h),
// - the adding of addresses on the add thread (adder.h),
// - the worker pool, one worker per site with its pause gate (worker_pool.h),
// and it carries out the front ends' commands. It speaks to its front end through a
// WindowPort attached after it was made; what it says before then waits for the front end.
// Two engines in one process share nothing.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "app/adder.h"
#include "app/controller_settings.h"
#include "app/engine_shared.h"
#include "app/port_relay.h"
#include "app/task_registry.h"
#include "app/window_port.h"
#include "app/worker_pool.h"
#include "base/cancellation.h"
#include "engine/site_list.h"
#include "library/cbz_packer.h"
#include "net/cookie_store.h"
#include "net/session.h"

namespace pageloom {

class DownloadRecord;

class TaskController {
 public:
  // The session, the pause gates open, and, with a data folder, the lasting queue's tasks
  // back (published to the front end once it is attached), the record and the cookies.
  explicit TaskController(ControllerSettings settings = {});
  // The same, attached to `port` at once.
  TaskController(WindowPort& port, ControllerSettings settings = {});
  // Shutdown, then the tasks, the queue and the session are freed.
  ~TaskController();
  TaskController(const TaskController&) = delete;
  TaskController& operator=(const TaskController&) = delete;

  // The front end: it hears every event from now on, and what was said before. On its
  // thread. Detach once it goes (after Shutdown).
  void Attach(WindowPort& port) { m_port.Attach(port); }
  void Detach() { m_port.Detach(); }

  // Ends the add thread and the workers: opens the gates, cancels the transfers and script
  // evaluations in flight, and joins the threads. Idempotent. Never waits for the front end.
  void Shutdown();

  // --- the parts ---
  [[nodiscard]] TaskRegistry& Tasks() { return *m_tasks; }
  [[nodiscard]] const TaskRegistry& Tasks() const { return *m_tasks; }
  [[nodiscard]] Adder& Adding() { return *m_adder; }
  [[nodiscard]] const Adder& Adding() const { return *m_adder; }
  [[nodiscard]] WorkerPool& Workers() { return *m_workers; }
  [[nodiscard]] const WorkerPool& Workers() const { return *m_workers; }
  [[nodiscard]] const SiteList& Sites() const { return m_sites; }
  [[nodiscard]] Session& InternetSession() { return *m_session; }
  [[nodiscard]] const ControllerSettings& Settings() const { return m_settings; }
  [[nodiscard]] QueueState Queue() const { return m_tasks->State(); }
  // The record this engine keeps, or null (none asked for, or it could not be opened).
  [[nodiscard]] DownloadRecord* Record() const { return m_record.get(); }

  // --- the commands (the front end's thread) ---
  // Add: every line of `text` is an address of its own, read in order on the add thread
  // with `options` (save folder, renaming, following); see Adder::QueueLines.
  int AddAddresses(std::u16string_view text, const AddRequest& options);
  // Start opens the gates and starts the workers that are not running; Pause closes the
  // gates (the steps in flight end), Continue opens them.
  void Start();
  void Pause();
  void Continue();
  // Delete: removes the tasks of `selected` that may be removed now (see
  // TaskRegistry::Deletable), together; none selected is said. Returns those removed.
  std::vector<int> Delete(const std::vector<int>& selected);
  // "上移" / "下移" / "置顶": kept in the lasting queue. False when it cannot move.
  bool MoveTask(int taskNo, Move move);
  // "暂停此任务" / "继续此任务": holds task `taskNo` (its site's worker passes it over and
  // leaves it after the step in progress), or lets it go. Returns the status its row shows
  // now; nothing when there is no such task.
  std::optional<TaskStatus> HoldTask(int taskNo, bool held);
  // "重试缺失图片": lets the task go and starts its site's worker. False when it has none.
  bool RetryMissing(int taskNo);
  // "清除已完成": removes every finished task. Returns how many.
  int ClearFinished();
  // "打包为CBZ": packs the folder of task `taskNo`, which must be finished.
  [[nodiscard]] PackResult PackTask(int taskNo);

  // --- settings of the front end (any thread) ---
  // Whether a task that ends complete is packed as a CBZ ("保存为CBZ"); kept with the
  // lasting queue between runs.
  void SetSaveCbz(bool on);
  [[nodiscard]] bool SaveCbz() const { return m_saveCbz.load(); }
  // Whether ComicInfo.xml and info.json are written with the pictures (off until set).
  void SetWriteMetadata(bool on);
  [[nodiscard]] bool WriteMetadata() const { return m_writeMetadata.load(); }
  // The interval between two requests to one site: applied at once and, with a data
  // folder, kept for the next run (false when it could not be written). (pacing.cpp)
  bool SetPacing(Pacing pacing);
  [[nodiscard]] Pacing GetPacing() const { return m_session->GetPacing(); }

  // --- cookies (any thread, one operation at a time; cookies.cpp) ---
  // The file that keeps the session's cookies between runs: cookies.txt in the data
  // folder. Empty when the engine keeps nothing.
  [[nodiscard]] std::filesystem::path CookieFile() const;
  struct CookieImport {
    CookieFileReading reading;
    bool saved = true;  // false when the cookie file could not be written afterwards
  };
  // Adds the cookies of a cookies.txt (a browser's export) to the session, counting the
  // lines skipped; then writes the cookie file.
  [[nodiscard]] CookieImport ImportCookiesFrom(const std::filesystem::path& file);
  struct CookieClearing {
    bool cleared = false;
    bool saved = false;  // the emptied cookie file was written (or none is kept)
  };
  [[nodiscard]] CookieClearing ClearCookieStore();

 private:
  void LoadPacing();
  // When a task's turn on a worker has ended: the metadata files once it ran, the CBZ
  // once it is complete, the record's entry. (finishing.cpp)
  void FinishTask(const Task& task, bool ranNow);
  void LoadCookieFile();
  bool SaveCookieFile();
  bool SaveCookieFileLocked();  // with m_cookieMutex held

  const ControllerSettings m_settings;
  const SiteList m_sites;
  PortRelay m_port;
  Cancellation m_cancel;  // before the session, which refers to it
  std::unique_ptr<Session> m_session;
  std::unique_ptr<TaskRegistry> m_tasks;
  std::unique_ptr<EngineShared> m_shared;    // what the adder and the workers share
  std::unique_ptr<DownloadRecord> m_record;  // null: nothing is recorded
  std::unique_ptr<Adder> m_adder;
  std::unique_ptr<WorkerPool> m_workers;
  std::atomic<bool> m_saveCbz{false};
  std::atomic<bool> m_writeMetadata{false};  // the programs turn it on
  std::mutex m_cookieMutex;                  // one cookie file operation at a time (any thread)
  bool m_cookieFileWritable = true;  // false: it exists but could not be read, so it is kept
};

// The message that tells why a task's folder was not packed: kPackFailed with the archive,
// the refusal's number, the count of missing pictures and the detail as its arguments.
[[nodiscard]] Message PackFailedMessage(const PackResult& result);
// The refusal a kPackFailed message tells; kNone for any other message.
[[nodiscard]] PackRefusal RefusalOf(const Message& message);

// The worker procedures of the two sites under their own names.
void DownloadThreadEH(TaskController* controller);
void DownloadThreadDMZJ(TaskController* controller);

}  // namespace pageloom
