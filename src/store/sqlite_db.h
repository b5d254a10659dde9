// A thin RAII layer over SQLite: a connection and prepared statements, with errors as
// results. Not thread-safe by itself; its owner serialises the calls.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <sqlite3.h>

namespace pageloom {

class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(sqlite3* db, std::string_view sql);
  explicit operator bool() const { return m_statement != nullptr; }

  // Parameters count from 1.
  SqliteStatement& Bind(int index, long long value);
  SqliteStatement& Bind(int index, std::string_view text);
  // SQLITE_ROW, SQLITE_DONE, or an error code.
  [[nodiscard]] int Step();
  // Step() until done; true when it ended in SQLITE_DONE.
  [[nodiscard]] bool Run();
  void Reset();

  long long Integer(int column) const;
  std::string Text(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> m_statement;
  bool m_bindFailed = false;
};

class SqliteDatabase {
 public:
  // Opens (or creates) the file. Check Ok() and ErrorCode().
  explicit SqliteDatabase(const std::filesystem::path& file);
  [[nodiscard]] bool Ok() const { return m_db != nullptr && m_openCode == SQLITE_OK; }
  int ErrorCode() const;  // the last primary error code
  std::string ErrorText() const;

  // Runs statements that give no rows. True on success.
  [[nodiscard]] bool Execute(std::string_view sql);
  [[nodiscard]] SqliteStatement Prepare(std::string_view sql);
  sqlite3* Handle() const { return m_db.get(); }
  int Changes() const { return sqlite3_changes(m_db.get()); }

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> m_db;
  int m_openCode = SQLITE_ERROR;
};

// True when `code` (a primary or extended result code) says the file is not a database
// or is damaged.
[[nodiscard]] bool IsDamage(int code);

}  // namespace pageloom
