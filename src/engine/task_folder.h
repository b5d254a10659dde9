// Where a new task's pictures go: the save folder the user chose, then a folder named
// after the gallery's or chapter's title.
#pragma once

#include <string>
#include <string_view>

namespace pageloom {

// The save folder shown at start-up: $HOME/comic.
[[nodiscard]] std::u16string DefaultSaveFolder();

// The folder of a new task: `saveFolder`, '/', title (UTF-8, cut in place at " Page"), '/'.
// `output` holds kPathCapacity units. Returns `output`. Any thread.
// A '/' in the title becomes '_' (one folder); a backslash counts as '/', so a comic and
// chapter joined by one nest; a component of the title that reads "." or ".." becomes "_",
// so the folder stays inside the save folder. A path that would leave fewer than
// kPictureNameRoom of the kPathCapacity - 1 units for a picture's name loses the end of its
// title (the final '/' stays); only a save folder too long for even an empty title is cut.
char16_t* MakeTaskFolderPath(char16_t* output, char* title, std::u16string_view saveFolder);

}  // namespace pageloom
