// A picture on its way to disk: a temporary file of its own in the picture's folder
// (unnamed where the file system allows it), flushed and put in place under the final name
// only when complete, and never over a file that is there already. Two writers of one
// picture therefore leave one complete picture, or none, never a truncated one.
#pragma once

#include <cstdint>
#include <filesystem>

namespace pageloom {

class PartFile {
 public:
  explicit PartFile(std::filesystem::path target);
  // Removes whatever of it was not put in place.
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // Appends bytes; the file is made with the first of them. False when it cannot be made
  // or written (a full disk, say).
  [[nodiscard]] bool Write(const char* data, std::size_t size);
  bool Created() const { return m_fd >= 0 || m_committed; }
  std::uint64_t Written() const { return m_written; }

  enum class Placed {
    kPlaced,  // the picture is on disk under its name now
    kTaken,   // another writer put a file there first: this one is dropped
    kFailed,  // flushing or naming failed: nothing of this one stays
  };
  // Flushes the file to disk (so that not even a power cut can leave a truncated picture
  // under the final name) and gives it the target's name.
  [[nodiscard]] Placed Commit();

 private:
  bool Create();
  bool CloseFd();
  Placed Link(const std::filesystem::path& from, int flags);

  std::filesystem::path m_target;
  std::filesystem::path m_named;  // the temporary name, when the file has one
  int m_fd = -1;
  bool m_committed = false;
  std::uint64_t m_written = 0;
  std::uint64_t m_flushed = 0;
};

// Removes the temporary picture files in `folder` whose writers are gone (a program that
// was killed): files named ".<name>.<pid>-<n>.part" of a process that no longer runs, and
// ".<name>.part" of earlier versions.
void RemoveLeftoverPartFiles(const std::filesystem::path& folder);

}  // namespace pageloom
