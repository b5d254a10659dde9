// The logic behind the main window: the task map, the commands, the two workers.
// The window reaches it through the command handlers; it reaches the window through
// WindowPort. Everything but the worker procedure runs on the window thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/manual_reset_event.h"
#include "app/window_port.h"
#include "net/page_buffer.h"
#include "tasks/comic.h"

namespace pageloom {

class TaskController {
 public:
  // Does what the dialog's start-up does for the logic: empty map, task numbers from 0,
  // the window thread's page buffer, the internet session, the pause gate open.
  explicit TaskController(WindowPort& window);
  // Stops the workers (Shutdown), then frees the tasks and closes the internet session.
  ~TaskController();
  TaskController(const TaskController&) = delete;
  TaskController& operator=(const TaskController&) = delete;

  // The save folder the window shows at start-up: $HOME/comic.
  static std::u16string DefaultSaveFolder();

  // --- commands (window thread) ---
  void OnBnClickedAdd();
  void OnBnClickedBrowse();
  void OnBnClickedStart();
  void OnBnClickedPause();
  void OnBnClickedContinue();
  void OnBnClickedDelete();
  void OnBnClickedOption();

  // Ends both workers: opens the gate, aborts the transfers in flight and joins the
  // threads. Idempotent. Nothing here waits for the window thread.
  void Shutdown();

  // --- task table and registration (window thread) ---
  // Registers a filled-in task: number, map entry, a new last row showing the number,
  // `folderShown`, the progress and the status. Returns the task number.
  int RegisterTask(std::shared_ptr<Comic> task, std::u16string_view folderShown);
  // The folder of a new task: save-folder box, '/', title (UTF-8, cut in place at
  // " Page"), '/'. `output` holds kPathCapacity units. Returns `output`.
  // A backslash in the title counts as '/', so a comic and chapter joined by one nest;
  // a component of the title that reads "." or ".." becomes "_", so the folder stays
  // inside the save folder. A path longer than kPathCapacity - 1 units loses the end of
  // its title (the final '/' stays); only a box too long for even an empty title is
  // cut itself.
  char16_t* MakeTaskFolderPath(char16_t* output, char* title);
  // Removes the task `taskNo` whose row is `row`: map entry and row.
  void RemoveTask(int row, int taskNo);
  // Sets every task's row to its position in the map.
  void RenumberRows();

  std::shared_ptr<Comic> FindTask(int taskNo) const;
  std::vector<int> TaskNumbers() const;

  // --- site adapters (window thread) ---
  int FindEHFirstPage(char16_t* address);     // address: kUrlCapacity units, in and out
  int AddEHTask(const char16_t* address);
  int FindDMZJFirstChapter(char16_t* address);
  int AddDMZJTask(char16_t* address);
  int AddDMZJTaskChain(char16_t* address);

  // --- workers ---
  // True while the worker of that site kind is running its walk.
  bool WorkerRunning(int siteKind) const;
  // The worker procedure: walks the map for tasks of `siteKind`.
  void DownloadThread(int siteKind);

  // Makes the threads of the workers; throws std::system_error when it cannot. Tests
  // replace it to see a failed creation; the default starts a std::thread.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;
  void SetThreadStarter(ThreadStarter starter) { m_threadStarter = std::move(starter); }

  WindowPort& Window() { return m_window; }
  PageBuffer& WindowPageBuffer() { return *m_pageBuffer; }
  int AutoRename() const { return m_autoRename; }
  int FollowNext() const { return m_followNext; }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> running{false};
  };
  Worker& WorkerFor(int siteKind);
  void StartWorker(int siteKind, const char16_t* failureMessage);

  WindowPort& m_window;
  int m_autoRename = 1;   // check box 1010
  int m_followNext = 0;   // check box 1011
  mutable std::mutex m_tasksMutex;  // guards m_tasks and m_nextTaskNo
  std::map<int, std::shared_ptr<Comic>> m_tasks;
  int m_nextTaskNo = 0;
  std::unique_ptr<PageBuffer> m_pageBuffer;  // the window thread's; each worker has its own
  ManualResetEvent m_pauseEvent{true};
  Worker m_threadEH;
  Worker m_threadDMZJ;
  std::atomic<bool> m_stopping{false};
  ThreadStarter m_threadStarter;
};

void DownloadThreadEH(TaskController* controller);
void DownloadThreadDMZJ(TaskController* controller);

}  // namespace pageloom
