#include "engine/save_folder_prompt.h"

#include <optional>
#include <string>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "engine/user_prompt.h"
#include "net/save_folder.h"

namespace pageloom {

int PrepareSaveFolder(char16_t* path, UserPrompt& ui) {
  if (path == nullptr) return -1;
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
    const std::optional<std::u16string> picked =
        ui.PickFolder(Message{MessageKind::kFolderNotCreated, {}});
    // A folder path that does not fit the buffer is refused rather than cut: a cut
    // path would name some other folder.
    if (!picked || picked->empty() || picked->size() > kPathCapacity - 1 ||
        picked->find(u'\0') != std::u16string::npos) {
      ui.ShowMessage(Message{MessageKind::kInvalidFolder, {}});
      return 1;
    }
    CopyWide(path, kPathCapacity, *picked);
  }
}

}  // namespace pageloom
