#include "store/instance_lock.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace pageloom {

LockAttempt InstanceLock::Take(const std::filesystem::path& file) {
  LockAttempt attempt;
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    attempt.failure = LockAttempt::Failure::kUnusable;
    attempt.reason = std::strerror(errno);
    return attempt;
  }
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    attempt.failure =
        error == EWOULDBLOCK ? LockAttempt::Failure::kHeld : LockAttempt::Failure::kUnusable;
    attempt.reason = std::strerror(error);
    return attempt;
  }
  attempt.lock = InstanceLock(fd);
  return attempt;
}

std::optional<InstanceLock> InstanceLock::Acquire(const std::filesystem::path& file) {
  return std::move(Take(file).lock);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

InstanceLock::~InstanceLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing the last descriptor releases the lock
}

}  // namespace pageloom
