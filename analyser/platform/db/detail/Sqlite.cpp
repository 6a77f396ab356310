// The SQLite plumbing shared by the files of the database layer; see
// Sqlite.h.
#include "platform/db/detail/Sqlite.h"

#include "platform/Error.h"
#include "platform/Text.h"

namespace ketch::db::detail {

std::string Quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string& LockedFile() {
  thread_local std::string file;
  return file;
}

void Fail(sqlite3* db, int rc, const std::string& sql) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (db) rc = sqlite3_extended_errcode(db);
  std::string description = Utf8ToCp1252(message);
  if ((rc & 0xff) == SQLITE_BUSY && !LockedFile().empty()) {
    description = "database is locked (by another program): " + LockedFile();
    LockedFile().clear();
  }
  if (!sql.empty()) description += " (SQL: " + Utf8ToCp1252(sql) + ")";
  throw Error(rc, "SQLite", description);
}

void Misuse(const std::string& text) { throw Error(SQLITE_MISUSE, "SQLite", text); }

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  sqlite3_free(err);
  if (rc != SQLITE_OK) Fail(db, rc, sql);
}

std::string ConnectFile(const std::string& connect) {
  size_t start = 0;
  while (start <= connect.size()) {
    size_t end = connect.find(';', start);
    if (end == std::string::npos) end = connect.size();
    std::string part = connect.substr(start, end - start);
    if (part.size() > 9 && SameAsciiIgnoringCase(std::string_view(part).substr(0, 9), "DATABASE="))
      return part.substr(9);
    start = end + 1;
  }
  throw PlatformErrorOf(errInvalidArgument);
}

std::vector<Column> Columns(sqlite3* db, const std::string& schema, const std::string& table) {
  Stmt s(db, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1, ?2)");
  s.Text(1, table).Text(2, schema);
  std::vector<Column> out;
  while (s.Step()) out.push_back({s.Column(0), s.Column(1), s.Int(2) != 0, static_cast<int>(s.Int(3))});
  return out;
}

int RowidColumn(const std::vector<Column>& cols) {
  int found = -1;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (cols[i].pk == 0) continue;
    if (found != -1 || cols[i].pk != 1) return -1;  // composite key: no alias
    found = SameAsciiIgnoringCase(cols[i].type, "INTEGER") ? static_cast<int>(i) : -1;
  }
  return found;
}

}  // namespace ketch::db::detail
