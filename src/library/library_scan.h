// The tasks found in a folder tree made by this program: task folders (they hold the
// source mark) and the archives it packed. What a user's existing library holds, for the
// download record to start from.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "library/cbz_packer.h"

namespace pageloom {

struct FoundTask {
  std::filesystem::path place;       // the task folder or the archive
  std::vector<std::string> sources;  // the addresses it was made for (as added first)
  std::string title;                 // from its info.json, else its name
  PackResult incomplete;             // why it is not complete (refusal kNone when it is)
};

// Every task folder and archive of this program under `root` (symbolic links are not
// followed, unreadable folders are passed over), in the order of the walk.
[[nodiscard]] std::vector<FoundTask> FindTasks(const std::filesystem::path& root);

}  // namespace pageloom
