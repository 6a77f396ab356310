// The few pieces of SQLite plumbing that the files of the database layer
// share: a statement freed with its scope, running SQL text, turning a
// failure into the layer's Error, quoting names, and reading a table's
// columns. They live here so that every file raises the same errors in the
// same words.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ketch::db::detail {

// The table that keeps a database's persistent links.
inline constexpr const char* kLinksTable = "_ketch_Links";

// Quotes an SQL name, doubling the quotes inside it.
std::string Quote(const std::string& name);

// Raises SQLite's failure rc as an Error: the connection's extended code and
// message when there is a connection, and the SQL text when not empty.
[[noreturn]] void Fail(sqlite3* db, int rc, const std::string& sql);
// The file whose wait for another program's lock ran out on this thread,
// until the busy error it leads to is raised (Fail names it).
std::string& LockedFile();

// Raises SQLite's misuse code 21 with the given text.
[[noreturn]] void Misuse(const std::string& text);

// Runs SQL text that returns no rows; raises its failure.
void Exec(sqlite3* db, const std::string& sql);

// The file of a connect string ";DATABASE=path" (other parts ignored);
// raises errInvalidArgument when it names none.
std::string ConnectFile(const std::string& connect);

// A prepared statement that is finalised when it goes out of scope.
class Stmt {
 public:
  // Prepares sql; raises its failure.
  Stmt(sqlite3* db, const std::string& sql) : db_(db), sql_(sql) {
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &s_, nullptr);
    if (rc != SQLITE_OK) Fail(db, rc, sql);
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  // Binds text (copied) to parameter i.
  Stmt& Text(int i, const std::string& v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // Steps once: true for a row, false when done; raises a failure.
  bool Step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail(db_, rc, sql_);
    return false;
  }
  // Column i of the current row as text, "" for null.
  std::string Column(int i) {
    const unsigned char* t = sqlite3_column_text(s_, i);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  // Column i of the current row as an integer.
  int64_t Int(int i) { return sqlite3_column_int64(s_, i); }
  // The statement itself.
  sqlite3_stmt* get() { return s_; }

 private:
  sqlite3* db_;
  std::string sql_;
  sqlite3_stmt* s_ = nullptr;
};

// A column of a stored table.
struct Column {
  std::string name;
  std::string type;
  bool notNull = false;
  int pk = 0;
};

// The columns of schema.table in order (UTF-8 names); empty when there is no
// such table.
std::vector<Column> Columns(sqlite3* db, const std::string& schema, const std::string& table);

// The column that is the rowid (INTEGER PRIMARY KEY), or -1.
int RowidColumn(const std::vector<Column>& cols);

}  // namespace ketch::db::detail
