// A window for tests: a table, the boxes, the options, and scripted answers to
// messages and folder pickers. Safe to call from any thread; every change wakes WaitFor.
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

#include "app/window_port.h"

namespace pageloom::test {

class FakeWindow : public WindowPort {
 public:
  using Row = std::array<std::u16string, 4>;

  // --- WindowPort ---
  int RowCount() const override;
  void AppendRow(const std::u16string& number) override;
  void SetItemText(int row, int column, const std::u16string& text) override;
  void DeleteRow(int row) override;
  std::u16string GetItemText(int row, int column) const override;
  std::vector<int> SelectedRows() const override;
  std::u16string AddressText() const override;
  void SetAddressText(const std::u16string& text) override;
  std::u16string SaveFolderText() const override;
  void SetSaveFolderText(const std::u16string& text) override;
  bool AutoRenameChecked() const override;
  bool FollowNextChecked() const override;
  // Runs `work` at once, on the calling thread: the fake has no window thread of its
  // own, and every operation of it is safe from any thread.
  void Post(std::function<void()> work) override;
  void PostTaskRow(int taskNo, std::u16string progress, std::u16string status) override;
  void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) override;
  void ShowMessage(std::u16string_view text) override;
  std::optional<std::u16string> PickFolder(std::u16string_view title) override;

  // --- test side ---
  void SetAutoRename(bool on);
  void SetFollowNext(bool on);
  // Selects exactly these rows. Deleting a row keeps the selection of the others.
  void Select(std::vector<int> rows);
  std::vector<Row> Rows() const;
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
  std::optional<Row> TaskRowLocked(int taskNo) const;
  void Changed();

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<Row> m_rows;
  std::vector<bool> m_selected;
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

}  // namespace pageloom::test
