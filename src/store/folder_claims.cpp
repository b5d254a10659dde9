#include "store/folder_claims.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/fixed_text.h"
#include "base/unique_fd.h"
#include "engine/safe_names.h"
#include "net/save_folder.h"

namespace pageloom {

namespace {

std::string SourceFileOf(std::u16string_view folder) {
  std::string path = ToUtf8(folder);
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path + kFolderSourceFile;
}

enum class Claim { kOurs, kTaken, kImpossible };

// Puts the source file in place only when none is there: written whole beside it first and
// then linked under its name, so that nobody ever reads half a claim. Where the file
// system has no hard links, it is created exclusively and written in place.
Claim PlaceSourceFile(std::u16string_view folder, const std::string& text) {
  const std::string file = SourceFileOf(folder);
  std::string temporary = file + ".XXXXXX";
  const int made = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (made < 0) return Claim::kImpossible;
  bool written;
  {
    UniqueFd fd(made);
    written = ::fchmod(fd.Get(), 0644) == 0 && WriteAll(fd.Get(), text);
  }
  int linked = written ? ::link(temporary.c_str(), file.c_str()) : -1;
  const int linkError = errno;
  ::unlink(temporary.c_str());
  if (!written) return Claim::kImpossible;
  if (linked == 0) return Claim::kOurs;
  if (linkError == EEXIST) return Claim::kTaken;
  // No hard links here: the exclusive create decides, and the name is written after.
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (fd.Get() < 0) return errno == EEXIST ? Claim::kTaken : Claim::kImpossible;
  linked = WriteAll(fd.Get(), text) ? 0 : -1;
  if (linked != 0) ::unlink(file.c_str());  // half a name would name another source
  return linked == 0 ? Claim::kOurs : Claim::kImpossible;
}

bool IsFolder(std::u16string_view path) {
  struct stat info {};
  return ::stat(ToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// `parent` (ending in '/') + `name` + suffix + '/', the name cut so that it all fits the
// path buffer with `spare` units left, and the component its file-name limit.
std::u16string Compose(std::u16string_view parent, std::u16string_view name,
                       std::u16string_view suffix, std::size_t spare) {
  const std::size_t room = kPathCapacity - 1;
  const std::size_t fixed = parent.size() + suffix.size() + 1 + spare;
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

FolderOwner OwnerOf(std::u16string_view folder, const std::vector<std::u16string>& sources) {
  // Neither a link, nor a FIFO or a device: only a small regular file is a claim.
  UniqueFd fd(::open(SourceFileOf(folder).c_str(),
                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.Get() < 0) return errno == ENOENT ? FolderOwner::kFree : FolderOwner::kOther;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) > kMaxSourceFileBytes)
    return FolderOwner::kOther;
  std::string named(kMaxSourceFileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < named.size()) {
    const ssize_t n = ::read(fd.Get(), named.data() + got, named.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FolderOwner::kOther;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > kMaxSourceFileBytes) return FolderOwner::kOther;
  named.resize(got);
  // One address a line; a file of an earlier version holds one without a line end.
  for (std::size_t start = 0; start < named.size();) {
    const std::size_t end = std::min(named.find('\n', start), named.size());
    const std::string_view line(named.data() + start, end - start);
    for (const std::u16string& source : sources)
      if (!source.empty() && line == ToUtf8(source)) return FolderOwner::kSame;
    start = end + 1;
  }
  return FolderOwner::kOther;
}

std::u16string ClaimTaskFolder(std::u16string_view made, const std::vector<std::u16string>& sources,
                               std::u16string_view tag, std::size_t room,
                               const std::function<bool(std::u16string_view)>& takenElsewhere,
                               const ClaimHook& hook) {
  if (sources.empty()) return {};
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
  // Every name of the task, one a line, the first one first; each only once.
  std::string text;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (sources[i].empty() ||
        std::find(sources.begin(), sources.begin() + i, sources[i]) != sources.begin() + i)
      continue;
    text += (text.empty() ? "" : "\n") + ToUtf8(sources[i]);
  }

  for (int n = 1; n < 1000; ++n) {
    std::u16string candidate;
    if (n == 1 && !emptyName) {
      candidate = std::u16string(made);
    } else {
      std::u16string suffix = std::u16string(tag) + (n > 2 ? u"-" + WideNumber(n - 1) : u"");
      if (!emptyName) suffix = u" (" + suffix + u")";
      candidate = Compose(parent, name, suffix, room);
      if (candidate.empty() || EnsureFolder(candidate) == FolderState::kFailed) break;
    }
    // An archive of another source where this folder would be packed: its name is taken.
    if (takenElsewhere && takenElsewhere(candidate)) {
      if (OwnerOf(candidate, sources) == FolderOwner::kSame) return candidate;
      continue;
    }
    if (hook) hook(candidate);
    switch (PlaceSourceFile(candidate, text)) {
      case Claim::kOurs:
        return candidate;
      case Claim::kTaken:
        if (OwnerOf(candidate, sources) == FolderOwner::kSame) return candidate;
        break;
      case Claim::kImpossible:
        // Nothing can be written here: a folder of no other source is used as it is (its
        // pictures will fail with their reason), another's is left to it.
        if (IsFolder(candidate) && OwnerOf(candidate, sources) != FolderOwner::kOther)
          return candidate;
        break;
    }
  }
  return {};
}

}  // namespace pageloom
