#include "library/library_scan.h"

#include <optional>
#include <system_error>

#include "library/cbz_packer.h"
#include "library/comic_info.h"
#include "library/task_files.h"
#include "library/task_finish.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

// The title of a task folder: its comic and chapter or its gallery title, as info.json
// tells them, else the folder's name.
std::string TitleOf(const fs::path& folder) {
  if (const std::optional<FolderInfo> info = ReadInfoJson(folder)) {
    const ComicMetadata& about = info->metadata;
    if (!about.series.empty() && !about.title.empty()) return about.series + " " + about.title;
    if (!about.title.empty()) return about.title;
  }
  return folder.filename().string();
}

}  // namespace

std::vector<FoundTask> FindTasks(const fs::path& root) {
  std::vector<FoundTask> found;
  std::error_code ec;
  fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && walk != fs::recursive_directory_iterator(); walk.increment(ec)) {
    const fs::directory_entry& entry = *walk;
    std::error_code kind;
    if (entry.is_symlink(kind)) continue;
    const fs::path& path = entry.path();
    if (entry.is_directory(kind)) {
      if (std::vector<std::string> sources = FolderSources(path); !sources.empty())
        found.push_back({path, std::move(sources), TitleOf(path), WhyIncomplete(path)});
    } else if (entry.is_regular_file(kind) && path.extension() == ".cbz") {
      // An archive is only ever named once it is complete and verified.
      if (std::vector<std::string> sources = ArchiveSources(path); !sources.empty())
        found.push_back({path, std::move(sources), path.stem().string(), PackResult{}});
    }
  }
  return found;
}

}  // namespace pageloom
