// The main window's commands Browse, Delete and the two options. Add lives with the add
// thread (adding.cpp); Start, Pause and Continue live with the workers (workers.cpp). All
// run on the window thread.
#include <algorithm>
#include <array>
#include <string>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "store/queue_store.h"

namespace pageloom {

namespace {

// The number at the start of a cell, as the desktop's wide atoi reads it: leading
// blanks, an optional sign, digits; 0 when there are none. Clamped to int.
int CellNumber(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, -2147483647LL - 1, 2147483647LL));
}

}  // namespace

void TaskController::OnBnClickedBrowse() {
  std::array<char16_t, kPathCapacity> folder{};
  const std::optional<std::u16string> picked = m_window.PickFolder(u"请选择漫画下载目录：");
  // A path that does not fit the buffer is no path: cut, it would name another folder.
  if (picked && !picked->empty() && picked->size() < kPathCapacity) {
    CopyWide(folder.data(), kPathCapacity, *picked);
    m_window.SetSaveFolderText(std::u16string(WideView(folder.data(), kPathCapacity)));
  } else {
    m_window.ShowMessage(u"无效的目录，请重新选择");
  }
}

void TaskController::OnBnClickedDelete() {
  auto firstSelected = [this]() -> int {
    const std::vector<int> rows = m_window.SelectedRows();
    return rows.empty() ? -1 : rows.front();
  };
  auto nextSelected = [this](int after) -> int {
    const std::vector<int> rows = m_window.SelectedRows();
    const auto it = std::upper_bound(rows.begin(), rows.end(), after);
    return it == rows.end() ? -1 : *it;
  };

  int position = firstSelected();
  if (position < 0) {
    m_window.ShowMessage(u"请选择至少一行数据");
    return;
  }
  // Decided once: the answer holds for the whole command.
  const bool workerRuns = WorkerRunning(SITE_EH) || WorkerRunning(SITE_DMZJ);
  const QueueStore::Batch batch(m_store.get());  // the removals go to disk together

  while (position >= 0) {
    const int row = position;
    position = nextSelected(row);
    const std::u16string cell = m_window.GetItemText(row, 0);
    const int taskNo = CellNumber(cell);
    // Only a cell that reads exactly a task number names that task.
    const bool named = cell == WideNumber(taskNo);
    const std::shared_ptr<Comic> task = named ? FindTask(taskNo) : nullptr;
    bool removable = !workerRuns;
    if (!removable) {
      // A row without a task holds nothing a worker could be downloading.
      // An unfinished task rests like a finished one until the next Start.
      const int state = task ? task->GetState() : STATE_FINISHED;
      removable = state == STATE_FINISHED || state == STATE_PREPARING || state == STATE_INCOMPLETE;
    }
    if (removable) {
      const int rowsBefore = m_window.RowCount();
      if (named)
        RemoveTask(row, taskNo);
      else
        m_window.DeleteRow(row);
      if (m_window.RowCount() >= rowsBefore) break;  // a row that will not go: stop here
      position = firstSelected();
    }
  }
  RenumberRows();
}

void TaskController::OnBnClickedOption() {
  m_autoRename = m_window.AutoRenameChecked() ? 1 : 0;
  m_followNext = m_window.FollowNextChecked() ? 1 : 0;
}

}  // namespace pageloom
