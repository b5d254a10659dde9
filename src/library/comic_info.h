// The metadata files written with a task's pictures: ComicInfo.xml, as reader apps and
// library servers import it (elements in the schema's order, UTF-8), and info.json, which
// holds every field read, the source address, the pictures with their sizes and whether
// the task is complete. info.json is also read back, to pack a folder later.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/comic_metadata.h"
#include "library/task_files.h"

namespace pageloom {

// The two-letter code of a language as the sites name it ("Japanese" gives "ja"), or
// empty when it is not known.
[[nodiscard]] std::string LanguageIso(std::string_view language);

// ComicInfo.xml for these pictures, well-formed whatever the texts hold (characters XML
// cannot carry are dropped).
[[nodiscard]] std::string ComicInfoXml(const ComicMetadata& metadata,
                                       const std::vector<PictureFile>& pictures);

// What info.json says of a folder.
struct FolderInfo {
  ComicMetadata metadata;
  std::string source;
  bool complete = false;
  std::vector<std::string> missing;  // names kept for the pictures still missing
  std::vector<PictureFile> files;
};

[[nodiscard]] std::string InfoJson(const FolderInfo& info);
// Nothing when the text is no info.json of this program.
[[nodiscard]] std::optional<FolderInfo> ParseInfoJson(std::string_view text);
[[nodiscard]] std::optional<FolderInfo> ReadInfoJson(const std::filesystem::path& folder);

}  // namespace pageloom
