// A task as plain values, the same for every site, and the events that tell the front ends
// what changed. The front ends make every word the user reads from these; nothing here is
// text meant for the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "net/failure_reason.h"

namespace pageloom {

enum class TaskStatus {
  kPreparing,    // never stepped (a chapter: its picture list is still to be read)
  kWaiting,      // reserved, never set
  kDownloading,  // a worker holds it
  kPaused,       // held by Pause, or stopped before its end
  kFinished,     // every picture is on disk
  kIncomplete,   // the walk ended with pictures missing or a page unread
  kBanned,       // the site banned the visitor; the worker goes on by itself (banMinutes)
  kUnknown,      // a state no task is in
};

// A picture that could not be stored, and why.
struct MissingFile {
  std::u16string fileName;
  FailureReason reason;
  bool operator==(const MissingFile& other) const {
    return fileName == other.fileName && reason == other.reason;
  }
};

// The bytes of the picture in flight.
struct PictureBytes {
  std::uint64_t received = 0;
  std::int64_t total = -1;  // -1: the server did not say
};

struct TaskSnapshot {
  int siteKind = 0;
  TaskStatus status = TaskStatus::kPreparing;
  int fileNumber = 0;        // pictures numbered so far
  int pictureCount = 0;      // pictures of the task as counted so far
  std::optional<int> total;  // the number of pictures, where the site announces it
  // The progress's second number: the count so far, or the announced total when larger.
  [[nodiscard]] int ShownCount() const {
    return total && *total > pictureCount ? *total : pictureCount;
  }
  // kBanned: the minutes the ban lasts yet, rounded up (at least 1).
  int banMinutes = 0;
  // Waiting because the pages' scripts cannot be run safely on this system.
  bool scriptsBlocked = false;
  // What this shows could not be saved to the lasting queue (it is tried again at the
  // task's next step): after a restart the task would be found as it was saved last.
  bool notSaved = false;
  std::vector<MissingFile> missing;
  std::optional<PictureBytes> picture;     // the picture in flight, when one is
  std::optional<FailureReason> lastError;  // the last thing that failed, when anything did
};

// A task appeared (added, or read back from the lasting queue).
struct TaskAdded {
  int no = 0;
  std::u16string folder;  // the folder its pictures go into, as the user should see it
  TaskSnapshot snapshot;
};
// A task's values changed (after a step, or when a worker takes or leaves it).
struct TaskChanged {
  int no = 0;
  TaskSnapshot snapshot;
};
// A task was deleted.
struct TaskRemoved {
  int no = 0;
};

// Several tasks were deleted at once (a Delete of many rows, the end of a run).
struct TasksRemoved {
  std::vector<int> nos;
};

// A task moved in the order in which the workers take the tasks: its row is `row` now.
struct TaskMoved {
  int no = 0;
  int row = 0;
};

// The run a Start began has ended: no worker runs and no address is being read. How the
// tasks stood then.
struct RunEnded {
  int tasks = 0;
  int finished = 0;    // every picture on disk
  int incomplete = 0;  // ended with pictures missing or a page unread
};

using TaskEvent =
    std::variant<TaskAdded, TaskChanged, TaskRemoved, TasksRemoved, TaskMoved, RunEnded>;

}  // namespace pageloom
