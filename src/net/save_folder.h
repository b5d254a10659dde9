// Making sure a folder exists before anything is written into it.
#pragma once

#include <string>
#include <string_view>

namespace pageloom {

enum class FolderState {
  kExisted,  // something was there already (a folder, or anything else)
  kCreated,  // made now, with its missing parents
  kFailed,   // it could not be made
};

// Creates the folder at `path` (UTF-16, a trailing '/' allowed) with its missing
// parents, unless something exists there already.
[[nodiscard]] FolderState EnsureFolder(std::u16string_view path);

// Makes `path` a folder (with its missing parents) unless it is one, and checks that files
// can be made in it by making one and removing it again. Empty when so; otherwise why not,
// in the system's words.
[[nodiscard]] std::string PrepareWritableFolder(const std::string& path);

}  // namespace pageloom
