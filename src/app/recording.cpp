#include "app/recording.h"

#include <ctime>
#include <string>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "store/download_record.h"

namespace pageloom {

namespace fs = std::filesystem;

std::unique_ptr<DownloadRecord> OpenRecord(const ControllerSettings& settings,
                                           bool dataFolderUsable, WindowPort& port) {
  fs::path file = settings.recordFile;
  // Beside the queue, when the data folder could be had (a data folder that cannot is
  // said once already, and one that another program holds is that program's).
  if (file.empty() && dataFolderUsable) file = settings.dataFolder / "record.sqlite";
  if (file.empty()) return nullptr;
  std::string reason;
  std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(file, &reason);
  if (record) return record;
  // Downloads go on; only their entries are lost (said once, when the window is up).
  const Message message{MessageKind::kRecordUnavailable,
                        {FromUtf8(file.string()), FromUtf8(reason)}};
  DebugLine(u"no download record: " + message.args[0] + u" (" + message.args[1] + u")");
  port.Post([&port, message] { port.ShowMessage(message); });
  return nullptr;
}

std::optional<DownloadedBefore> RecordedEntry(DownloadRecord* record, const SiteAdapter& adapter,
                                              std::u16string_view address) {
  if (record == nullptr) return std::nullopt;
  const std::optional<std::u16string> identity = adapter.Identity(address);
  if (!identity) return std::nullopt;
  const std::optional<RecordEntry> entry = record->Find(ToUtf8(adapter.Name()), ToUtf8(*identity));
  if (!entry) return std::nullopt;
  return DownloadedBefore{std::u16string(address), FromUtf8(entry->title), entry->when};
}

void RecordTask(DownloadRecord* record, const SiteList& sites, const Task& task,
                const fs::path& place) {
  if (record == nullptr) return;
  const SiteAdapter* adapter = sites.OfKind(task.GetSiteKind());
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
  if (!record->Add(entry)) DebugLine("record: entry not written for " + entry.identity);
}

void FollowComic(DownloadRecord* record, const SiteAdapter& adapter,
                 std::u16string_view lastChapter, const ComicMetadata& about) {
  if (record == nullptr) return;
  FollowedComic comic;
  comic.site = ToUtf8(adapter.Name());
  comic.comic = !about.seriesWeb.empty() ? about.seriesWeb
                : !about.series.empty()  ? about.series
                                         : ToUtf8(lastChapter);
  comic.title = about.series.empty() ? comic.comic : about.series;
  comic.lastChapter = ToUtf8(lastChapter);
  if (!record->Follow(comic)) DebugLine("record: cannot follow " + comic.comic);
}

}  // namespace pageloom
