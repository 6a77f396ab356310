// The database engine of the analyser: thin objects over SQLite that mirror the
// operations the rest of the program performs on its two database files
// (create with a locale, open, table and field and index definitions, linked
// tables, record sets). Text crosses this layer as code page 1252 bytes and is
// stored as UTF-8. Every SQLite failure becomes an Error carrying SQLite's
// result code as number, "SQLite" as source and SQLite's message (with the SQL
// text) as description.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ketch::db {

enum FieldType { dbLong = 4, dbText = 10 };
enum FieldAttributes { dbAutoIncrField = 16 };
enum RecordsetType { dbOpenTable = 1, dbOpenDynaset = 2, dbOpenForwardOnly = 8 };

// The locale string the data database is created with.
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";

struct Field {
  std::string Name;
  FieldType Type = dbText;
  int Attributes = 0;            // dbAutoIncrField
  bool AllowZeroLength = false;  // text only; when false "" is refused
};

struct Index {
  std::string Name;  // unique within its table only
  std::vector<std::string> Fields;
  bool Primary = false;   // unique and no nulls
  bool Required = false;  // no nulls
  bool Unique = false;
};

class Database;

// A table definition: a local table, or a link (Connect ";DATABASE=" + path,
// SourceTableName the table in that file).
struct TableDef {
  std::string Name;
  std::string Connect;
  std::string SourceTableName;
  std::vector<Field> Fields;
};

class Recordset;

class Database {
 public:
  // Creates a new database file; fails when the file exists. The locale must
  // name code page 1252 (the only text form stored).
  static std::unique_ptr<Database> Create(const std::string& path, const std::string& locale);
  // Opens an existing database file read-write, shared; fails when missing or
  // not a database. Attaches the files of its linked tables.
  static std::unique_ptr<Database> Open(const std::string& path);
  ~Database();  // Close()

  // Closes the database: an open transaction is committed, statements freed.
  void Close();
  const std::string& Name() const { return path_; }

  // Runs SQL text that returns no rows.
  void Execute(const std::string& sql);

  void BeginTrans();
  void CommitTrans();
  void Rollback();
  bool InTransaction() const;

  // Creates the table (all its fields) or, for a definition with Connect, the
  // persistent link, attached at once.
  void AppendTableDef(const TableDef& def);
  // Adds an index to a table of this database.
  void AppendIndex(const std::string& table, const Index& index);
  // Removes a table or a link; error 3265 when there is none of that name.
  void DeleteTableDef(const std::string& name);
  bool HasTableDef(const std::string& name) const;
  // Detaches a file the links point at, so that it can be deleted; its link
  // definitions stay and attach again on the next open or link.
  void ReleaseFile(const std::string& path);

  // dbOpenTable: appendable record set on a table. dbOpenDynaset: editable,
  // on a table, positioned on its first record. dbOpenForwardOnly: on a
  // table, a view or SQL text, read front to back.
  std::unique_ptr<Recordset> OpenRecordset(const std::string& source, RecordsetType type);

  sqlite3* Handle() const { return db_; }

 private:
  Database() = default;
  friend class Recordset;
  sqlite3* db_ = nullptr;
  std::string path_;
  std::map<std::string, int32_t> nextId_;  // per table: the next DB_ID to give
  // ... implementation state
};

// A record set. Fields are read by name ("Area") or by qualified name
// ("Entries.Line"); an unknown name raises error 3265.
class Recordset {
 public:
  ~Recordset();

  bool IsEOF() const;
  void MoveNext();

  const Variant& Fields(const std::string& name) const;
  const Variant& Fields(int index) const;
  int FieldIndex(const std::string& name) const;  // raises 3265
  int FieldCount() const;

  // Table record sets: starts a new record; an auto-increment field already
  // holds the value it will get. Dynasets: Edit puts the current record into
  // edit mode. SetField changes the pending record; Update writes it.
  void AddNew();
  void Edit();
  void SetField(const std::string& name, const Variant& value);
  void SetField(int index, const Variant& value);
  void Update();
  void Close();

 private:
  friend class Database;
  Recordset() = default;
  // ... implementation state
};

// Rewrites SQL text written for the original engine so that SQLite takes it:
// a keyword used as a qualifier ("Values.Link") is bracketed. Text inside
// quotes or brackets is left alone.
std::string AdaptSql(const std::string& sql);

}  // namespace ketch::db
