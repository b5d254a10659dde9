// The seam between the engine and a front end (the main window, the terminal program, a
// test). The engine tells what happened as typed events; the front end keeps its own table,
// its boxes and options, and makes every word the user reads. Every operation may be called
// from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/fixed_text.h"
#include "engine/task_snapshot.h"
#include "engine/user_prompt.h"

namespace pageloom {

// A gallery or chapter an Add is about to make a task of, known to the download record.
struct DownloadedBefore {
  std::u16string address;
  std::u16string title;
  std::int64_t when = 0;  // when it was recorded, seconds since the epoch
};

// What an Add does with tasks downloaded before.
enum class AgainChoice {
  kNewOnly,  // makes only the tasks the record does not know
  kAll,      // makes every task
  kNone,     // makes no task of this Add
};

class WindowPort : public UserPrompt {
 public:
  // --- from any thread ---
  // Runs `work` on the window thread, later, in the order of the calls. Once the window
  // is closing, work is dropped. Never blocks.
  virtual void Post(std::function<void()> work) = 0;
  // A task was added, changed or removed. Called on the window thread, the event is taken
  // in at once; from another thread it is queued and taken in on the window thread, in the
  // order of the calls. An event for a task the window does not show is dropped. Once the
  // window is closing, events are dropped. Never blocks.
  virtual void Publish(TaskEvent event) = 0;
  // The picture task `taskNo` is downloading has `received` bytes so far, of `total`
  // (-1 when the server did not say). Queued like Publish; the next TaskChanged of the
  // task ends it. Never blocks. The default shows nothing.
  virtual void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) {
    (void)taskNo;
    (void)received;
    (void)total;
  }
  // The worker of `siteKind` stops for the site's ban, which lasts `left` more; said once
  // a ban, on the worker's thread. May block like ShowMessage. The default shows the
  // kBanned message with the minutes left, rounded up.
  virtual void ShowBan(int siteKind, std::chrono::seconds left) {
    (void)siteKind;
    ShowMessage(
        Message{MessageKind::kBanned, {WideNumber(static_cast<int>((left.count() + 59) / 60))}});
  }
  // The worker of `siteKind` has ended its walk (WorkerPool::Running reads false already).
  // Never blocks. The default does nothing.
  virtual void PostWorkerEnded(int siteKind) { (void)siteKind; }
  // The add thread has read an address to its end: `tasksMade` tasks were made from it,
  // and `failure` tells why a page gave none (when one did not). Queued like Publish.
  // The default does nothing.
  virtual void PostAddEnded(std::u16string address, int tasksMade,
                            std::optional<FailureReason> failure) {
    (void)address;
    (void)tasksMade;
    (void)failure;
  }
  // A check of followed comics found `count` new chapters of `comic` and added them.
  // Queued like Publish. The default shows nothing.
  virtual void PostNewChapters(std::u16string comic, int count) {
    (void)comic;
    (void)count;
  }
  // Of the `total` tasks one Add is about to make (one address, or a followed chain),
  // those of `before` were downloaded before. Called on the add thread; may block like
  // ShowMessage. The default makes only the new ones.
  virtual AgainChoice AskDownloadAgain(const std::vector<DownloadedBefore>& before, int total) {
    (void)before;
    (void)total;
    return AgainChoice::kNewOnly;
  }
};

}  // namespace pageloom
