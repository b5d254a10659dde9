#include "library/task_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Names compared with runs of digits as numbers, then byte by byte.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::size_t ie = i;
      std::size_t je = j;
      while (ie < a.size() && IsDigit(a[ie])) ++ie;
      while (je < b.size() && IsDigit(b[je])) ++je;
      std::size_t is = i;
      std::size_t js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int order = a.compare(is, ie - is, b, js, je - js);
      if (order != 0) return order < 0;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
  return a < b;
}

}  // namespace

std::vector<PictureFile> PicturesInFolder(const fs::path& folder, bool withDimensions) {
  std::vector<PictureFile> pictures;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.' || name == kComicInfoFile || name == kInfoJsonFile) continue;
    std::error_code sizeError;
    if (!it->is_regular_file(sizeError) || it->is_symlink(sizeError)) continue;
    const std::uint64_t size = it->file_size(sizeError);
    if (sizeError) continue;
    pictures.push_back(PictureFile{name, size, std::nullopt});
  }
  std::sort(pictures.begin(), pictures.end(),
            [](const PictureFile& a, const PictureFile& b) { return NaturalLess(a.name, b.name); });
  if (withDimensions)
    for (PictureFile& picture : pictures)
      picture.dimensions = ReadPictureSize(folder / picture.name);
  return pictures;
}

bool HasPartFiles(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 6 && name[0] == '.' && name.compare(name.size() - 5, 5, ".part") == 0)
      return true;
  }
  return false;
}

std::vector<std::string> FolderSources(const fs::path& folder) {
  constexpr std::size_t kMostBytes = 8192;
  const UniqueFd fd(::open((folder / ".pageloom-source").c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat info {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) > kMostBytes)
    return {};
  std::string text(kMostBytes, '\0');
  std::size_t got = 0;
  for (ssize_t n = 0; got < text.size(); got += static_cast<std::size_t>(n)) {
    n = ::read(fd.Get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR)
      n = 0;
    else if (n <= 0)
      break;
  }
  text.resize(got);
  std::vector<std::string> sources;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (end > start) sources.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return sources;
}

std::string CutUtf8(const std::string& name, std::size_t bytes) {
  if (name.size() <= bytes) return name;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

std::string PartPrefix(const fs::path& target) {
  return "." + CutUtf8(target.filename().string(), 200) + ".";
}

fs::path PartNameFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  const std::string name =
      PartPrefix(target) + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".part";
  return target.parent_path() / name;
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

bool WriteFileAtomically(const fs::path& target, std::string_view bytes) {
  const fs::path part = PartNameFor(target);
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(part.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(part.c_str());
    return false;
  }
  SyncFolder(target.parent_path());
  return true;
}

}  // namespace pageloom
