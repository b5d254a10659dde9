#include "net/save_folder.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "app/user_prompt.h"
#include "text/debug_line.h"
#include "text/fixed_text.h"

namespace pageloom {

namespace {

namespace fs = std::filesystem;

constexpr char16_t kPickerTitle[] = u"创建文件夹失败，请手动选择漫画保存文件夹：";
constexpr char16_t kInvalidFolder[] = u"无效的目录，请重新选择";

fs::path ToFsPath(std::u16string_view path) { return fs::path(ToUtf8(path)); }

// Anything at all at the path: a folder, a file, even a dangling link.
bool SomethingAt(const fs::path& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  return !ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
}

// Creates the folder and its missing parents. True when it exists afterwards.
bool CreateFolder(std::u16string_view path) {
  while (path.size() > 1 && path.back() == u'/') path.remove_suffix(1);
  if (path.empty()) return false;
  const fs::path folder = ToFsPath(path);
  std::error_code ec;
  fs::create_directories(folder, ec);
  return !ec && fs::is_directory(folder, ec);
}

}  // namespace

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
    const bool exists = SomethingAt(ToFsPath(std::u16string_view(path, length)));
    // The separator, unless the path has one already or the buffer has no room for it.
    if (length > 0 && path[length - 1] != u'/' && length + 1 < kPathCapacity) {
      path[length] = u'/';
      path[length + 1] = 0;
      ++length;
    }
    if (exists) return 1;
    const std::u16string_view folder(path, length);
    if (CreateFolder(folder)) return 1;

    DebugLine(folder);
    const std::optional<std::u16string> picked = ui.PickFolder(kPickerTitle);
    // A folder path that does not fit the buffer is refused rather than cut: a cut
    // path would name some other folder.
    if (!picked || picked->empty() || picked->size() > kPathCapacity - 1 ||
        picked->find(u'\0') != std::u16string::npos) {
      ui.ShowMessage(kInvalidFolder);
      return 1;
    }
    CopyWide(path, kPathCapacity, *picked);
  }
}

}  // namespace pageloom
