// One run of pageloom-cli: the addresses added one after the other as the window's Add
// adds them, the workers started whenever a task is waiting for one, and the end once no
// address is left, no add reads and no worker runs. A signal ends it as closing the
// window does. The main loop runs on the calling thread, which is the window thread.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/controller_settings.h"
#include "app/task_controller.h"
#include "cli/json_events.h"
#include "cli/progress_view.h"
#include "cli/run_summary.h"
#include "cli/terminal_window.h"

namespace pageloom::cli {

class SignalPipe;

struct RunRequest {
  std::vector<std::string> addresses;  // UTF-8, in order
  std::u16string saveFolder;
  bool autoRename = true;
  bool followNext = false;
  bool saveCbz = false;
  bool writeMetadata = true;
  std::optional<std::string> cookieFile;       // imported before the first add
  ControllerSettings settings;                 // a data folder: the queue lasts there
  std::FILE* jsonOut = nullptr;                // --json: every event as a JSON line here
  UiLanguage language = UiLanguage::kEnglish;  // of what people read (JSON lines: English)
  bool updateCheck = false;                    // --update: check the followed comics first
  bool forceCheck = false;                     // with it, also those checked a moment ago
};

class DownloadRun final : public RunListener {
 public:
  // Attaches itself to `engine` (made with the request's settings), which outlives it.
  DownloadRun(TaskController& engine, RunRequest request, ProgressView& view);
  ~DownloadRun() override;
  DownloadRun(const DownloadRun&) = delete;
  DownloadRun& operator=(const DownloadRun&) = delete;

  // Runs to the end, or until `signals` reports one; returns the exit status: 0 whole,
  // 1 something failed, 128 + the signal's number when stopped by one.
  int Run(const SignalPipe& signals);

 private:
  // --- RunListener ---
  void OnTaskAdded(const TaskTable::Row& row) override;
  void OnTaskChanged(const TaskSnapshot& before, const TaskTable::Row& row) override;
  void OnAddEnded(const std::u16string& address, int tasksMade,
                  const std::optional<FailureReason>& failure) override;
  void OnPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) override;
  void OnWorkerEnded(int siteKind) override;
  void OnMessage(const Message& message) override;
  void OnRunEnded(const RunEnded& ended) override;
  void OnBan(int siteKind, std::chrono::seconds left) override;
  void OnDownloadedBefore(const std::vector<DownloadedBefore>& before) override;
  void OnNewChapters(const std::u16string& comic, int count) override;

  [[nodiscard]] bool Prepare();
  void QueueNextAdd();
  void FinishAdd();
  // Whether each site's worker runs, by site kind (to start the idle ones).
  using Running = std::map<int, bool>;
  [[nodiscard]] Running WorkersRunning() const;
  // Starts the workers when a task waits for one that was not running at `running`.
  bool StartIfNeeded(const Running& running);
  [[nodiscard]] bool TasksWaiting() const;
  void AddressFailed(AddressFailure failure, const std::optional<FailureReason>& reason);
  // Waits for events, a signal or the time; returns the signal's number, or 0.
  int Wait(const SignalPipe& signals, int timeoutMs);
  [[nodiscard]] std::vector<TaskResult> Results() const;
  int End(int signal);

  RunRequest m_request;
  ProgressView& m_view;
  // What the window's events reach.
  std::optional<JsonEvents> m_json;
  std::set<int> m_stepped;         // tasks a worker has stepped at least once
  std::map<int, int> m_unstepped;  // by site kind: the tasks not stepped yet
  TerminalWindow m_window;
  TaskController& m_controller;

  std::size_t m_nextAddress = 0;
  bool m_addInFlight = false;
  std::string m_addAddress;
  bool m_updateQueued = false;  // the check of followed comics (--update) was queued
  int m_skippedBefore = 0;      // the controller's skipped count when the add in flight began
  struct AddResult {
    int tasksMade = 0;
    std::optional<FailureReason> failure;
  };
  std::optional<AddResult> m_addResult;  // the end of the add in flight, once heard
  std::vector<AddressFailure> m_failedAddresses;

  std::map<int, std::string> m_endSeen;  // the last end of each task that was shown
  int m_startsWithoutStep = 0;
  bool m_startGivenUp = false;         // the workers could not be started
  bool m_runOpen = false;              // a worker was started and RunEnded has not come since
  std::optional<RunEnded> m_runEnded;  // the last end of a run
  bool m_bannedTooLong = false;        // a ban longer than the run waits: it ends, failed
};

}  // namespace pageloom::cli
