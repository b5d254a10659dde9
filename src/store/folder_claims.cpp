#include "store/folder_claims.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "base/fixed_text.h"
#include "engine/safe_names.h"

namespace pageloom {

namespace {

namespace fs = std::filesystem;

enum class Owner { kFree, kSame, kOther };

fs::path SourceFileOf(std::u16string_view folder) {
  return fs::path(ToUtf8(folder)) / kFolderSourceFile;
}

Owner OwnerOf(std::u16string_view folder, std::u16string_view source) {
  std::ifstream in(SourceFileOf(folder), std::ios::binary);
  if (!in) return Owner::kFree;
  const std::string named((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return named == ToUtf8(source) ? Owner::kSame : Owner::kOther;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// `parent` (ending in '/') + `name` + suffix + '/', the name cut so that it all fits the
// path buffer and the component its file-name limit.
std::u16string Compose(std::u16string_view parent, std::u16string_view name,
                       std::u16string_view suffix) {
  const std::size_t room = kPathCapacity - 1;
  const std::size_t fixed = parent.size() + suffix.size() + 1;
  const std::size_t suffixBytes = Utf8Length(suffix);
  if (fixed >= room || suffixBytes >= kMaxComponentBytes) return {};
  std::size_t keep = std::min(name.size(), room - fixed);
  if (keep < name.size() && keep > 0 && IsHighSurrogate(name[keep - 1])) --keep;
  std::u16string path(parent);
  path.append(CutToUtf8Bytes(name.substr(0, keep), kMaxComponentBytes - suffixBytes));
  path.append(suffix).push_back(u'/');
  return path;
}

}  // namespace

std::u16string DistinctTaskFolder(
    std::u16string_view made, std::u16string_view source, std::u16string_view tag,
    const std::function<bool(std::u16string_view candidate)>& takenElsewhere) {
  std::u16string_view inner = made;
  while (!inner.empty() && inner.back() == u'/') inner.remove_suffix(1);
  const bool emptyName = made.size() >= 2 && made.substr(made.size() - 2) == u"//";
  const std::size_t slash = inner.rfind(u'/');
  const std::u16string_view parent =
      emptyName ? made.substr(0, made.size() - 1)
                : (slash == std::u16string_view::npos ? std::u16string_view()
                                                      : inner.substr(0, slash + 1));
  const std::u16string_view name =
      emptyName ? std::u16string_view()
                : inner.substr(slash == std::u16string_view::npos ? 0 : slash + 1);

  for (int n = 1; n < 1000; ++n) {
    std::u16string candidate;
    if (n == 1 && !emptyName) {
      candidate = std::u16string(made);
    } else {
      std::u16string suffix = std::u16string(tag) + (n > 2 ? u"-" + WideNumber(n - 1) : u"");
      if (!emptyName) suffix = u" (" + suffix + u")";
      candidate = Compose(parent, name, suffix);
    }
    if (candidate.empty()) break;
    const Owner owner = OwnerOf(candidate, source);
    if (owner == Owner::kSame) return candidate;
    if (owner == Owner::kFree && !(takenElsewhere && takenElsewhere(candidate))) return candidate;
  }
  return std::u16string(made);  // nothing better could be found
}

void ClaimTaskFolder(std::u16string_view folder, std::u16string_view source) {
  const fs::path file = SourceFileOf(folder);
  // Created only when missing: a folder never changes hands.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  const std::string text = ToUtf8(source);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (written != text.size()) {
    std::error_code ec;
    fs::remove(file, ec);  // half a name would name another source
  }
}

}  // namespace pageloom
