// The files of a task folder as a reader's library sees them: its pictures in page order,
// and the small files written beside them, each written whole or not at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/picture_header.h"

namespace pageloom {

inline constexpr char kComicInfoFile[] = "ComicInfo.xml";
inline constexpr char kInfoJsonFile[] = "info.json";

struct PictureFile {
  std::string name;  // the file's name in its folder (UTF-8)
  std::uint64_t size = 0;
  std::optional<PictureSize> dimensions;  // when its header gives them
};

// The pictures of `folder`, in page order: every regular file but hidden ones (the
// source mark, pictures on their way) and the metadata files, ordered by name with
// runs of digits compared as numbers ("2.jpg" before "10.jpg"). With `withDimensions`
// each picture's header is read for its size.
[[nodiscard]] std::vector<PictureFile> PicturesInFolder(const std::filesystem::path& folder,
                                                        bool withDimensions);

// Whether `folder` holds a picture on its way to disk (a part file).
[[nodiscard]] bool HasPartFiles(const std::filesystem::path& folder);

// The addresses named by the folder's mark, one a line: the address its task was added as
// first, then the task's own address where that differs (a mark of an earlier version
// names only the latter). Only a regular file of at most 8 KiB is read, never through a
// link or a FIFO; empty when there is none.
[[nodiscard]] std::vector<std::string> FolderSources(const std::filesystem::path& folder);

// Writes `bytes` as `target`: into a hidden part file beside it, flushed to disk, then
// renamed over it, so that the target is always either the old file or the new one
// whole. False (and nothing left behind) when that fails, a full disk say.
[[nodiscard]] bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Flushes the folder's entries (a rename or an unlink in it) to disk.
void SyncFolder(const std::filesystem::path& folder);

// A name for a hidden part file beside `target`: ".<name>.<pid>-<n>.part", n unique in
// this process; <name> is PartPrefix's.
[[nodiscard]] std::filesystem::path PartNameFor(const std::filesystem::path& target);
// ".<name>." of the part files of `target`: its name cut (at a character) so that a part
// name, and a temporary name made from it, still fit a file name's 255 bytes.
[[nodiscard]] std::string PartPrefix(const std::filesystem::path& target);
// The longest start of `name` of at most `bytes` bytes that ends at a character.
[[nodiscard]] std::string CutUtf8(const std::string& name, std::size_t bytes);

}  // namespace pageloom
