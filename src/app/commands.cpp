// The main window's commands Browse, Delete and the two options. Add lives with the add
// thread (adding.cpp); Start, Pause and Continue live with the workers (workers.cpp). All
// run on the window thread.
#include <array>
#include <string>

#include "app/task_controller.h"
#include "base/fixed_text.h"

namespace pageloom {

void TaskController::OnBnClickedBrowse() {
  std::array<char16_t, kPathCapacity> folder{};
  const std::optional<std::u16string> picked =
      m_window.PickFolder(Message{MessageKind::kPickSaveFolder, {}});
  // A path that does not fit the buffer is no path: cut, it would name another folder.
  if (picked && !picked->empty() && picked->size() < kPathCapacity) {
    CopyWide(folder.data(), kPathCapacity, *picked);
    m_window.SetSaveFolderText(std::u16string(WideView(folder.data(), kPathCapacity)));
  } else {
    m_window.ShowMessage(Message{MessageKind::kInvalidFolder, {}});
  }
}

void TaskController::OnBnClickedDelete() {
  const std::vector<int> selected = m_window.SelectedTasks();
  if (selected.empty()) {
    m_window.ShowMessage(Message{MessageKind::kSelectRows, {}});
    return;
  }
  // Decided once: the answer holds for the whole command. The rows removed go together,
  // to the table and to disk.
  RemoveTasks(DeletableTasks(selected, AnyWorkerRunning()));
  RenumberRows();
}

void TaskController::OnBnClickedOption() {
  m_autoRename = m_window.AutoRenameChecked() ? 1 : 0;
  m_followNext = m_window.FollowNextChecked() ? 1 : 0;
}

}  // namespace pageloom
