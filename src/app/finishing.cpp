// What a controller does when a task's turn ends: the metadata files with the pictures
// and, with "保存为CBZ", the archive of a complete task. Also the row command that packs
// a finished task's folder.
#include <filesystem>
#include <system_error>

#include "app/recording.h"
#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "library/task_finish.h"
#include "store/queue_store.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

// A pack that went wrong, for the user; nothing when there is nothing to say.
std::optional<Message> PackMessage(const PackResult& result) {
  if (result.status == PackStatus::kPacked || result.status == PackStatus::kAlreadyThere)
    return std::nullopt;
  return PackFailedMessage(result);
}

}  // namespace

Message PackFailedMessage(const PackResult& result) {
  return Message{MessageKind::kPackFailed,
                 {FromUtf8(result.archive.string()), WideNumber(static_cast<int>(result.refusal)),
                  WideNumber(result.missingCount), FromUtf8(result.detail)}};
}

PackRefusal RefusalOf(const Message& message) {
  if (message.kind != MessageKind::kPackFailed || message.args.size() < 2)
    return PackRefusal::kNone;
  int number = 0;
  for (const char16_t c : message.args[1]) {
    if (c < u'0' || c > u'9' || number > kPackRefusalCount) return PackRefusal::kNone;
    number = number * 10 + (c - u'0');
  }
  return number < kPackRefusalCount ? static_cast<PackRefusal>(number) : PackRefusal::kNone;
}

void TaskController::SetSaveCbz(bool on) {
  m_saveCbz.store(on);
  if (QueueStore* store = m_tasks->Store()) (void)store->SetSetting("save_cbz", on ? 1 : 0);
}

void TaskController::SetWriteMetadata(bool on) {
  m_writeMetadata.store(on);
  m_adder->SetWriteMetadata(on);
}

void TaskController::FinishTask(const Task& task, bool ranNow) {
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
  if (complete) RecordTask(m_record.get(), m_sites, task, packed ? outcome.pack->archive : folder);
  if (!outcome.pack) return;
  if (const std::optional<Message> message = PackMessage(*outcome.pack))
    m_port.Post([this, shown = *message] { m_port.ShowMessage(shown); });
}

PackResult TaskController::PackTask(int taskNo) {
  const std::shared_ptr<Task> task = m_tasks->Find(taskNo);
  if (!task) return PackResult{PackStatus::kRefused, {}, PackRefusal::kNoTask, 0, {}};
  const fs::path folder(ToUtf8(task->GetFolder()));
  if (task->GetState() != STATE_FINISHED)
    return PackResult{PackStatus::kRefused, folder, PackRefusal::kUnfinished, 0, {}};
  return PackTaskFolder(folder);
}

}  // namespace pageloom
