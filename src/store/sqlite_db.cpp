#include "store/sqlite_db.h"

#include <climits>

namespace pageloom {

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  if (db != nullptr && sql.size() < INT_MAX &&
      sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) ==
          SQLITE_OK)
    m_statement.reset(statement);
  else if (statement != nullptr)
    sqlite3_finalize(statement);
}

SqliteStatement& SqliteStatement::Bind(int index, long long value) {
  if (!m_statement || sqlite3_bind_int64(m_statement.get(), index, value) != SQLITE_OK)
    m_bindFailed = true;
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  if (!m_statement || text.size() >= INT_MAX ||
      sqlite3_bind_text(m_statement.get(), index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK)
    m_bindFailed = true;
  return *this;
}

int SqliteStatement::Step() {
  if (!m_statement) return SQLITE_MISUSE;
  if (m_bindFailed) return SQLITE_RANGE;
  return sqlite3_step(m_statement.get());
}

bool SqliteStatement::Run() {
  int code;
  do {
    code = Step();
  } while (code == SQLITE_ROW);
  return code == SQLITE_DONE;
}

void SqliteStatement::Reset() {
  if (!m_statement) return;
  sqlite3_reset(m_statement.get());
  sqlite3_clear_bindings(m_statement.get());
  m_bindFailed = false;
}

long long SqliteStatement::Integer(int column) const {
  return m_statement ? sqlite3_column_int64(m_statement.get(), column) : 0;
}

std::string SqliteStatement::Text(int column) const {
  if (!m_statement) return {};
  const auto* text = sqlite3_column_text(m_statement.get(), column);
  const int bytes = sqlite3_column_bytes(m_statement.get(), column);
  if (text == nullptr || bytes <= 0) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
}

SqliteDatabase::SqliteDatabase(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  m_openCode = sqlite3_open_v2(
      file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  m_db.reset(db);  // closed even when opening failed
  if (m_openCode == SQLITE_OK) sqlite3_extended_result_codes(db, 1);
}

int SqliteDatabase::ErrorCode() const {
  if (!m_db) return SQLITE_CANTOPEN;
  return sqlite3_errcode(m_db.get()) & 0xFF;
}

std::string SqliteDatabase::ErrorText() const {
  if (!m_db) return "cannot open";
  return sqlite3_errmsg(m_db.get());
}

bool SqliteDatabase::Execute(std::string_view sql) {
  if (!Ok()) return false;
  const std::string text(sql);
  return sqlite3_exec(m_db.get(), text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteStatement SqliteDatabase::Prepare(std::string_view sql) {
  return SqliteStatement(Ok() ? m_db.get() : nullptr, sql);
}

bool IsDamage(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

}  // namespace pageloom
