#include "store/data_folder.h"

#include <cstdlib>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace pageloom {

namespace {

std::filesystem::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/tmp";
}

}  // namespace

std::filesystem::path DataFolder() {
  // An XDG variable that is not an absolute path is to be ignored.
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    base = HomeFolder() / ".local" / "share";
  }
  return base / "pageLoom";
}

}  // namespace pageloom
