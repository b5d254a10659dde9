// The logic behind the main window: the task map, the commands, the two workers, and the
// thread that reads the pages of added addresses. The window reaches it through the
// command handlers; it reaches the window through WindowPort. Commands and registration
// run on the window thread; pages are read on the add thread and the workers.
//
// The controller owns its state: the settings it was made with (sites, time limits), the
// internet session its transfers share, and the cancellation switch that ends them all
// (Shutdown). Two controllers in one process share nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/controller_settings.h"
#include "app/window_port.h"
#include "base/cancellation.h"
#include "base/manual_reset_event.h"
#include "engine/ban_clock.h"
#include "engine/site_adapter.h"
#include "engine/task.h"
#include "library/cbz_packer.h"
#include "net/cookie_store.h"
#include "net/page_buffer.h"
#include "net/session.h"
#include "store/instance_lock.h"

namespace pageloom {

// One address to add, with the options of the moment it was asked for.
struct AddRequest {
  // A check of the followed comics instead of an address (`force`: also those checked a
  // moment ago).
  enum class Kind { kAddress, kUpdateCheck };
  Kind kind = Kind::kAddress;
  bool force = false;
  std::u16string address;     // at most kUrlCapacity - 1 units
  std::u16string saveFolder;  // the save-folder box
  bool autoRename = true;
  bool followNext = false;
};

class QueueStore;
class DownloadRecord;
struct FollowedComic;

// What became of the lasting queue when the controller was made.
enum class QueueState {
  kNone,         // no data folder: nothing lasts (tests)
  kOpened,       // the queue was read; its tasks are in the table
  kSetAside,     // the file was damaged: kept aside, an empty queue begun (said once)
  kUnavailable,  // no queue could be opened: this run's tasks will not last (said once)
  kInUse,        // another program holds the queue: this one should not run
};

class TaskController {
 public:
  // Does what the dialog's start-up does for the logic: the internet session, the pause
  // gate open, and the task map: empty with numbers from 0, or, with a data folder, the
  // lasting queue's tasks back in their rows (a queue that cannot be had is said once).
  explicit TaskController(WindowPort& window, ControllerSettings settings = {});
  // Stops the add thread and the workers (Shutdown), then frees the tasks, the queue and
  // the session.
  ~TaskController();
  TaskController(const TaskController&) = delete;
  TaskController& operator=(const TaskController&) = delete;

  // The save folder the window shows at start-up: $HOME/comic.
  static std::u16string DefaultSaveFolder();

  // --- commands (window thread) ---
  // Add checks the address, clears the box and queues the address; its pages are read on
  // the add thread, and its tasks' rows appear as each page has been read.
  // Every line of the box is an address of its own, added in order.
  void OnBnClickedAdd();
  void OnBnClickedBrowse();
  void OnBnClickedStart();
  void OnBnClickedPause();
  void OnBnClickedContinue();
  void OnBnClickedDelete();
  void OnBnClickedOption();

  // Ends the add thread and both workers: opens the gate, cancels the transfers and
  // script evaluations in flight, and joins the threads. Idempotent. Nothing here waits
  // for the window thread.
  void Shutdown();

  // --- adding ---
  // The adapter that takes `address` (DMZJ first, then EH), or null.
  [[nodiscard]] const SiteAdapter* AdapterFor(std::u16string_view address) const;
  // Queues an address for the add thread; requests are served one after the other, in
  // the order queued. Any thread. False when the controller is shutting down or no site
  // takes the address.
  bool QueueAdd(AddRequest request);
  // Queues every line of `text` (blanks around a line dropped, empty lines skipped, each
  // cut to kUrlCapacity - 1 units) with the window's options, in order. Lines no site
  // takes are reported once ("暂时不支持该网站漫画下载"), as is text of blanks alone.
  // Window thread. Returns the number queued.
  int AddAddresses(std::u16string_view text);
  // True while a queued address has not been read to its end.
  [[nodiscard]] bool AddsPending() const;
  // Waits until no add is pending, or the time is up. True when none is.
  bool WaitForAdds(std::chrono::milliseconds timeout) const;

  // --- task table and registration (window thread) ---
  // Registers a filled-in task: number, map entry, and TaskAdded with `folderShown` and
  // its snapshot. Returns the task number.
  int RegisterTask(std::shared_ptr<Task> task, std::u16string_view folderShown);
  // The folder of a new task: save-folder box, '/', title (UTF-8, cut in place at
  // " Page"), '/'. `output` holds kPathCapacity units. Returns `output`.
  // A '/' in the title becomes '_' (one folder); a backslash counts as '/', so a comic
  // and chapter joined by one nest;
  // a component of the title that reads "." or ".." becomes "_", so the folder stays
  // inside the save folder. A path that would leave fewer than kPictureNameRoom of the
  // kPathCapacity - 1 units for a picture's name loses the end of its title (the final
  // '/' stays); only a box too long for even an empty title is cut itself.
  char16_t* MakeTaskFolderPath(char16_t* output, char* title);
  // The same with the save folder given (any thread).
  static char16_t* MakeTaskFolderPath(char16_t* output, char* title,
                                      std::u16string_view saveFolder);
  // Removes the task `taskNo`: map entry, lasting queue, and TaskRemoved.
  void RemoveTask(int taskNo);
  // Removes the tasks `taskNos` together: map entries, the lasting queue in one
  // transaction, and one TasksRemoved.
  void RemoveTasks(const std::vector<int>& taskNos);
  // Of the tasks `selected`, those Delete removes: all when no worker runs; while one
  // runs, those finished, unfinished or preparing (and numbers of no task). In order.
  [[nodiscard]] std::vector<int> DeletableTasks(const std::vector<int>& selected,
                                                bool workerRuns) const;
  // Sets every task's row to its position in the order.
  void RenumberRows();
  // "上移" / "下移" / "置顶": moves task `taskNo` in the order in which the workers take the
  // tasks (and the rows show them); kept in the lasting queue. False when it cannot move.
  enum class Move { kUp, kDown, kTop };
  bool MoveTask(int taskNo, Move move);
  // The task numbers in that order.
  [[nodiscard]] std::vector<int> TaskOrder() const;

  std::shared_ptr<Task> FindTask(int taskNo) const;
  std::vector<int> TaskNumbers() const;

  // --- the site operations of Add, on the calling thread with the window's options ---
  // address: kUrlCapacity units, in and out.
  int FindEHFirstPage(char16_t* address);
  int AddEHTask(const char16_t* address);
  int FindDMZJFirstChapter(char16_t* address);
  int AddDMZJTask(char16_t* address);
  int AddDMZJTaskChain(char16_t* address);

  // --- cookies (any thread, one operation at a time; cookies.cpp) ---
  // The file that keeps the session's cookies between runs: cookies.txt in the data
  // folder, read when the controller is made and written when it goes. Empty when the
  // controller keeps nothing.
  [[nodiscard]] std::filesystem::path CookieFile() const;
  struct CookieImport {
    CookieFileReading reading;
    bool saved = true;  // false when the cookie file could not be written afterwards
  };
  // Adds the cookies of a cookies.txt (a browser's export) to the session, counting the
  // lines skipped; nothing else changes. Then writes the cookie file.
  [[nodiscard]] CookieImport ImportCookiesFrom(const std::filesystem::path& file);
  struct CookieClearing {
    bool cleared = false;
    bool saved = false;  // the emptied cookie file was written (or none is kept)
  };
  // Forgets every cookie at once and writes the cookie file.
  [[nodiscard]] CookieClearing ClearCookieStore();

  // --- workers ---
  // Start for one site only: opens the gate and starts that site's worker unless it runs
  // (the other site's worker is left as it is).
  void StartSite(int siteKind);
  // True while the worker of that site kind is running its walk.
  bool WorkerRunning(int siteKind) const;
  // True while any site's worker is.
  bool AnyWorkerRunning() const;
  // The registered sites, in the order in which an address is offered to them.
  const std::vector<std::unique_ptr<SiteAdapter>>& Sites() const { return m_adapters; }
  // The worker procedure: walks the map for tasks of `siteKind`.
  void DownloadThread(int siteKind);

  // Makes the threads of the workers; throws std::system_error when it cannot. Tests
  // replace it to see a failed creation; the default starts a std::thread.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;
  void SetThreadStarter(ThreadStarter starter) { m_threadStarter = std::move(starter); }
  // Runs on a worker each time it has reached the end of the map, before it decides
  // whether to end. Tests use it to press Start at that moment. Set before Start.
  void SetWalkEndHook(std::function<void(int siteKind)> hook) { m_walkEndHook = std::move(hook); }

  // --- pacing (window thread; pacing.cpp) ---
  // The interval between two requests to one site: applied at once and, with a data
  // folder, kept for the next run (false when it could not be written).
  bool SetPacing(Pacing pacing);
  [[nodiscard]] Pacing GetPacing() const { return m_session->GetPacing(); }

  // --- single tasks (window thread; task_commands.cpp) ---
  // "暂停此任务" / "继续此任务": holds task `taskNo` (its site's worker passes it over and
  // leaves it after the step in progress), or lets it go (a running worker of its site
  // comes back for it). Returns the status its row shows now; nothing when there is no
  // such task.
  std::optional<TaskStatus> HoldTask(int taskNo, bool held);
  // "重试缺失图片": lets the task go and starts its site's worker, which fetches its missing
  // pictures when it reaches it. False, doing nothing, when it has none.
  bool RetryMissing(int taskNo);
  // "清除已完成": removes every finished task (a worker may be running: a finished task is
  // never in a download). Returns how many.
  int ClearFinished();

  // --- the reader's library (finishing.cpp) ---
  // Whether a task that ends complete is packed as a CBZ ("保存为CBZ"); kept with the
  // lasting queue between runs. Any thread.
  void SetSaveCbz(bool on);
  bool SaveCbz() const { return m_saveCbz.load(); }
  // Whether ComicInfo.xml and info.json are written with the pictures (off until set: the
  // window and the terminal program turn it on).
  void SetWriteMetadata(bool on) { m_writeMetadata.store(on); }
  bool WriteMetadata() const { return m_writeMetadata.load(); }
  // "打包为CBZ": packs the folder of task `taskNo`, which must be finished. Window thread.
  [[nodiscard]] PackResult PackTask(int taskNo);

  QueueState Queue() const { return m_queueState; }

  // --- the download record (recording.cpp) ---
  // The record this controller keeps, or null (none asked for, or it could not be opened:
  // said once).
  [[nodiscard]] DownloadRecord* Record() const { return m_record.get(); }
  // The tasks Adds left out so far because they were downloaded before. Any thread.
  [[nodiscard]] int SkippedCount() const { return m_skipped.load(); }
  // Queues a check of every followed comic for the add thread, served in turn with the
  // addresses: for each, the page of its last chapter is read again, and the chapters now
  // linked after it that the record does not hold are added with `options` (its save
  // folder and renaming). A comic checked less than kCheckInterval ago is skipped with a
  // note unless `force`. False without a record, or when shutting down.
  bool QueueUpdateCheck(AddRequest options, bool force);
  static constexpr std::chrono::seconds kCheckInterval{600};

  WindowPort& Window() { return m_window; }
  Session& InternetSession() { return *m_session; }
  const ControllerSettings& Settings() const { return m_settings; }
  int AutoRename() const { return m_autoRename; }
  int FollowNext() const { return m_followNext; }

 private:
  struct Worker {
    ManualResetEvent gate{true};  // the site's pause gate
    std::thread thread;
    std::atomic<bool> running{false};  // changed under m_workerMutex
    bool again = false;                // a Start came while the walk ran: walk once more
    // The task the worker holds and what was last published of it; under m_heldMutex.
    std::optional<TaskChanged> held;
    BanClock ban;  // the site's ban, consulted before every step
  };
  // After a walk that a ban ended: tells the user, and waits it out unless it is longer
  // than the settings allow. True when the worker is to walk again.
  bool WaitOutBan(int siteKind, Worker& worker);
  // Start of a banned site says how long is left and starts nothing. True when banned.
  bool SayBanned(int siteKind);
  // Publishes `shown` as what task `taskNo` looks like now, and keeps it as the worker's.
  void PublishHeld(Worker& worker, TaskChanged shown);
  // The worker of a registered site, or null.
  Worker* WorkerFor(int siteKind) const;
  // A run begins: RunEnded is published once it ends.
  void OpenRun();
  // Publishes RunEnded when a run is open, no worker runs and no address is being read.
  // Called wherever one of them may have become idle; any thread.
  void EndRunIfIdle();
  void StartWorker(int siteKind);
  // One walk of the map for tasks of `siteKind`.
  void Walk(int siteKind, StepContext& context);
  // At the end of a walk: whether to walk again; if not, the worker is no longer running.
  bool WalkAgain(Worker& worker);

  void OpenQueue();
  // Puts a task read back from the queue into the map, the order (at `place`) and the table.
  void RestoreTask(int taskNo, std::shared_ptr<Task> task, std::u16string_view folderShown,
                   long long place);
  // Enters a task into m_tasks and the order; with m_tasksMutex held.
  void EnterLocked(int taskNo, std::shared_ptr<Task> task, long long place);
  // Takes a task out of m_tasks and the order; with m_tasksMutex held. Returns it (or null).
  std::shared_ptr<Task> TakeOutLocked(int taskNo);

  void LoadPacing();
  // When a task's turn on a worker has ended: the metadata files once it ran, the CBZ
  // once it is complete (also for a task finished before whose packing was cut short).
  void FinishTask(const Task& task, bool ranNow);

  void LoadCookieFile();
  bool SaveCookieFile();
  bool SaveCookieFileLocked();  // with m_cookieMutex held

  // Options of an add that runs with the window's settings of the moment.
  AddRequest WindowOptions() const;
  const SiteAdapter* AdapterOfKind(int kind) const;
  const SiteAdapter* AdapterNamed(std::u16string_view name) const;
  // Reads the page at `address` and registers the task it gives; its folder is claimed for
  // `sourceAddress` (by default the task's own address). Runs on the calling
  // thread; registration hops to the window thread.
  struct PageAdded {
    bool taskMade = false;
    std::optional<std::u16string> next;    // the page's next address
    std::optional<FailureReason> failure;  // why no task was made
  };
  PageAdded AddFromPage(const SiteAdapter& adapter, std::u16string_view address,
                        const AddRequest& options, PageReader& reader,
                        std::u16string_view sourceAddress = {});
  void RunAdd(const AddRequest& request);
  // Reads the page at `address` and, with the follow option, the chain after it, making
  // their tasks; the number made. `failure`: why a page gave none.
  int AddChain(const SiteAdapter& adapter, std::u16string address, const AddRequest& request,
               PageReader& reader, std::optional<FailureReason>& failure);
  // The reading of one page, without its task made yet.
  struct PageRead {
    std::optional<TaskDraft> draft;
    std::optional<std::u16string> next;
    std::optional<FailureReason> failure;
  };
  PageRead ReadTaskPage(const SiteAdapter& adapter, std::u16string_view address,
                        PageReader& reader);
  // Claims the folder of `draft` and registers its task. False when no task was made.
  bool MakeTask(const SiteAdapter& adapter, const TaskDraft& draft, const AddRequest& options,
                std::u16string_view sourceAddress = {});
  // A chain's pages held back from the first one downloaded before, until the user has said
  // which of them to make.
  struct HeldPage {
    TaskDraft draft;
    bool before = false;
    std::u16string source;  // the address its folder is claimed for (empty: its own)
  };
  // Makes the held pages the user wants; returns the number made.
  int MakeHeld(const SiteAdapter& adapter, const std::vector<HeldPage>& held,
               const std::vector<DownloadedBefore>& before, int total, const AddRequest& options);
  void OpenRecord();
  // The record's entry of the gallery or chapter at `address`, when Add is to heed it.
  std::optional<DownloadedBefore> DownloadedEarlier(const SiteAdapter& adapter,
                                                    std::u16string_view address);
  // Adds a task that ended complete to the record, stored at `place`.
  void RecordTask(const Task& task, const std::filesystem::path& place);
  // The record's entry of the gallery or chapter at `address`, whatever the settings say.
  std::optional<DownloadedBefore> RecordedEntry(const SiteAdapter& adapter,
                                                std::u16string_view address);
  // Follows the comic of chapter `lastChapter` (the end of a chain just read).
  void FollowComic(const SiteAdapter& adapter, std::u16string_view lastChapter,
                   const ComicMetadata& about);
  // Checks every followed comic for chapters after its last one (updates.cpp).
  void RunUpdateCheck(const AddRequest& request);
  // Checks one followed comic; the tasks made. `failure`: why its pages could not be read.
  int CheckComic(const SiteAdapter& adapter, FollowedComic& comic, const AddRequest& request,
                 PageReader& reader, std::optional<FailureReason>& failure);
  // The first page of `address` on `site`'s adapter, written back into `address`.
  int FindFirstPage(int site, char16_t* address);
  void AddThread();

  WindowPort& m_window;
  const ControllerSettings m_settings;
  std::vector<std::unique_ptr<SiteAdapter>> m_adapters;
  Cancellation m_cancel;  // before the session, which refers to it
  std::unique_ptr<Session> m_session;
  std::optional<InstanceLock> m_queueLock;  // held while the queue is open
  std::unique_ptr<QueueStore> m_store;      // null: nothing lasts
  QueueState m_queueState = QueueState::kNone;
  std::unique_ptr<DownloadRecord> m_record;  // null: nothing is recorded
  std::atomic<int> m_skipped{0};
  std::mutex m_cookieMutex;          // one cookie file operation at a time (any thread)
  bool m_cookieFileWritable = true;  // false: it exists but could not be read, so it is kept
  int m_autoRename = 1;              // check box 1010
  int m_followNext = 0;              // check box 1011
  mutable std::mutex m_tasksMutex;   // guards m_tasks, the order and m_nextTaskNo
  std::map<int, std::shared_ptr<Task>> m_tasks;
  std::map<long long, int> m_order;    // place -> task number: the order of the walks and rows
  std::map<int, long long> m_placeOf;  // task number -> place
  int m_nextTaskNo = 0;
  std::mutex m_workerMutex;  // guards Worker::running changes, Worker::again and m_runOpen
  bool m_runOpen = false;    // a Start came, and RunEnded has not been published since
  std::mutex m_heldMutex;    // guards Worker::held and orders its publishing
  std::map<int, std::unique_ptr<Worker>> m_workers;  // one per registered site, by kind
  std::function<void(int)> m_walkEndHook;
  std::atomic<bool> m_stopping{false};
  std::atomic<bool> m_saveCbz{false};
  std::atomic<bool> m_writeMetadata{false};  // the programs turn it on
  ThreadStarter m_threadStarter;

  // The add thread and its queue.
  mutable std::mutex m_addMutex;  // guards the queue, m_addBusy and m_adder
  mutable std::condition_variable m_addChanged;
  std::deque<AddRequest> m_addQueue;
  bool m_addBusy = false;
  std::thread m_adder;
  std::mutex m_readMutex;                    // one page reading at a time: guards m_pageBuffer
  std::unique_ptr<PageBuffer> m_pageBuffer;  // the add thread's; each worker has its own
};

// The message that tells why a task's folder was not packed: kPackFailed with the archive,
// the refusal's number, the count of missing pictures and the detail as its arguments.
[[nodiscard]] Message PackFailedMessage(const PackResult& result);
// The refusal a kPackFailed message tells; kNone for any other message.
[[nodiscard]] PackRefusal RefusalOf(const Message& message);

void DownloadThreadEH(TaskController* controller);
void DownloadThreadDMZJ(TaskController* controller);

}  // namespace pageloom
