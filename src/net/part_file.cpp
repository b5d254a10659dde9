#include "net/part_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace pageloom {

namespace fs = std::filesystem;

namespace {

// The body goes to the file in pieces of at most this size.
constexpr std::size_t kPieceSize = 4096;
// Written data is handed to the disk in steps of this size during the transfer.
constexpr std::uint64_t kWriteBackStep = 8u << 20;
constexpr const char kPartSuffix[] = ".part";

// ".<name>.<pid>-<n>.part", with a hash for the name when that would be too long; n is
// random, so that the writers of one process (and one of its threads) never meet.
std::string TemporaryName(const std::string& name) {
  std::random_device random;
  const std::string tail =
      "." + std::to_string(::getpid()) + "-" + std::to_string(random()) + kPartSuffix;
  std::string temporary = "." + name + tail;
  if (temporary.size() > NAME_MAX)
    temporary = "." + std::to_string(std::hash<std::string>{}(name)) + tail;
  return temporary;
}

bool ProcessGone(long pid) {
  if (pid <= 0 || pid > INT_MAX) return true;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Whether a file named `name` is a temporary picture file whose writer is gone.
bool IsLeftover(const std::string& name) {
  const std::size_t suffix = sizeof kPartSuffix - 1;
  if (name.size() <= suffix + 1 || name[0] != '.' ||
      name.compare(name.size() - suffix, suffix, kPartSuffix) != 0)
    return false;
  const std::string stem = name.substr(0, name.size() - suffix);
  const std::size_t dot = stem.rfind('.');
  const std::string marker = dot == std::string::npos ? std::string() : stem.substr(dot + 1);
  const std::size_t dash = marker.find('-');
  const bool owned = dot > 0 && dash != std::string::npos && dash > 0 &&
                     marker.find_first_not_of("0123456789-") == std::string::npos;
  if (!owned) return true;  // a part file of an earlier version: nobody writes it any more
  return ProcessGone(std::strtol(marker.substr(0, dash).c_str(), nullptr, 10));
}

}  // namespace

PartFile::PartFile(fs::path target) : m_target(std::move(target)) {}

PartFile::~PartFile() {
  CloseFd();
  if (!m_named.empty()) ::unlink(m_named.c_str());
}

bool PartFile::Create() {
  const fs::path folder = m_target.has_parent_path() ? m_target.parent_path() : fs::path(".");
#ifdef O_TMPFILE
  // A file without a name: nothing is left behind whatever happens to the program.
  if (::access("/proc/self/fd", X_OK) == 0) {
    m_fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd >= 0) return true;
  }
#endif
  const fs::path named = folder / TemporaryName(m_target.filename().string());
  m_fd = ::open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (m_fd < 0) return false;
  m_named = named;
  return true;
}

bool PartFile::CloseFd() {
  if (m_fd < 0) return true;
  const bool ok = ::close(m_fd) == 0;
  m_fd = -1;
  return ok;
}

bool PartFile::Write(const char* data, std::size_t size) {
  if (m_committed || (m_fd < 0 && !Create())) return false;
  while (size > 0) {
    const ssize_t n = ::write(m_fd, data, std::min(size, kPieceSize));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    m_written += static_cast<std::uint64_t>(n);
  }
  // Large pictures start going to disk while they arrive, so that the flush before the
  // naming has little left to do.
  if (m_written - m_flushed >= kWriteBackStep) {
    ::sync_file_range(m_fd, static_cast<off_t>(m_flushed),
                      static_cast<off_t>(m_written - m_flushed), SYNC_FILE_RANGE_WRITE);
    m_flushed = m_written;
  }
  return true;
}

PartFile::Placed PartFile::Link(const fs::path& from, int flags) {
  if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, m_target.c_str(), flags) == 0)
    return Placed::kPlaced;
  if (errno == EEXIST) return Placed::kTaken;
  // A file system without links: a rename that never replaces, where there is one.
  if (!m_named.empty() && (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV) &&
      ::renameat2(AT_FDCWD, m_named.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) == 0) {
    m_named.clear();
    return Placed::kPlaced;
  }
  return errno == EEXIST ? Placed::kTaken : Placed::kFailed;
}

PartFile::Placed PartFile::Commit() {
  if (m_fd < 0 || m_committed) return Placed::kFailed;
  m_committed = true;
  if (::fsync(m_fd) != 0) return Placed::kFailed;
  Placed placed;
  if (m_named.empty()) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
    placed = Link(self, AT_SYMLINK_FOLLOW);
  } else {
    placed = Link(m_named, 0);
  }
  (void)CloseFd();  // the data is on disk already: a failing close changes nothing
  return placed;
}

void RemoveLeftoverPartFiles(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type;
    if (IsLeftover(name) && it->is_regular_file(type)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

}  // namespace pageloom
