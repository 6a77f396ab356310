// Tables, links and indexes of a database: creating and removing them,
// finding them by name, and making indexed fields refuse nulls (by rebuilding
// a table this layer made, or with triggers on any other). The column SQL
// written here is also how a stored table is recognised as this layer's.
#include "platform/db/Database.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/db/detail/Sqlite.h"

namespace ketch::db {
using namespace detail;

namespace {

bool ZeroLengthCheck(const std::string& createSql, const std::string& column) {
  return createSql.find("CHECK (" + Quote(column) + " <> '')") != std::string::npos;
}

// The column definitions this layer writes; the same text is used to tell
// whether a stored table was made here (and may be rebuilt).
std::string ColumnSql(const std::string& name, bool integer, bool rowid, bool zeroLengthCheck,
                      bool notNull) {
  std::string s = Quote(name) + (integer ? " INTEGER" : " TEXT");
  if (rowid) s += " PRIMARY KEY";
  if (notNull) s += " NOT NULL";
  if (zeroLengthCheck) s += " CHECK (" + Quote(name) + " <> '')";
  return s;
}

}  // namespace

bool Database::HasTableDef(const std::string& name) const {
  if (FindLink(name)) return true;
  Stmt s(Use(), "SELECT 1 FROM sqlite_schema WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE");
  s.Text(1, name);
  return s.Step();
}

void Database::AppendTableDef(const TableDef& def) {
  sqlite3* db = Use();
  if (HasTableDef(def.Name))
    throw Error(SQLITE_ERROR, "SQLite", "table " + def.Name + " already exists");
  if (!def.Connect.empty()) {
    Link l{def.Name, def.Connect, LinkFile(def.Connect), def.SourceTableName, ""};
    Exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + kLinksTable +
                 " (Name TEXT PRIMARY KEY COLLATE NOCASE, Connect TEXT NOT NULL, SourceTable TEXT NOT NULL)");
    bool attachedBefore = schemas_.count(l.file) != 0;
    std::string schema = AttachFile(l.file);
    try {
      // The source table must exist now; the link would be dead otherwise.
      Stmt check(db, "SELECT 1 FROM " + schema + "." + Quote(Cp1252ToUtf8(l.source)) + " LIMIT 0");
      Stmt ins(db, std::string("INSERT INTO ") + kLinksTable + " (Name, Connect, SourceTable) VALUES (?1, ?2, ?3)");
      ins.Text(1, Cp1252ToUtf8(l.name)).Text(2, Cp1252ToUtf8(l.connect)).Text(3, Cp1252ToUtf8(l.source));
      ins.Step();
    } catch (const Error&) {
      if (!attachedBefore) DetachFile(l.file);
      throw;
    }
    links_.push_back(l);
    AttachFile(l.file);  // makes the view of the new link
    return;
  }
  if (def.Fields.empty()) throw PlatformErrorOf(errInvalidArgument);
  std::string sql = "CREATE TABLE " + Quote(Cp1252ToUtf8(def.Name)) + " (";
  bool haveAuto = false;
  for (size_t i = 0; i < def.Fields.size(); ++i) {
    const Field& f = def.Fields[i];
    bool autoIncr = (f.Attributes & dbAutoIncrField) != 0;
    // Only one 32-bit field can be the counter that becomes the rowid.
    if (autoIncr && (f.Type != dbLong || haveAuto)) throw PlatformErrorOf(errInvalidArgument);
    haveAuto = haveAuto || autoIncr;
    if (i) sql += ", ";
    sql += ColumnSql(Cp1252ToUtf8(f.Name), f.Type == dbLong, autoIncr, f.Type == dbText && !f.AllowZeroLength,
                     false);
  }
  Exec(db, sql + ")");
}

// Makes the fields refuse nulls. A table this layer made is rebuilt with NOT
// NULL columns, which costs nothing per row; any other table gets triggers.
void Database::RequireNotNull(const std::string& table, const std::vector<std::string>& fields) {
  std::string utable = Cp1252ToUtf8(table);
  std::vector<Column> cols = Columns(db_, "main", utable);
  std::string createSql;
  {
    Stmt s(db_, "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?1");
    s.Text(1, utable);
    if (s.Step()) createSql = s.Column(0);
  }
  int rowid = RowidColumn(cols);
  auto build = [&](const std::string& name, bool addNotNull) {
    std::string sql = "CREATE TABLE " + Quote(name) + " (";
    for (size_t i = 0; i < cols.size(); ++i) {
      bool required = cols[i].notNull && static_cast<int>(i) != rowid;
      for (const std::string& f : fields)
        if (addNotNull && SameAsciiIgnoringCase(f, cols[i].name) && static_cast<int>(i) != rowid) required = true;
      if (i) sql += ", ";
      sql += ColumnSql(cols[i].name, SameAsciiIgnoringCase(cols[i].type, "INTEGER"), static_cast<int>(i) == rowid,
                       ZeroLengthCheck(createSql, cols[i].name), required);
    }
    return sql + ")";
  };
  std::vector<std::string> quoted;
  for (const std::string& f : fields) quoted.push_back(Quote(f));

  if (build(utable, false) != createSql) {
    for (size_t k = 0; k < fields.size(); ++k) {
      std::string trig = utable + "." + fields[k] + ".required.";
      std::string body = " ON " + Quote(utable) + " WHEN NEW." + quoted[k] +
                         " IS NULL BEGIN SELECT RAISE(ABORT, 'Field " + utable + "." + fields[k] +
                         " cannot be null'); END";
      Exec(db_, "CREATE TRIGGER IF NOT EXISTS " + Quote(trig + "insert") + " BEFORE INSERT" + body);
      Exec(db_, "CREATE TRIGGER IF NOT EXISTS " + Quote(trig + "update") + " BEFORE UPDATE OF " + quoted[k] +
                    body);
    }
    return;
  }
  std::string rebuilt = build(utable, true);
  if (rebuilt == createSql) return;
  // Copy out, recreate with NOT NULL, copy back: a rename would make SQLite
  // check (and possibly refuse) every view of the file.
  std::vector<std::string> extras;
  {
    Stmt s(db_, "SELECT sql FROM sqlite_schema WHERE tbl_name = ?1 AND type IN ('index','trigger') AND sql NOT NULL");
    s.Text(1, utable);
    while (s.Step()) extras.push_back(s.Column(0));
  }
  Exec(db_, "SAVEPOINT ketch_rebuild");
  try {
    Exec(db_, "CREATE TEMP TABLE ketch_rebuild AS SELECT * FROM main." + Quote(utable));
    Exec(db_, "DROP TABLE main." + Quote(utable));
    Exec(db_, rebuilt);
    Exec(db_, "INSERT INTO main." + Quote(utable) + " SELECT * FROM temp.ketch_rebuild");
    Exec(db_, "DROP TABLE temp.ketch_rebuild");
    for (const std::string& e : extras) Exec(db_, e);
    Exec(db_, "RELEASE ketch_rebuild");
  } catch (const Error&) {
    sqlite3_exec(db_, "ROLLBACK TO ketch_rebuild; RELEASE ketch_rebuild", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "DROP TABLE IF EXISTS temp.ketch_rebuild", nullptr, nullptr, nullptr);
    throw;
  }
}

void Database::AppendIndex(const std::string& table, const Index& index) {
  sqlite3* db = Use();
  if (index.Fields.empty()) throw PlatformErrorOf(errInvalidArgument);
  std::string utable = Cp1252ToUtf8(table);
  std::vector<Column> cols = Columns(db, "main", utable);
  if (cols.empty()) throw PlatformErrorOf(errItemNotFound);
  std::vector<std::string> fields;
  for (const std::string& f : index.Fields) {
    bool found = false;
    for (const Column& c : cols)
      if (SameAsciiIgnoringCase(c.name, Cp1252ToUtf8(f))) {
        fields.push_back(c.name);
        found = true;
      }
    if (!found) throw PlatformErrorOf(errItemNotFound);
  }
  int rowid = RowidColumn(cols);
  // The rowid already is a unique, non-null index: a second one would only
  // slow every insert down.
  bool onRowid = fields.size() == 1 && rowid >= 0 && fields[0] == cols[rowid].name;
  if (onRowid && (index.Primary || index.Unique || index.Required)) return;
  if (index.Primary || index.Required) RequireNotNull(table, fields);
  std::string sql = std::string("CREATE ") + (index.Primary || index.Unique ? "UNIQUE " : "") + "INDEX " +
                    Quote(utable + "." + Cp1252ToUtf8(index.Name)) + " ON " + Quote(utable) + " (";
  for (size_t i = 0; i < fields.size(); ++i) sql += (i ? ", " : "") + Quote(fields[i]);
  Exec(db, sql + ")");
}

void Database::DeleteTableDef(const std::string& name) {
  sqlite3* db = Use();
  if (Link* l = FindLink(name)) {
    std::string file = l->file;
    bool attached = !l->schema.empty();
    Stmt del(db, std::string("DELETE FROM ") + kLinksTable + " WHERE Name = ?1");
    del.Text(1, Cp1252ToUtf8(l->name));
    del.Step();
    if (attached) Exec(db, "DROP VIEW IF EXISTS temp." + Quote(Cp1252ToUtf8(l->name)));
    links_.erase(links_.begin() + (l - links_.data()));
    bool used = false;
    for (const Link& o : links_) used = used || o.file == file;
    if (!used) DetachFile(file);
    return;
  }
  Stmt s(db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  s.Text(1, Cp1252ToUtf8(name));
  if (!s.Step()) throw PlatformErrorOf(errItemNotFound);
  std::string real = s.Column(0);
  Exec(db, "DROP TABLE main." + Quote(real));
  nextId_.erase(AsciiLowerCase("main." + real));
}

void Database::ReplaceLinks(const std::vector<TableDef>& defs) {
  sqlite3* db = Use();
  std::vector<Link> fresh;
  for (const TableDef& def : defs) {
    if (def.Connect.empty()) throw PlatformErrorOf(errInvalidArgument);
    if (!FindLink(def.Name) && HasTableDef(def.Name))
      throw Error(SQLITE_ERROR, "SQLite", "table " + def.Name + " already exists");
    fresh.push_back(Link{def.Name, def.Connect, LinkFile(def.Connect), def.SourceTableName, ""});
  }
  // No file may be attached inside a transaction: the rows change first, the
  // attachments after the commit.
  Exec(db, "BEGIN IMMEDIATE");
  try {
    Exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + kLinksTable +
                 " (Name TEXT PRIMARY KEY COLLATE NOCASE, Connect TEXT NOT NULL, SourceTable TEXT NOT NULL)");
    for (const Link& l : fresh) {
      Stmt del(db, std::string("DELETE FROM ") + kLinksTable + " WHERE Name = ?1");
      del.Text(1, Cp1252ToUtf8(l.name));
      del.Step();
      Stmt ins(db, std::string("INSERT INTO ") + kLinksTable + " (Name, Connect, SourceTable) VALUES (?1, ?2, ?3)");
      ins.Text(1, Cp1252ToUtf8(l.name)).Text(2, Cp1252ToUtf8(l.connect)).Text(3, Cp1252ToUtf8(l.source));
      ins.Step();
    }
    Exec(db, "COMMIT");
  } catch (const Error&) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  for (const Link& l : fresh) {
    if (Link* old = FindLink(l.name)) {
      const std::string file = old->file;
      if (!old->schema.empty()) Exec(db, "DROP VIEW IF EXISTS temp." + Quote(Cp1252ToUtf8(old->name)));
      links_.erase(links_.begin() + (old - links_.data()));
      bool used = false;
      for (const Link& o : links_) used = used || o.file == file;
      if (!used) DetachFile(file);
    }
  }
  for (Link& l : fresh) links_.push_back(std::move(l));
  AttachPending();
}

}  // namespace ketch::db
