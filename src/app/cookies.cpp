// The cookies of the controller's session and their file: read at start, written at the
// end and after every change the user makes, so a login lasts from one run to the next.
#include "app/task_controller.h"
#include "base/debug_line.h"

namespace pageloom {

std::filesystem::path TaskController::CookieFile() const {
  // The cookies belong with the queue: a program that has not got the queue's lock leaves
  // them to the one that has.
  if (m_settings.dataFolder.empty() || !m_tasks->HoldsDataFolder()) return {};
  return m_settings.dataFolder / "cookies.txt";
}

void TaskController::LoadCookieFile() {
  std::lock_guard<std::mutex> lock(m_cookieMutex);
  const std::filesystem::path file = CookieFile();
  if (file.empty()) return;
  RemoveStaleCookieFiles(file);  // the lock is this program's: nobody else is saving
  const CookieFileReading reading = LoadCookies(*m_session, file);
  // A file that is there but cannot be read is never overwritten with what little the
  // session holds.
  m_cookieFileWritable = reading.status != CookieFileStatus::kUnreadable;
  if (!m_cookieFileWritable)
    DebugLine("the cookie file cannot be read and is left alone: " + file.string());
}

bool TaskController::SaveCookieFile() {
  std::lock_guard<std::mutex> lock(m_cookieMutex);
  return SaveCookieFileLocked();
}

bool TaskController::SaveCookieFileLocked() {
  const std::filesystem::path file = CookieFile();
  if (file.empty() || !m_cookieFileWritable) return true;
  return SaveCookies(*m_session, file);
}

TaskController::CookieImport TaskController::ImportCookiesFrom(const std::filesystem::path& file) {
  std::lock_guard<std::mutex> lock(m_cookieMutex);
  CookieImport import;
  import.reading = LoadCookies(*m_session, file);
  if (import.reading.status == CookieFileStatus::kRead) {
    m_cookieFileWritable = true;  // what the user imports now outweighs an unreadable old file
    import.saved = SaveCookieFileLocked();
  }
  return import;
}

TaskController::CookieClearing TaskController::ClearCookieStore() {
  std::lock_guard<std::mutex> lock(m_cookieMutex);
  CookieClearing clearing;
  clearing.cleared = ClearCookies(*m_session);
  if (!clearing.cleared) return clearing;
  m_cookieFileWritable = true;
  clearing.saved = SaveCookieFileLocked();
  return clearing;
}

}  // namespace pageloom
