// One program per queue: an exclusive lock on a file in the data folder, held for the
// life of the object. The lock goes with the process, so a program that was killed never
// blocks the next start.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pageloom {

struct LockAttempt;

class InstanceLock {
 public:
  // Takes the lock on `file` (created when missing).
  [[nodiscard]] static LockAttempt Take(const std::filesystem::path& file);
  // The same, without the reason: nothing when the lock could not be taken.
  [[nodiscard]] static std::optional<InstanceLock> Acquire(const std::filesystem::path& file);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : m_fd(fd) {}
  int m_fd = -1;
};

// What an attempt to take the lock gave: the lock, or why not.
struct LockAttempt {
  enum class Failure {
    kNone,      // the lock is taken
    kHeld,      // another process (or another lock in this one) holds it
    kUnusable,  // the lock file cannot be made or opened: `reason` says why
  };
  std::optional<InstanceLock> lock;
  Failure failure = Failure::kNone;
  std::string reason;  // the system's words, for kUnusable
};

}  // namespace pageloom
