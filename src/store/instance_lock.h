// One program per queue: an exclusive lock on a file in the data folder, held for the
// life of the object. The lock goes with the process, so a program that was killed never
// blocks the next start.
#pragma once

#include <filesystem>
#include <optional>

namespace pageloom {

class InstanceLock {
 public:
  // Takes the lock on `file` (created when missing). Nothing when another process (or
  // another lock in this one) holds it, or the file cannot be made.
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

}  // namespace pageloom
