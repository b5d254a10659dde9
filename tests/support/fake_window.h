// A window for tests: a table, the boxes, the options, and scripted answers to
// messages and folder pickers. Safe to call from any thread; every change wakes WaitFor.
// It keeps every event it hears, and writes its table and messages as the window's
// Chinese texts, so that tests can read what a user would.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/adder.h"
#include "app/window_port.h"

namespace pageloom::test {

// A snapshot for tests: a status, the two numbers and `missing` pictures missing.
TaskSnapshot MakeSnapshot(TaskStatus status, int fileNumber = 0, int pictureCount = 0,
                          int missing = 0);

class FakeWindow : public WindowPort {
 public:
  using Row = std::array<std::u16string, 4>;

  // --- WindowPort ---
  // Runs `work` at once, on the calling thread: the fake has no window thread of its
  // own, and every operation of it is safe from any thread.
  void Post(std::function<void()> work) override;
  void Publish(TaskEvent event) override;
  void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) override;
  void PostAddEnded(std::u16string address, int tasksMade,
                    std::optional<FailureReason> failure) override;
  void ShowMessage(const Message& message) override;
  std::optional<std::u16string> PickFolder(const Message& title) override;

  // The window's texts: a message, a status cell, a progress cell.
  static std::u16string MessageText(const Message& message);
  static std::u16string StatusText(const TaskSnapshot& snapshot);
  static std::u16string ProgressText(const TaskSnapshot& snapshot);

  // --- test side: the selection, the boxes and the options a window would have ---
  // The numbers of the tasks whose rows are selected, in the order of the rows.
  std::vector<int> SelectedTasks() const;
  std::u16string AddressText() const;
  void SetAddressText(const std::u16string& text);
  std::u16string SaveFolderText() const;
  void SetSaveFolderText(const std::u16string& text);
  // The options of an Add made now: the save-folder box and the two check boxes.
  AddRequest Options() const;
  void SetAutoRename(bool on);
  void SetFollowNext(bool on);
  // Selects exactly these rows. Deleting a row keeps the selection of the others.
  void Select(std::vector<int> rows);
  int RowCount() const;
  std::u16string GetItemText(int row, int column) const;
  std::vector<int> SelectedRows() const;
  std::vector<Row> Rows() const;
  // Every task event heard so far, in order.
  std::vector<TaskEvent> Events() const;
  // The snapshot of task `taskNo` as last heard, if the task is shown.
  std::optional<TaskSnapshot> SnapshotOf(int taskNo) const;
  struct AddEnd {
    std::u16string address;
    int tasksMade = 0;
    std::optional<FailureReason> failure;
  };
  std::vector<AddEnd> AddEnds() const;
  Row RowAt(int row) const;
  std::vector<std::u16string> Messages() const;
  struct PictureBytes {
    int taskNo;
    std::uint64_t received;
    std::int64_t total;
  };
  // Every picture progress posted so far, in order.
  std::vector<PictureBytes> PictureProgress() const;
  struct RowPost {
    int taskNo;
    std::u16string progress;
    std::u16string status;
    bool operator==(const RowPost& other) const {
      return taskNo == other.taskNo && progress == other.progress && status == other.status;
    }
  };
  // Every task row posted so far (a worker's after each step), in order.
  std::vector<RowPost> RowPosts() const;
  std::vector<std::u16string> PickerTitles() const;
  // Answers of the next pickers, in order; with none queued a picker is cancelled.
  void QueuePickerAnswer(std::optional<std::u16string> answer);
  // Runs inside ShowMessage (on the caller's thread) before it returns, e.g. to block.
  void SetMessageHook(std::function<void(std::u16string_view)> hook);
  // Waits until `done` (called under the window's lock) holds or the time is up.
  bool WaitFor(const std::function<bool(const FakeWindow&)>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // Convenience: the row whose column 0 reads `taskNo`, if any.
  std::optional<Row> TaskRow(int taskNo) const;

 private:
  // Takes the row of task `taskNo` away, with m_mutex held.
  void RemoveRowLocked(int taskNo);
  std::optional<Row> TaskRowLocked(int taskNo) const;
  void Changed();

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<Row> m_rows;
  std::vector<TaskSnapshot> m_snapshots;  // beside m_rows
  std::vector<bool> m_selected;
  std::vector<TaskEvent> m_events;
  std::vector<AddEnd> m_addEnds;
  std::u16string m_address;
  std::u16string m_saveFolder;
  bool m_autoRename = true;
  bool m_followNext = false;
  std::vector<std::u16string> m_messages;
  std::vector<PictureBytes> m_pictureProgress;
  std::vector<RowPost> m_rowPosts;
  std::vector<std::u16string> m_pickerTitles;
  std::deque<std::optional<std::u16string>> m_pickerAnswers;
  std::function<void(std::u16string_view)> m_messageHook;
  std::uint64_t m_version = 0;
};

// Waits until every address queued with `adding` has been read, or the time is up. True
// when none is pending.
bool WaitForAdds(const Adder& adding, std::chrono::milliseconds timeout);

}  // namespace pageloom::test
