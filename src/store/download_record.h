// The download record: what was downloaded complete, by the site's own identity of a
// gallery or chapter, so that the same one added again is known whatever became of its
// folder (deleted row, moved folder, packed archive). A small SQLite file of its own in the
// data folder (record.sqlite), or any file the user names. Safe to use from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/sqlite_db.h"

namespace pageloom {

struct RecordEntry {
  std::string site;       // the site's short name ("EH", "DMZJ")
  std::string identity;   // the site's own number of the gallery or chapter
  std::string title;      // UTF-8
  std::string place;      // the folder or archive it was stored in
  std::int64_t when = 0;  // seconds since the epoch
};

// A comic whose new chapters are looked for.
struct FollowedComic {
  std::string site;            // the site's short name
  std::string comic;           // the comic's address (its key)
  std::string title;           // the comic's name, UTF-8
  std::string lastChapter;     // the address of the last chapter its chain reached
  std::int64_t lastCheck = 0;  // when it was last checked, seconds since the epoch (0: never)
  int newFound = 0;            // the chapters its last check found
};

class DownloadRecord {
 public:
  // Opens (or creates) the record at `file`; null with `error` set when it cannot be had.
  [[nodiscard]] static std::unique_ptr<DownloadRecord> Open(const std::filesystem::path& file,
                                                            std::string* error = nullptr);

  // The entry of that gallery or chapter, if it was downloaded before.
  [[nodiscard]] std::optional<RecordEntry> Find(std::string_view site, std::string_view identity);
  // Adds the entry, or renews the one of the same site and identity. False when it could
  // not be written.
  [[nodiscard]] bool Add(const RecordEntry& entry);
  // Adds many entries in one transaction (an import). False when they could not be written.
  [[nodiscard]] bool AddAll(const std::vector<RecordEntry>& entries);
  // Removes the entry of that identity (of every site when `site` is empty); the number
  // removed.
  int Forget(std::string_view site, std::string_view identity);
  [[nodiscard]] std::int64_t Count();

  // --- followed comics ---
  // Follows a comic, or moves on the last chapter of one followed (its last check stays).
  [[nodiscard]] bool Follow(const FollowedComic& comic);
  // Writes what a check found: last chapter, time of the check, chapters found.
  [[nodiscard]] bool Checked(const FollowedComic& comic);
  // Every followed comic, by title.
  [[nodiscard]] std::vector<FollowedComic> Followed();
  // The number of comics no longer followed (0 or 1).
  int Unfollow(std::string_view site, std::string_view comic);

 private:
  explicit DownloadRecord(std::unique_ptr<SqliteDatabase> db);
  bool AddLocked(const RecordEntry& entry);

  std::mutex m_mutex;  // guards every statement
  std::unique_ptr<SqliteDatabase> m_db;
  SqliteStatement m_find;
  SqliteStatement m_add;
};

// "YYYY-MM-DD" of `when` in local time.
[[nodiscard]] std::string RecordDate(std::int64_t when);

}  // namespace pageloom
