// The download record of a controller: opened with it, asked at Add whether a gallery or
// chapter was downloaded before, and told of each task that ends complete.
#include <ctime>
#include <filesystem>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "store/download_record.h"

namespace pageloom {

namespace fs = std::filesystem;

void TaskController::OpenRecord() {
  fs::path file = m_settings.recordFile;
  // Beside the queue, when the data folder could be had (a data folder that cannot is
  // said once already, and one that another program holds is that program's).
  const bool dataFolderUsable =
      m_queueState == QueueState::kOpened || m_queueState == QueueState::kSetAside;
  if (file.empty() && dataFolderUsable) file = m_settings.dataFolder / "record.sqlite";
  if (file.empty()) return;
  std::string reason;
  m_record = DownloadRecord::Open(file, &reason);
  if (m_record) return;
  // Downloads go on; only their entries are lost (said once, when the window is up).
  const Message message{MessageKind::kRecordUnavailable,
                        {FromUtf8(file.string()), FromUtf8(reason)}};
  DebugLine(u"no download record: " + message.args[0] + u" (" + message.args[1] + u")");
  m_window.Post([this, message] { m_window.ShowMessage(message); });
}

std::optional<DownloadedBefore> TaskController::DownloadedEarlier(const SiteAdapter& adapter,
                                                                  std::u16string_view address) {
  if (m_settings.downloadAgain) return std::nullopt;
  return RecordedEntry(adapter, address);
}

std::optional<DownloadedBefore> TaskController::RecordedEntry(const SiteAdapter& adapter,
                                                              std::u16string_view address) {
  if (!m_record) return std::nullopt;
  const std::optional<std::u16string> identity = adapter.Identity(address);
  if (!identity) return std::nullopt;
  const std::optional<RecordEntry> entry =
      m_record->Find(ToUtf8(adapter.Name()), ToUtf8(*identity));
  if (!entry) return std::nullopt;
  return DownloadedBefore{std::u16string(address), FromUtf8(entry->title), entry->when};
}

void TaskController::RecordTask(const Task& task, const fs::path& place) {
  if (!m_record) return;
  const SiteAdapter* adapter = AdapterOfKind(task.GetSiteKind());
  if (adapter == nullptr) return;
  const std::optional<std::u16string> identity = adapter->Identity(task.GetStartUrl());
  if (!identity) return;
  std::string title = task.GetTitle();
  if (title.empty()) {
    // A task read back from the queue: its folder's name stands for its title.
    const fs::path folder = fs::path(ToUtf8(task.GetFolder())).lexically_normal();
    title = (folder.has_filename() ? folder : folder.parent_path()).filename().string();
  }
  const RecordEntry entry{ToUtf8(adapter->Name()), ToUtf8(*identity), title, place.string(),
                          static_cast<std::int64_t>(std::time(nullptr))};
  if (!m_record->Add(entry)) DebugLine("record: entry not written for " + entry.identity);
}

int TaskController::MakeHeld(const SiteAdapter& adapter, const std::vector<HeldPage>& held,
                             const std::vector<DownloadedBefore>& before, int total,
                             const AddRequest& options) {
  const AgainChoice choice =
      before.empty() ? AgainChoice::kAll : m_window.AskDownloadAgain(before, total);
  int made = 0;
  for (const HeldPage& page : held) {
    const bool wanted =
        choice == AgainChoice::kAll || (choice == AgainChoice::kNewOnly && !page.before);
    if (!wanted) {
      if (page.before) ++m_skipped;
      continue;
    }
    if (m_cancel.Cancelled()) break;
    if (MakeTask(adapter, page.draft, options, page.source)) ++made;
  }
  return made;
}

}  // namespace pageloom
