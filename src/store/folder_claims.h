// One folder per task: a task folder remembers the source address it was made for (a small
// hidden file in it), so that a task of another gallery or chapter with the same title
// gets a folder of its own, while the same one added again finds its pictures on disk.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pageloom {

// The file in a task folder that holds its source address.
inline constexpr char kFolderSourceFile[] = ".pageloom-source";

// The folder a task of `source` gets when its title makes `made` (a path ending in '/'):
// `made` itself when no folder is there, or the folder is the source's own, or it names
// no source (a folder of an earlier version is taken as it is); otherwise the last part
// of the path followed by " (tag)" (then " (tag-2)", ...). An empty last part becomes the
// tag alone, so a task never lands in the save folder itself. The result fits
// kPathCapacity - 1 units: the title gives way for the tag. A candidate for which
// `takenElsewhere` says yes (an archive of another source made from a folder of that
// name, say) counts as another source's too.
[[nodiscard]] std::u16string DistinctTaskFolder(
    std::u16string_view made, std::u16string_view source, std::u16string_view tag,
    const std::function<bool(std::u16string_view candidate)>& takenElsewhere = {});

// Marks `folder` (existing, ending in '/') as the folder of `source`, unless it names one
// already.
void ClaimTaskFolder(std::u16string_view folder, std::u16string_view source);

}  // namespace pageloom
