// The database engine of the analyser: thin objects over SQLite that mirror the
// operations the rest of the program performs on its two database files
// (create with a locale, open, table and field and index definitions, linked
// tables, record sets). Text crosses this layer as code page 1252 bytes and is
// stored as UTF-8. Every SQLite failure becomes an Error carrying SQLite's
// result code as number, "SQLite" as source and SQLite's message (with the SQL
// text) as description. A database and its record sets are used from one
// thread (which may hand the writing of new rows to a thread of the
// database's own: WriteInBackground).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
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
class Checkpointer;
class RowWriter;

// A table definition: a local table, or a link (Connect ";DATABASE=" + path,
// SourceTableName the table in that file).
struct TableDef {
  std::string Name;
  std::string Connect;
  std::string SourceTableName;
  std::vector<Field> Fields;
};

class Recordset;

// How long a statement waits for a lock that another program holds on a
// database file before it fails with SQLite's busy error: KETCH_LOCK_WAIT
// (seconds, a decimal such as "0.5") when it is set and valid, else 10 s.
std::chrono::milliseconds LockWait();

// Told once per wait for a lock of another program, with the database's
// file (its path as given), on the thread that owns the database: a wait
// of its writing thread is told when that thread is next waited for.
void SetLockNotice(std::function<void(const std::string& file)> notice);

class Database {
 public:
  // Creates a new database file; fails when the file exists. The locale must
  // name code page 1252 (the only text form stored).
  static std::unique_ptr<Database> Create(const std::string& path, const std::string& locale);
  // Opens an existing database file read-write, shared; fails when missing or
  // not a database. Attaches the files of its linked tables.
  static std::unique_ptr<Database> Open(const std::string& path);
  ~Database();  // Close()
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Closes the database: an open transaction is committed, statements freed;
  // record sets still open on it are closed too.
  void Close();
  // The file's path as it was given.
  const std::string& Name() const { return path_; }

  // Runs SQL text that returns no rows (after AdaptSql); several statements
  // separated by ";" run in order.
  void Execute(const std::string& sql);

  // From now on until Close the log of a WAL database is copied back into it
  // by a thread of its own rather than by the commits (see Checkpointer.h).
  void CheckpointInBackground();
  // From now on until Close, Update of a new record on a table record set,
  // BeginTrans and CommitTrans hand their work to a thread of the database's
  // own (see RowWriter.h) and return at once; every other use of the
  // database or of its record sets first waits for that work (WaitForWrites).
  // A row or statement that fails raises its error once, at the next of these
  // calls or at the next such use (Close included, after closing); what was
  // handed over after it is not carried out.
  void WriteInBackground();
  // Returns when every row and statement handed to the writing thread is
  // done, so that other connections see the committed rows; raises a failure
  // as above. Does nothing without a writing thread.
  void WaitForWrites() const;

  // Starts a transaction; nested calls open savepoints inside it. With a
  // writing thread the transaction is the thread's: opened, committed and
  // counted by InTransaction in the order of the calls.
  void BeginTrans();
  // Commits the innermost transaction; error when none is open.
  void CommitTrans();
  // Undoes the innermost transaction; error when none is open.
  void Rollback();
  // True while a transaction is open.
  bool InTransaction() const;

  // Creates the table (all its fields) or, for a definition with Connect, the
  // persistent link, attached at once; the linked file must exist (it is
  // never created) and hold the source table.
  void AppendTableDef(const TableDef& def);
  // Adds an index to a table of this database; Required and Primary make its
  // fields refuse nulls from then on.
  void AppendIndex(const std::string& table, const Index& index);
  // Removes a table or a link; error 3265 when there is none of that name.
  void DeleteTableDef(const std::string& name);
  // Makes each definition (all with Connect) a link, replacing a link of the
  // same name, in one transaction: when any step fails (another program holds
  // the file, say), the stored links are as they were. Then attaches them;
  // a name that is a table of this database fails as AppendTableDef does.
  void ReplaceLinks(const std::vector<TableDef>& defs);
  // True when a table, view or link of that name (any letter case) exists.
  bool HasTableDef(const std::string& name) const;
  // Detaches a file the links point at, so that it can be deleted; its link
  // definitions stay and attach again on the next open or link.
  void ReleaseFile(const std::string& path);

  // dbOpenTable: appendable record set on a table (it has no current
  // record). dbOpenDynaset: editable, on a table, positioned on its first
  // record. dbOpenForwardOnly: on a table, a view or SQL text (after
  // AdaptSql), read front to back; it sees the rows committed before it.
  std::unique_ptr<Recordset> OpenRecordset(const std::string& source, RecordsetType type);

  // The database's own file, absolute, as SQLite opened it.
  std::string FileName() const;

  // The SQLite connection, for tools and tests (rows handed to the writing
  // thread are written first).
  sqlite3* Handle() const;

 private:
  struct Link {
    std::string name;    // local name
    std::string connect;
    std::string file;    // from Connect's DATABASE= part
    std::string source;  // table in that file
    std::string schema;  // attached schema, empty while not attached
  };

  // What a use of the connection first does about the work handed to the
  // writing thread.
  enum class Writes {
    Settle,  // waits for all of it and raises its failure (WaitForWrites)
    Check,   // raises a failure it met, without waiting for the rest
    Pass,    // nothing: the call hands work to the thread, or leaves it be
  };

  Database() = default;
  friend class Recordset;
  // The connection, once the writing thread is dealt with as asked; raises
  // misuse 21 "database is closed" when the database is closed.
  sqlite3* Use(Writes writes = Writes::Settle) const;
  // Opens the connection to an existing file; raises when missing or no database.
  void OpenHandle(const std::string& path);
  // SQLite's busy handler: sleeps in short steps up to LockWait, telling
  // SetLockNotice at the start of each wait.
  static int WaitForLock(void* self, int count);
  // Tells a wait the writing thread met, when there was one.
  void TellPendingWait() const;
  // Runs a statement now, or hands it to the writing thread.
  void Run(const std::string& sql);
  // The file a connect string names; a relative one (the file beside this
  // database, as a link into its own folder is stored) is taken from this
  // database's folder. Raises 5 without a DATABASE= part.
  std::string LinkFile(const std::string& connect) const;
  // Reads the stored links and attaches the files they point at.
  void LoadLinks();
  // Attaches what files of links it can; one that fails stays detached.
  void AttachPending();
  // Attaches a file (once) and makes the views of its links; returns its schema.
  std::string AttachFile(const std::string& file);
  // Detaches a file, its links' views and id counters; nothing when not attached.
  void DetachFile(const std::string& file);
  // The link of that name (any letter case), or null.
  Link* FindLink(const std::string& name);
  const Link* FindLink(const std::string& name) const;
  // Makes the fields (stored names) of a main table refuse nulls.
  void RequireNotNull(const std::string& table, const std::vector<std::string>& fields);
  // The next DB_ID of schema.table, counted on from its largest stored rowid.
  int32_t NextId(const std::string& key, const std::string& schema, const std::string& table);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::thread::id owner_;  // the thread that opened the database
  std::chrono::milliseconds lockWait_{0};
  std::chrono::steady_clock::time_point waitStart_{};  // of the current wait
  mutable std::atomic<bool> waitPending_{false};  // the writing thread began a wait not told yet
  std::map<std::string, int32_t> nextId_;  // per "schema.table": the next DB_ID to give
  std::vector<Link> links_;
  std::map<std::string, std::string> schemas_;  // attached file -> schema name
  int schemaSerial_ = 0;
  int transDepth_ = 0;
  int appliedDepth_ = 0;  // transDepth_ as far as the writing thread got
  std::set<Recordset*> recordsets_;  // closed with the database
  std::unique_ptr<Checkpointer> checkpointer_;
  std::unique_ptr<RowWriter> writer_;
};

// A record set. Fields are read by name ("Area") or by qualified name
// ("Entries.Line"); an unknown name raises error 3265.
class Recordset {
 public:
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // True when there is no current record (always for table record sets).
  bool IsEOF() const;
  // Moves to the next record; reaching the end makes IsEOF true.
  void MoveNext();

  // The value of a field of the current or pending record: by result name
  // first, then by "Table.Column"; 3265 for an unknown name, 6 for an
  // integer outside 32 bits.
  const Variant& Fields(const std::string& name) const;
  // The same by 0-based position; 9 outside the fields.
  const Variant& Fields(int index) const;
  // The position of a field name as Fields takes it; raises 3265.
  int FieldIndex(const std::string& name) const;
  // The number of fields.
  int FieldCount() const;

  // Table record sets: starts a new record; an auto-increment field already
  // holds the value it will get. Dynasets: Edit puts the current record into
  // edit mode. SetField changes the pending record; Update writes it.
  // Misuse (writing a forward-only set, Edit with no current record,
  // SetField or Update outside AddNew/Edit, setting the auto-increment field)
  // raises SQLite's misuse code 21; Update raises SQLite's error when the row
  // is refused, and the record stays pending (for a new record written in
  // the background: see Database::WriteInBackground).
  void AddNew();
  void Edit();
  void SetField(const std::string& name, const Variant& value);
  void SetField(int index, const Variant& value);
  void Update();
  // Frees the statements; further use raises 21.
  void Close();

 private:
  enum class Mode { None, Adding, Editing };
  friend class Database;
  friend class RowWriter;
  Recordset() = default;
  // Writes a new record now: values[i] where set[i] is not 0, null elsewhere.
  void WriteNew(const Variant* values, const char* set);
  // Binds the values to st (insert_ or update_), steps it and raises a refusal.
  void Write(sqlite3_stmt* st, const Variant* values, const char* set);
  // Copies the row st is on into values_.
  void Load(sqlite3_stmt* stmt);
  // Makes the record at the current position current, or sets EOF.
  void Fetch();
  // Binds a value to a parameter as the column's declared type takes it.
  void Bind(sqlite3_stmt* stmt, int param, int column, const Variant& value);
  // Raises misuse 21: "record set is closed", or text when ok is false.
  void Require(bool ok, const char* text) const;

  Database* db_ = nullptr;
  RecordsetType type_ = dbOpenForwardOnly;
  std::string sql_;                      // for error texts
  std::string schema_, table_;           // written table
  std::string idKey_;                    // its entry in Database::nextId_
  sqlite3_stmt* read_ = nullptr;         // forward-only query, or dynaset row by rowid
  sqlite3_stmt* insert_ = nullptr;       // made once, reused for every AddNew
  sqlite3_stmt* update_ = nullptr;
  std::vector<std::string> names_;       // result column names
  std::vector<std::string> qualified_;   // "Table.Column", empty for expressions
  std::vector<char> textColumn_;         // 1: declared TEXT, 2: declared INTEGER
  std::vector<Variant> values_;          // the current record
  std::vector<char> overflow_;           // an integer beyond 32 bits
  std::vector<Variant> pending_;         // AddNew/Edit
  std::vector<char> set_;                // pending_ holds a value
  std::vector<std::string> scratch_;     // text bound until the next Update
  std::vector<int64_t> keys_;            // dynaset: rowids in order
  size_t pos_ = 0;
  int autoColumn_ = -1;
  bool eof_ = true;
  bool closed_ = false;
  Mode mode_ = Mode::None;
};

// Rewrites SQL text written for the original engine so that SQLite takes it:
// a keyword used as a qualifier ("Values.Link") is bracketed. Text inside
// quotes or brackets is left alone.
std::string AdaptSql(const std::string& sql);

}  // namespace ketch::db
