#include "engine/save_folder_prompt.h"

#include <optional>
#include <string>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "engine/user_prompt.h"
#include "net/save_folder.h"

namespace pageloom {

namespace {

// The last part of `path` (without its final '/'), the name of the task's own folder.
std::u16string_view LastPart(std::u16string_view path) {
  while (!path.empty() && path.back() == u'/') path.remove_suffix(1);
  const std::size_t slash = path.rfind(u'/');
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// The task's folder inside a folder the user picked: `picked`/`name`/. Nothing when it
// would not fit the buffer or names no folder of its own.
std::optional<std::u16string> InsidePicked(const std::optional<std::u16string>& picked,
                                           std::u16string_view name) {
  if (!picked || picked->empty() || name.empty() || name == u"." || name == u".." ||
      picked->find(u'\0') != std::u16string::npos)
    return std::nullopt;
  std::u16string folder = *picked;
  if (folder.back() != u'/') folder.push_back(u'/');
  folder.append(name).push_back(u'/');
  if (folder.size() > kPathCapacity - 1) return std::nullopt;
  return folder;
}

}  // namespace

int PrepareSaveFolder(char16_t* path, UserPrompt& ui) {
  if (path == nullptr) return -1;
  // The task's own folder: a folder the user picks instead holds one of that name, so
  // that its pictures never lie loose among other files.
  const std::u16string ownName(LastPart(WideView(path, kPathCapacity)));
  // A picked folder is prepared again, as often as the user picks one that cannot be
  // made; a cancelled picker ends it.
  for (;;) {
    std::size_t length = WideLength(path, kPathCapacity);
    if (length == kPathCapacity) {  // unterminated: the last unit becomes the end
      length = kPathCapacity - 1;
      path[length] = 0;
    }
    const std::u16string original(path, length);
    // The separator, unless the path has one already or the buffer has no room for it.
    if (length > 0 && path[length - 1] != u'/' && length + 1 < kPathCapacity) {
      path[length] = u'/';
      path[length + 1] = 0;
      ++length;
    }
    // What exists at the path as it was passed in counts, whatever it is.
    if (EnsureFolder(original) != FolderState::kFailed) return 1;

    DebugLine(std::u16string_view(path, length));
    // The picker names the folder it is asked for, so the user knows which task it is.
    const std::optional<std::u16string> picked =
        ui.PickFolder(Message{MessageKind::kFolderNotCreated, {original}});
    // A folder path that does not fit the buffer is refused rather than cut: a cut
    // path would name some other folder.
    const std::optional<std::u16string> inside = InsidePicked(picked, ownName);
    if (!inside) {
      ui.ShowMessage(Message{MessageKind::kInvalidFolder, {}});
      return 1;
    }
    CopyWide(path, kPathCapacity, *inside);
  }
}

}  // namespace pageloom
