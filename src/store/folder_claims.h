// One folder per task: a task folder remembers the source address it was made for (a small
// hidden file in it: the address as the user added it, then the task's own address where
// that differs, one a line), so that a task of another gallery or chapter with the same title
// gets a folder of its own, while the same one added again finds its pictures on disk.
//
// The claim is the decision: the source file is put in place with an exclusive create, so
// of two programs that want one folder at the same moment exactly one gets it and the
// other takes the next name.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pageloom {

// The file in a task folder that holds its source address.
inline constexpr char kFolderSourceFile[] = ".pageloom-source";
// A source file longer than this is no claim of this program's.
inline constexpr std::size_t kMaxSourceFileBytes = 8192;

// Whose a folder is, by its source file.
enum class FolderOwner {
  kFree,   // no source file: a new folder, or one of an earlier version
  kSame,   // it names the source (or one of its other names)
  kOther,  // anything else: another source, or a file that is not a plain small file
};

// Reads the source file of `folder` without following a link or waiting on a FIFO, and
// only a regular file of at most kMaxSourceFileBytes.
[[nodiscard]] FolderOwner OwnerOf(std::u16string_view folder,
                                  const std::vector<std::u16string>& sources);

// Runs with each folder name just before its claim (tests use it to line up two claims).
using ClaimHook = std::function<void(std::u16string_view folder)>;

// The folder a task of `sources.front()` gets when its title makes `made` (an existing
// folder, its path ending in '/'), claimed for it: `made` itself when it is free (it is
// claimed now, its file naming each of `sources`) or names one of `sources` (a folder that
// remembers an earlier name of the same task counts as its own); otherwise the last part of the
// path followed by " (tag)" (then " (tag-2)", ...), made and claimed. An empty last part becomes
// the tag alone, so a task never lands in the save folder itself. A name fits kPathCapacity - 1
// units with `room` units to spare for a file name: the title gives way for the tag. A name for
// which `takenElsewhere` says yes (an archive of another source made from a folder of that name,
// say) is another source's too. Empty when no folder could be made or claimed.
[[nodiscard]] std::u16string ClaimTaskFolder(
    std::u16string_view made, const std::vector<std::u16string>& sources, std::u16string_view tag,
    std::size_t room = 0, const std::function<bool(std::u16string_view)>& takenElsewhere = {},
    const ClaimHook& hook = {});

}  // namespace pageloom
