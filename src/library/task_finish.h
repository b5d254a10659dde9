// What happens to a task folder when its task ends: ComicInfo.xml and info.json written
// with the pictures, and, when the task is complete and asked for, the folder packed as
// a CBZ. Also the packing of a folder made earlier, refused for one that is not complete.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/comic_metadata.h"
#include "library/cbz_packer.h"

namespace pageloom {

struct FinishOptions {
  bool writeMetadata = true;
  bool saveCbz = false;
};

struct EndedTask {
  std::filesystem::path folder;
  std::string source;                // the address the task was made for
  bool complete = false;             // every picture is on disk
  std::vector<std::string> missing;  // names kept for the missing pictures
};

struct FinishOutcome {
  bool metadataWritten = false;
  std::optional<PackResult> pack;  // when packing was tried
};

// Writes the metadata files (from the info.json written when the task was added, else
// from the folder's name and the source) and packs a complete task's folder while its source
// mark names the task.
FinishOutcome FinishTaskFolder(const EndedTask& task, const FinishOptions& options);

// Writes info.json for a task just added, before any picture: its metadata and source.
bool WriteAddedInfo(const std::filesystem::path& folder, const ComicMetadata& metadata,
                    const std::string& source);

// Packs a folder this program made earlier (it holds the source mark), with its
// ComicInfo.xml when it has one. Refused, with a reason, for a folder that is not
// complete: pictures missing by its info.json, fewer pictures than the site announced,
// a picture still on its way, or no picture at all.
PackResult PackTaskFolder(const std::filesystem::path& folder);

// Why a folder this program made is not complete, as above, as a refusal to pack it;
// PackRefusal::kNone when it is complete.
[[nodiscard]] PackResult WhyIncomplete(const std::filesystem::path& folder);

}  // namespace pageloom
