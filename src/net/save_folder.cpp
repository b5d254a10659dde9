#include "net/save_folder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "base/fixed_text.h"

namespace pageloom {

namespace {

namespace fs = std::filesystem;

// Anything at all at the path: a folder, a file, even a dangling link.
bool SomethingAt(const fs::path& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  return !ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
}

}  // namespace

FolderState EnsureFolder(std::u16string_view path) {
  if (SomethingAt(fs::path(ToUtf8(path)))) return FolderState::kExisted;
  while (path.size() > 1 && path.back() == u'/') path.remove_suffix(1);
  if (path.empty()) return FolderState::kFailed;
  const fs::path folder(ToUtf8(path));
  if (SomethingAt(folder)) return FolderState::kExisted;
  std::error_code ec;
  fs::create_directories(folder, ec);
  return !ec && fs::is_directory(folder, ec) ? FolderState::kCreated : FolderState::kFailed;
}

std::string PrepareWritableFolder(const std::string& path) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) {
    fs::create_directories(path, ec);
    if (ec) return ec.message();
    if (!fs::is_directory(path, ec)) return "not a folder";
  }
  std::string probe = path + "/.pageloom-probe-XXXXXX";
  const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return {};
}

}  // namespace pageloom
