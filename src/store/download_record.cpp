#include "store/download_record.h"

#include <ctime>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"

namespace pageloom {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS downloaded ("
    " site TEXT NOT NULL, identity TEXT NOT NULL, title TEXT NOT NULL,"
    " place TEXT NOT NULL, recorded INTEGER NOT NULL,"
    " PRIMARY KEY (site, identity)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS downloaded_identity ON downloaded (identity);"
    "CREATE TABLE IF NOT EXISTS followed ("
    " site TEXT NOT NULL, comic TEXT NOT NULL, title TEXT NOT NULL,"
    " last_chapter TEXT NOT NULL, last_check INTEGER NOT NULL DEFAULT 0,"
    " new_found INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (site, comic)) WITHOUT ROWID;";

// The file is the user's alone, as the queue is: made 0600 before SQLite opens it.
bool MakePrivate(const std::filesystem::path& file, std::string* error) {
  const UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (fd.Get() < 0) {
    if (error != nullptr) *error = std::system_category().message(errno);
    return false;
  }
  return true;
}

}  // namespace

DownloadRecord::DownloadRecord(std::unique_ptr<SqliteDatabase> db) : m_db(std::move(db)) {
  m_find = m_db->Prepare(
      "SELECT title, place, recorded FROM downloaded WHERE site = ?1 AND identity = ?2");
  m_add = m_db->Prepare(
      "INSERT INTO downloaded (site, identity, title, place, recorded) VALUES (?1, ?2, ?3, ?4, ?5)"
      " ON CONFLICT (site, identity) DO UPDATE SET title = ?3, place = ?4, recorded = ?5");
}

std::unique_ptr<DownloadRecord> DownloadRecord::Open(const std::filesystem::path& file,
                                                     std::string* error) {
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  if (!MakePrivate(file, error)) return nullptr;
  auto db = std::make_unique<SqliteDatabase>(file);
  const bool ready = db->Ok() && db->Execute("PRAGMA busy_timeout = 2000") &&
                     db->Execute("PRAGMA journal_mode = WAL") &&
                     db->Execute("PRAGMA synchronous = NORMAL") && db->Execute(kSchema);
  if (!ready) {
    if (error != nullptr) *error = db->ErrorText();
    return nullptr;
  }
  std::unique_ptr<DownloadRecord> record(new DownloadRecord(std::move(db)));
  if (!record->m_find || !record->m_add) {
    if (error != nullptr) *error = record->m_db->ErrorText();
    return nullptr;
  }
  return record;
}

std::optional<RecordEntry> DownloadRecord::Find(std::string_view site, std::string_view identity) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_find.Reset();
  m_find.Bind(1, site).Bind(2, identity);
  std::optional<RecordEntry> entry;
  if (m_find.Step() == SQLITE_ROW)
    entry = RecordEntry{std::string(site), std::string(identity), m_find.Text(0), m_find.Text(1),
                        m_find.Integer(2)};
  m_find.Reset();
  return entry;
}

bool DownloadRecord::AddLocked(const RecordEntry& entry) {
  m_add.Reset();
  m_add.Bind(1, entry.site).Bind(2, entry.identity).Bind(3, entry.title).Bind(4, entry.place);
  m_add.Bind(5, static_cast<long long>(entry.when));
  const bool done = m_add.Run();
  m_add.Reset();
  return done;
}

bool DownloadRecord::Add(const RecordEntry& entry) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return AddLocked(entry);
}

bool DownloadRecord::AddAll(const std::vector<RecordEntry>& entries) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_db->Execute("BEGIN IMMEDIATE")) return false;
  for (const RecordEntry& entry : entries) {
    if (!AddLocked(entry)) {
      (void)m_db->Execute("ROLLBACK");
      return false;
    }
  }
  return m_db->Execute("COMMIT");
}

int DownloadRecord::Forget(std::string_view site, std::string_view identity) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement forget =
      site.empty() ? m_db->Prepare("DELETE FROM downloaded WHERE identity = ?1")
                   : m_db->Prepare("DELETE FROM downloaded WHERE identity = ?1 AND site = ?2");
  forget.Bind(1, identity);
  if (!site.empty()) forget.Bind(2, site);
  return forget.Run() ? m_db->Changes() : 0;
}

std::int64_t DownloadRecord::Count() {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement count = m_db->Prepare("SELECT count(*) FROM downloaded");
  return count.Step() == SQLITE_ROW ? count.Integer(0) : 0;
}

bool DownloadRecord::Follow(const FollowedComic& comic) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement follow = m_db->Prepare(
      "INSERT INTO followed (site, comic, title, last_chapter) VALUES (?1, ?2, ?3, ?4)"
      " ON CONFLICT (site, comic) DO UPDATE SET title = ?3, last_chapter = ?4");
  follow.Bind(1, comic.site).Bind(2, comic.comic).Bind(3, comic.title).Bind(4, comic.lastChapter);
  return follow.Run();
}

bool DownloadRecord::Checked(const FollowedComic& comic) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement checked = m_db->Prepare(
      "UPDATE followed SET last_chapter = ?3, last_check = ?4, new_found = ?5"
      " WHERE site = ?1 AND comic = ?2");
  checked.Bind(1, comic.site).Bind(2, comic.comic).Bind(3, comic.lastChapter);
  checked.Bind(4, static_cast<long long>(comic.lastCheck)).Bind(5, comic.newFound);
  return checked.Run();
}

std::vector<FollowedComic> DownloadRecord::Followed() {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement all = m_db->Prepare(
      "SELECT site, comic, title, last_chapter, last_check, new_found FROM followed"
      " ORDER BY title, comic");
  std::vector<FollowedComic> comics;
  while (all.Step() == SQLITE_ROW)
    comics.push_back(FollowedComic{all.Text(0), all.Text(1), all.Text(2), all.Text(3),
                                   all.Integer(4), static_cast<int>(all.Integer(5))});
  return comics;
}

int DownloadRecord::Unfollow(std::string_view site, std::string_view comic) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SqliteStatement unfollow = m_db->Prepare("DELETE FROM followed WHERE site = ?1 AND comic = ?2");
  unfollow.Bind(1, site).Bind(2, comic);
  return unfollow.Run() ? m_db->Changes() : 0;
}

std::string RecordDate(std::int64_t when) {
  const std::time_t time = static_cast<std::time_t>(when);
  std::tm local{};
  char text[32] = {};
  if (localtime_r(&time, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d", &local) == 0)
    return "?";
  return text;
}

}  // namespace pageloom
