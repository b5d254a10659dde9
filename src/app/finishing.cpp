// What a controller does when a task's turn ends: the metadata files with the pictures
// and, with "保存为CBZ", the archive of a complete task. Also the row command that packs
// a finished task's folder.
#include <filesystem>
#include <system_error>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "library/task_finish.h"
#include "store/queue_store.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

// A pack that went wrong, as the user reads it; empty when there is nothing to say.
std::u16string PackMessage(const PackResult& result) {
  if (result.status == PackStatus::kPacked || result.status == PackStatus::kAlreadyThere) return {};
  return FromUtf8(result.reason + "：" + result.archive.string());
}

}  // namespace

void TaskController::SetSaveCbz(bool on) {
  m_saveCbz.store(on);
  if (m_store) (void)m_store->SetSetting("save_cbz", on ? 1 : 0);
}

void TaskController::FinishTask(const Comic& task, bool ranNow) {
  const int state = task.GetState();
  const bool complete = state == STATE_FINISHED;
  if (!complete && state != STATE_INCOMPLETE) return;
  const bool cbz = m_saveCbz.load();
  const fs::path folder(ToUtf8(task.GetFolder()));
  std::error_code ec;
  // A task finished before is looked at again only when its packing is still to be done.
  if (!ranNow && !(cbz && complete && fs::is_directory(folder, ec))) return;

  EndedTask ended{folder, ToUtf8(task.GetStartUrl()), complete, {}};
  for (const MissingPicture& picture : task.Missing())
    ended.missing.push_back(ToUtf8(picture.fileName));
  const FinishOutcome outcome = FinishTaskFolder(ended, FinishOptions{m_writeMetadata.load(), cbz});
  const bool packed = outcome.pack && (outcome.pack->status == PackStatus::kPacked ||
                                       outcome.pack->status == PackStatus::kAlreadyThere);
  if (complete) RecordTask(task, packed ? outcome.pack->archive : folder);
  if (!outcome.pack) return;
  const std::u16string message = PackMessage(*outcome.pack);
  if (!message.empty())
    m_window.Post([this, message] {
      m_window.ShowMessage(Message{MessageKind::kPackFailed, {message}});
    });
}

PackResult TaskController::PackTask(int taskNo) {
  const std::shared_ptr<Comic> task = FindTask(taskNo);
  if (!task) return PackResult{PackStatus::kRefused, {}, "任务不存在"};
  const fs::path folder(ToUtf8(task->GetFolder()));
  if (task->GetState() != STATE_FINISHED)
    return PackResult{PackStatus::kRefused, folder, "任务未完成"};
  return PackTaskFolder(folder);
}

}  // namespace pageloom
