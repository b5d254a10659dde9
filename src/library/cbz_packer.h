// A task folder packed as one CBZ: a ZIP archive (libzip) whose entries are the folder's
// pictures, stored as they are, flat, in page order, with ComicInfo.xml at its root. The
// archive is written under a hidden part name, flushed, read back and compared with the
// pictures byte for byte, and only then given its name; only then does the folder go.
// The archive's comment names its source, so that an archive is never overwritten by
// one of another gallery or chapter.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pageloom {

enum class PackStatus {
  kPacked,        // the archive is in place and the folder gone
  kAlreadyThere,  // an archive of the same source is there already: left as it is
  kTakenByOther,  // an archive of another source has that name: left as it is
  kRefused,       // the folder is not complete, or is no task folder (see refusal)
  kBusy,          // another program is packing this folder
  kFailed,        // writing or checking failed (a full disk, say); the folder stays whole
};

// Why a folder was not packed; the front ends say it in words.
enum class PackRefusal {
  kNone,             // packed, or there already
  kNoFolder,         // the folder is not there
  kNotATaskFolder,   // it has no source mark of this program
  kPictureInFlight,  // a picture of it is still being downloaded
  kNoPictures,       // it holds no picture
  kPicturesMissing,  // pictures are missing (missingCount of them)
  kUnfinished,       // its task has not finished
  kNoTask,           // no such task
  kTakenByOther,     // an archive of another source has its name
  kBusy,             // another program is packing it
  kWriteFailed,      // writing or checking the archive failed (detail)
  kNotNamed,         // the checked archive could not be given its name
};
constexpr int kPackRefusalCount = static_cast<int>(PackRefusal::kNotNamed) + 1;

struct PackResult {
  PackStatus status = PackStatus::kFailed;
  std::filesystem::path archive;
  PackRefusal refusal = PackRefusal::kNone;  // when not packed
  int missingCount = 0;                      // kPicturesMissing
  std::string detail;                        // kWriteFailed: the archive library's own words
};

// The archive of a task folder: the folder's path with ".cbz" added ("<save>/Title.cbz"),
// its name cut at a character when it would be longer than a file name may be.
[[nodiscard]] std::filesystem::path ArchivePathFor(const std::filesystem::path& folder);

// The addresses an archive of this program names, the one its task was added as first
// (an archive of an earlier version names one); none for another archive or none.
[[nodiscard]] std::vector<std::string> ArchiveSources(const std::filesystem::path& archive);
// The first of them.
[[nodiscard]] std::optional<std::string> ArchiveSource(const std::filesystem::path& archive);

// Whether an archive of a source other than `source` stands where the task folder
// `folder` would be packed.
[[nodiscard]] bool ArchiveOfOtherSource(const std::filesystem::path& folder,
                                        const std::string& source);

// Packs `folder` (a task folder whose source mark names `sources`, the address it was added
// as first) into its archive, with `comicInfo` as ComicInfo.xml when given, and removes the
// folder once the archive is verified. The archive names the first source; one already
// there that names any of them is the task's own. The folder must be complete: the caller
// has checked.
[[nodiscard]] PackResult PackFolder(const std::filesystem::path& folder,
                                    const std::vector<std::string>& sources,
                                    const std::string* comicInfo);

}  // namespace pageloom
