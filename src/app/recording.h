// The download record as an engine uses it: opened with it, asked at Add whether a gallery
// or chapter was downloaded before, told of each task that ends complete, and told which
// comics are followed.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "app/controller_settings.h"
#include "app/window_port.h"
#include "engine/site_list.h"
#include "engine/task.h"

namespace pageloom {

class DownloadRecord;

// The record of `settings` (its own file, or record.sqlite in a usable data folder), or
// null: none asked for, or it could not be opened (said once through `port`).
[[nodiscard]] std::unique_ptr<DownloadRecord> OpenRecord(const ControllerSettings& settings,
                                                         bool dataFolderUsable, WindowPort& port);
// The record's entry of the gallery or chapter at `address`, if any.
[[nodiscard]] std::optional<DownloadedBefore> RecordedEntry(DownloadRecord* record,
                                                            const SiteAdapter& site,
                                                            std::u16string_view address);
// Adds a task that ended complete, stored at `place`.
void RecordTask(DownloadRecord* record, const SiteList& sites, const Task& task,
                const std::filesystem::path& place);
// Follows the comic of chapter `lastChapter` (the end of a chain just read).
void FollowComic(DownloadRecord* record, const SiteAdapter& site, std::u16string_view lastChapter,
                 const ComicMetadata& about);

}  // namespace pageloom
