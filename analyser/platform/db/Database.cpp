// The database layer on SQLite: files, tables, indexes, persistent links
// (attached files behind temporary views) and record sets. Text is stored as
// UTF-8 and handed out as code page 1252 bytes; values are typed by the
// declared type of their column on the way in.
#include "platform/db/Database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

#include "platform/Error.h"
#include "platform/db/detail/Checkpointer.h"
#include "platform/Paths.h"
#include "platform/db/detail/RowWriter.h"
#include "platform/db/detail/Sqlite.h"
#include "platform/db/detail/WalBatching.h"
#include "platform/Text.h"

namespace ketch::db {
using namespace detail;

namespace {

// A file name as an SQLite URI, so that mode=rw can forbid creating it.
std::string FileUri(const std::string& path, const char* mode) {
  std::string out = path.size() && path[0] == '/' ? "file://" : "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "?mode=" + mode;
}

// In WAL mode NORMAL is safe against power loss and much faster; in the
// rollback-journal mode of other files it is not, so they keep the default.
void SetSynchronous(sqlite3* db) {
  Stmt s(db, "PRAGMA journal_mode");
  if (s.Step() && SameAsciiIgnoringCase(s.Column(0), "wal")) Exec(db, "PRAGMA synchronous=NORMAL");
}

// Each connection is used by one thread only (the checkpoint thread has its
// own), so SQLite takes no locks around connections, and it keeps no memory
// statistics (a lock around every allocation); together a few per cent of a
// whole analysis. It must be set before SQLite starts, hence before the
// first connection opens.
void ConfigureOnce() {
  [[maybe_unused]] static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    InstallWalBatching();
    return true;
  }();
}

}  // namespace

void Database::OpenHandle(const std::string& path) {
  ConfigureOnce();
  path_ = path;
  // Paths are Windows-style; only the opening maps them onto the file system.
  int rc = sqlite3_open_v2(FileUri(ResolvePath(path), "rw").c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw Error(rc, "SQLite", Utf8ToCp1252(message) + ": " + path);
  }
  sqlite3_extended_result_codes(db_, 1);
  // Another connection may hold a write lock for a moment (the data file is
  // written by one connection while another reads it).
  sqlite3_busy_timeout(db_, 10000);
  // Reading the schema is what tells a database from any other file.
  Exec(db_, "SELECT count(*) FROM sqlite_schema");
  SetSynchronous(db_);
}

std::unique_ptr<Database> Database::Create(const std::string& path, const std::string& locale) {
  if (AsciiLowerCase(locale).find("cp=1252") == std::string::npos) throw PlatformErrorOf(errInvalidArgument);
  // O_EXCL makes "fails when the file exists" hold even against a racing
  // creator; SQLite takes the empty file as a new database.
  int fd = ::open(ResolvePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    int err = errno;
    throw Error(SQLITE_CANTOPEN, "SQLite",
                std::string(err == EEXIST ? "database file already exists" : std::strerror(err)) + ": " +
                    path);
  }
  ::close(fd);
  std::unique_ptr<Database> d(new Database);
  d->OpenHandle(path);
  // WAL lets a query on another connection read committed rows while this
  // one goes on writing.
  Exec(d->db_, "PRAGMA journal_mode=WAL");
  SetSynchronous(d->db_);
  return d;
}

std::unique_ptr<Database> Database::Open(const std::string& path) {
  std::unique_ptr<Database> d(new Database);
  d->OpenHandle(path);
  d->LoadLinks();
  return d;
}

Database::~Database() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; Close already freed the connection.
  }
}

void Database::Close() {
  if (!db_) return;
  // The rows handed over belong to the transaction about to be committed.
  std::exception_ptr failure;
  if (writer_) failure = writer_->Finish();
  writer_.reset();
  for (Recordset* rs : std::set<Recordset*>(recordsets_)) rs->Close();
  recordsets_.clear();
  int rc = SQLITE_OK;
  std::string message;
  if (!sqlite3_get_autocommit(db_)) {
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) message = sqlite3_errmsg(db_);
  }
  checkpointer_.reset();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  transDepth_ = 0;
  // A refused row came first; the failed commit may be its consequence.
  if (failure) std::rethrow_exception(failure);
  if (rc != SQLITE_OK) throw Error(rc, "SQLite", Utf8ToCp1252(message) + " (SQL: COMMIT)");
}

void Database::CheckpointInBackground() {
  if (!db_) Misuse("database is closed");
  if (!checkpointer_) checkpointer_ = std::make_unique<Checkpointer>(db_);
}

void Database::WriteInBackground() {
  if (!db_) Misuse("database is closed");
  if (writer_) return;
  appliedDepth_ = transDepth_;
  writer_ = std::make_unique<RowWriter>(
      [this](const std::string& sql) {
        Exec(db_, sql);
        // Only BeginTrans and CommitTrans hand statements over.
        appliedDepth_ += sql.starts_with("BEGIN") || sql.starts_with("SAVEPOINT") ? 1 : -1;
      },
      // What failed and what followed was not done: the transactions open
      // are those the thread opened and did not close.
      [this] { transDepth_ = appliedDepth_; });
}

void Database::WaitForWrites() const {
  if (writer_) writer_->Settle();
}

void Database::Run(const std::string& sql) {
  if (writer_)
    writer_->Execute(sql);
  else
    Exec(db_, sql);
}

sqlite3* Database::Handle() const {
  if (writer_) writer_->Wait();
  return db_;
}

void Database::Execute(const std::string& sql) {
  if (!db_) Misuse("database is closed");
  WaitForWrites();
  AttachPending();
  Exec(db_, AdaptSql(Cp1252ToUtf8(sql)));
}

void Database::BeginTrans() {
  if (!db_) Misuse("database is closed");
  // IMMEDIATE takes the write lock now, so a later write cannot fail on a
  // snapshot that another connection made stale.
  Run(transDepth_ == 0 ? std::string("BEGIN IMMEDIATE") : "SAVEPOINT ketch_" + std::to_string(transDepth_));
  ++transDepth_;
}

void Database::CommitTrans() {
  if (transDepth_ == 0 || !db_) Misuse("no transaction is open");
  Run(transDepth_ == 1 ? std::string("COMMIT") : "RELEASE ketch_" + std::to_string(transDepth_ - 1));
  --transDepth_;
}

void Database::Rollback() {
  if (transDepth_ == 0 || !db_) Misuse("no transaction is open");
  WaitForWrites();
  if (transDepth_ == 1) {
    Exec(db_, "ROLLBACK");
  } else {
    std::string sp = "ketch_" + std::to_string(transDepth_ - 1);
    Exec(db_, "ROLLBACK TO " + sp + "; RELEASE " + sp);
  }
  --transDepth_;
  // Rolled-back rows gave their ids back; count again from what is stored.
  nextId_.clear();
}

bool Database::InTransaction() const {
  if (!db_) return false;
  if (writer_) {
    writer_->Check();
    return transDepth_ > 0;
  }
  return !sqlite3_get_autocommit(db_);
}

Database::Link* Database::FindLink(const std::string& name) {
  for (Link& l : links_)
    if (SameAsciiIgnoringCase(l.name, name)) return &l;
  return nullptr;
}

const Database::Link* Database::FindLink(const std::string& name) const {
  return const_cast<Database*>(this)->FindLink(name);
}


void Database::LoadLinks() {
  Stmt has(db_, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1");
  has.Text(1, kLinksTable);
  // A file written by another tool has no link table: then it has no links.
  if (!has.Step()) return;
  Stmt s(db_, std::string("SELECT Name, Connect, SourceTable FROM ") + kLinksTable + " ORDER BY rowid");
  while (s.Step()) {
    Link l{Utf8ToCp1252(s.Column(0)), Utf8ToCp1252(s.Column(1)), "", Utf8ToCp1252(s.Column(2)), ""};
    try {
      l.file = ConnectFile(l.connect);
    } catch (const Error&) {
      continue;  // not a file link: nothing this layer can attach
    }
    links_.push_back(std::move(l));
  }
  AttachPending();
}

// Attaches the files of links that are not attached yet. A file that cannot
// be attached (deleted, not yet made) stays detached without an error: the
// queries that use it report the missing table.
void Database::AttachPending() {
  for (Link& l : links_) {
    if (!l.schema.empty()) continue;
    try {
      AttachFile(l.file);
    } catch (const Error&) {
    }
  }
}

std::string Database::AttachFile(const std::string& file) {
  auto it = schemas_.find(file);
  std::string schema;
  if (it != schemas_.end()) {
    schema = it->second;
  } else {
    schema = "ketch_link" + std::to_string(++schemaSerial_);
    std::string sql = "ATTACH ?1 AS " + schema;
    Stmt s(db_, sql);
    // mode=rw: attaching must never create a missing file.
    s.Text(1, FileUri(ResolvePath(file), "rw"));
    s.Step();
    schemas_[file] = schema;
  }
  for (Link& l : links_) {
    if (l.file != file || !l.schema.empty()) continue;
    // A temporary view gives the link its local name on this connection
    // only; a simple view is flattened into queries, so indexes still serve.
    Exec(db_, "CREATE TEMP VIEW " + Quote(Cp1252ToUtf8(l.name)) + " AS SELECT * FROM " + schema + "." +
                  Quote(Cp1252ToUtf8(l.source)));
    l.schema = schema;
  }
  return schema;
}

void Database::DetachFile(const std::string& file) {
  auto it = schemas_.find(file);
  if (it == schemas_.end()) return;
  for (Link& l : links_) {
    if (l.file != file || l.schema.empty()) continue;
    Exec(db_, "DROP VIEW IF EXISTS temp." + Quote(Cp1252ToUtf8(l.name)));
    l.schema.clear();
  }
  Exec(db_, "DETACH " + it->second);
  for (auto n = nextId_.begin(); n != nextId_.end();)
    n = n->first.rfind(AsciiLowerCase(it->second) + ".", 0) == 0 ? nextId_.erase(n) : std::next(n);
  schemas_.erase(it);
}

void Database::ReleaseFile(const std::string& path) {
  if (!db_) Misuse("database is closed");
  WaitForWrites();
  DetachFile(path);
}


int32_t Database::NextId(const std::string& key, const std::string& schema, const std::string& table) {
  auto it = nextId_.find(key);
  if (it == nextId_.end()) {
    WaitForWrites();
    Stmt s(db_, "SELECT max(rowid) FROM " + schema + "." + Quote(table));
    s.Step();
    int64_t max = sqlite3_column_type(s.get(), 0) == SQLITE_NULL ? 0 : s.Int(0);
    if (max >= std::numeric_limits<int32_t>::max()) throw PlatformErrorOf(errOverflow);
    it = nextId_.emplace(key, static_cast<int32_t>(max + 1)).first;
  }
  if (it->second == std::numeric_limits<int32_t>::max()) throw PlatformErrorOf(errOverflow);
  return it->second++;
}

std::unique_ptr<Recordset> Database::OpenRecordset(const std::string& source, RecordsetType type) {
  if (!db_) Misuse("database is closed");
  WaitForWrites();
  AttachPending();
  std::unique_ptr<Recordset> rs(new Recordset);
  rs->db_ = this;
  rs->type_ = type;

  if (type == dbOpenForwardOnly) {
    bool isName = HasTableDef(source);
    rs->sql_ = isName ? "SELECT * FROM " + Quote(Cp1252ToUtf8(source)) : AdaptSql(Cp1252ToUtf8(source));
    int rc = sqlite3_prepare_v2(db_, rs->sql_.c_str(), static_cast<int>(rs->sql_.size()), &rs->read_, nullptr);
    if (rc != SQLITE_OK) Fail(db_, rc, rs->sql_);
    sqlite3_stmt* st = rs->read_;
    int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i) {
      rs->names_.push_back(Utf8ToCp1252(sqlite3_column_name(st, i)));
      const char* schema = sqlite3_column_database_name(st, i);
      const char* table = sqlite3_column_table_name(st, i);
      const char* origin = sqlite3_column_origin_name(st, i);
      std::string q;
      if (table && origin) {
        std::string t = table;
        // A column of a linked file is known by the link's local name.
        for (const Link& l : links_)
          if (schema && l.schema == schema && SameAsciiIgnoringCase(Cp1252ToUtf8(l.source), t))
            t = Cp1252ToUtf8(l.name);
        q = Utf8ToCp1252(t + "." + origin);
      }
      rs->qualified_.push_back(q);
    }
    rs->values_.resize(n);
    rs->overflow_.assign(n, 0);
    recordsets_.insert(rs.get());
    rs->Fetch();
    return rs;
  }

  // Table and dynaset: one table, here or behind a link.
  if (type != dbOpenTable && type != dbOpenDynaset) throw PlatformErrorOf(errInvalidArgument);
  if (const Link* l = FindLink(source)) {
    rs->schema_ = AttachFile(l->file);
    rs->table_ = Cp1252ToUtf8(l->source);
  } else {
    rs->schema_ = "main";
    rs->table_ = Cp1252ToUtf8(source);
  }
  std::vector<Column> cols = Columns(db_, rs->schema_, rs->table_);
  if (cols.empty()) throw Error(SQLITE_ERROR, "SQLite", "no such table: " + source);
  rs->table_ = [&] {  // the stored spelling
    Stmt s(db_, "SELECT name FROM " + rs->schema_ + ".sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    s.Text(1, rs->table_);
    return s.Step() ? s.Column(0) : rs->table_;
  }();
  rs->autoColumn_ = RowidColumn(cols);
  rs->idKey_ = AsciiLowerCase(rs->schema_ + "." + rs->table_);
  std::string target = rs->schema_ + "." + Quote(rs->table_);
  std::string names, params;
  for (size_t i = 0; i < cols.size(); ++i) {
    rs->names_.push_back(Utf8ToCp1252(cols[i].name));
    rs->qualified_.push_back(Utf8ToCp1252(rs->table_ + "." + cols[i].name));
    int affinity = sqlite3_strnicmp(cols[i].type.c_str(), "TEXT", 4) == 0 ? 1
                   : sqlite3_strnicmp(cols[i].type.c_str(), "INT", 3) == 0 ? 2
                                                                           : 0;
    rs->textColumn_.push_back(static_cast<char>(affinity));
    names += (i ? ", " : "") + Quote(cols[i].name);
    params += (i ? ", ?" : "?") + std::to_string(i + 1);
  }
  size_t n = cols.size();
  rs->values_.resize(n);
  rs->overflow_.assign(n, 0);
  rs->pending_.resize(n);
  rs->set_.assign(n, 0);
  rs->scratch_.resize(n);
  rs->sql_ = "INSERT INTO " + target + " (" + names + ") VALUES (" + params + ")";
  int rc = sqlite3_prepare_v3(db_, rs->sql_.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &rs->insert_, nullptr);
  if (rc != SQLITE_OK) Fail(db_, rc, rs->sql_);
  recordsets_.insert(rs.get());

  if (type == dbOpenDynaset) {
    // The keys are read once (the record set's membership is fixed when it
    // opens); each record is fetched by key when it becomes current.
    {
      Stmt keys(db_, "SELECT rowid FROM " + target + " ORDER BY rowid");
      while (keys.Step()) rs->keys_.push_back(keys.Int(0));
    }
    std::string sql = "SELECT " + names + " FROM " + target + " WHERE rowid = ?1";
    rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &rs->read_, nullptr);
    if (rc != SQLITE_OK) Fail(db_, rc, sql);
    std::string set;
    for (size_t i = 0; i < n; ++i) set += (i ? ", " : "") + Quote(cols[i].name) + " = ?" + std::to_string(i + 1);
    sql = "UPDATE " + target + " SET " + set + " WHERE rowid = ?" + std::to_string(n + 1);
    rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &rs->update_, nullptr);
    if (rc != SQLITE_OK) Fail(db_, rc, sql);
    rs->pos_ = 0;
    rs->Fetch();
  }
  return rs;
}

// ---------------------------------------------------------------------------
// Recordset

Recordset::~Recordset() {
  Close();
}

void Recordset::Close() {
  if (closed_) return;
  // Rows of this set may still be waiting to be written with its statement.
  if (db_ && db_->writer_) db_->writer_->Wait();
  closed_ = true;
  sqlite3_finalize(read_);
  sqlite3_finalize(insert_);
  sqlite3_finalize(update_);
  read_ = insert_ = update_ = nullptr;
  eof_ = true;
  mode_ = Mode::None;
  if (db_) db_->recordsets_.erase(this);
  db_ = nullptr;
}

void Recordset::Require(bool ok, const char* text) const {
  if (closed_) Misuse("record set is closed");
  if (!ok) Misuse(text);
}

void Recordset::Load(sqlite3_stmt* st) {
  for (size_t i = 0; i < values_.size(); ++i) {
    int c = static_cast<int>(i);
    overflow_[i] = 0;
    switch (sqlite3_column_type(st, c)) {
      case SQLITE_INTEGER: {
        int64_t v = sqlite3_column_int64(st, c);
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
          // Raised when the field is read, so the other fields stay usable.
          overflow_[i] = 1;
          values_[i] = Variant();
        } else {
          values_[i] = static_cast<int32_t>(v);
        }
        break;
      }
      case SQLITE_FLOAT: values_[i] = sqlite3_column_double(st, c); break;
      case SQLITE_NULL: values_[i] = Variant(); break;
      default: {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        values_[i] = Utf8ToCp1252(std::string_view(t ? t : "", sqlite3_column_bytes(st, c)));
      }
    }
  }
}

// Makes the record at the current position current, or sets EOF.
void Recordset::Fetch() {
  db_->WaitForWrites();
  if (type_ == dbOpenForwardOnly) {
    int rc = sqlite3_step(read_);
    if (rc == SQLITE_ROW) {
      Load(read_);
      eof_ = false;
      return;
    }
    eof_ = true;
    if (rc != SQLITE_DONE) Fail(db_->db_, rc, sql_);
    return;
  }
  while (pos_ < keys_.size()) {
    sqlite3_reset(read_);
    sqlite3_bind_int64(read_, 1, keys_[pos_]);
    int rc = sqlite3_step(read_);
    if (rc == SQLITE_ROW) {
      Load(read_);
      sqlite3_reset(read_);
      eof_ = false;
      return;
    }
    sqlite3_reset(read_);
    if (rc != SQLITE_DONE) Fail(db_->db_, rc, sql_);
    ++pos_;  // deleted since the record set opened
  }
  eof_ = true;
}

bool Recordset::IsEOF() const { return eof_; }

void Recordset::MoveNext() {
  Require(!eof_, "no current record");
  mode_ = Mode::None;
  ++pos_;
  Fetch();
}

int Recordset::FieldCount() const { return static_cast<int>(names_.size()); }

int Recordset::FieldIndex(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (SameAsciiIgnoringCase(names_[i], name)) return static_cast<int>(i);
  for (size_t i = 0; i < qualified_.size(); ++i)
    if (!qualified_[i].empty() && SameAsciiIgnoringCase(qualified_[i], name)) return static_cast<int>(i);
  throw PlatformErrorOf(errItemNotFound);
}

const Variant& Recordset::Fields(const std::string& name) const { return Fields(FieldIndex(name)); }

const Variant& Recordset::Fields(int index) const {
  static const Variant kNull;
  if (index < 0 || index >= FieldCount()) throw PlatformErrorOf(errSubscript);
  if (mode_ == Mode::Adding) return set_[index] ? pending_[index] : kNull;
  if (mode_ == Mode::Editing) return pending_[index];
  Require(!eof_, "no current record");
  if (overflow_[index]) throw PlatformErrorOf(errOverflow);
  return values_[index];
}

void Recordset::AddNew() {
  Require(insert_ != nullptr, "record set cannot be written");
  std::fill(set_.begin(), set_.end(), 0);
  if (autoColumn_ >= 0) {
    pending_[autoColumn_] = db_->NextId(idKey_, schema_, table_);
    set_[autoColumn_] = 1;
  }
  mode_ = Mode::Adding;
}

void Recordset::Edit() {
  Require(update_ != nullptr, "record set cannot be edited");
  Require(!eof_, "no current record");
  db_->WaitForWrites();
  for (size_t i = 0; i < values_.size(); ++i)
    if (overflow_[i]) throw PlatformErrorOf(errOverflow);
  pending_ = values_;
  std::fill(set_.begin(), set_.end(), 1);
  mode_ = Mode::Editing;
}

void Recordset::SetField(const std::string& name, const Variant& value) { SetField(FieldIndex(name), value); }

void Recordset::SetField(int index, const Variant& value) {
  Require(mode_ != Mode::None, "SetField without AddNew or Edit");
  if (index < 0 || index >= FieldCount()) throw PlatformErrorOf(errSubscript);
  Require(index != autoColumn_, "the auto-increment field cannot be set");
  // Assigning into the held value keeps a text's buffer from row to row.
  pending_[index] = value;
  set_[index] = 1;
}

void Recordset::Bind(sqlite3_stmt* st, int param, int column, const Variant& v) {
  int rc = SQLITE_OK;
  switch (textColumn_[column]) {
    case 1: {  // TEXT: the value's text form
      const std::string* text = v.IfText();
      if (!text) {
        scratch_[column] = v.AsText();
        text = &scratch_[column];
      }
      if (!IsAscii(*text)) {
        scratch_[column] = Cp1252ToUtf8(*text);
        text = &scratch_[column];
      }
      // The text lives in pending_ or scratch_ until the next bind.
      rc = sqlite3_bind_text(st, param, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
      break;
    }
    case 2:  // INTEGER: coerced to 32 bits
      rc = sqlite3_bind_int(st, param, v.AsLong());
      break;
    default:
      if (auto p = v.IfLong()) {
        rc = sqlite3_bind_int(st, param, *p);
      } else if (auto d = v.IfDouble()) {
        rc = sqlite3_bind_double(st, param, *d);
      } else if (auto b = v.IfBool()) {
        rc = sqlite3_bind_int(st, param, *b ? -1 : 0);
      } else {
        std::string u = Cp1252ToUtf8(*v.IfText());
        rc = sqlite3_bind_text(st, param, u.data(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
      }
  }
  if (rc != SQLITE_OK) Fail(db_->db_, rc, sql_);
}

void Recordset::Update() {
  Require(mode_ != Mode::None, "Update without AddNew or Edit");
  if (mode_ == Mode::Adding && db_->writer_) {
    db_->writer_->Add(*this, pending_, set_);
    mode_ = Mode::None;
    return;
  }
  db_->WaitForWrites();
  sqlite3_stmt* st = mode_ == Mode::Adding ? insert_ : update_;
  Write(st, pending_.data(), set_.data());
  if (mode_ == Mode::Editing) {
    mode_ = Mode::None;
    Fetch();
  }
  mode_ = Mode::None;
}

void Recordset::WriteNew(const Variant* values, const char* set) { Write(insert_, values, set); }

void Recordset::Write(sqlite3_stmt* st, const Variant* values, const char* set) {
  int n = FieldCount();
  for (int i = 0; i < n; ++i) {
    if (!set[i] || values[i].IsNull())
      sqlite3_bind_null(st, i + 1);
    else
      Bind(st, i + 1, i, values[i]);
  }
  if (st == update_) sqlite3_bind_int64(st, n + 1, keys_[pos_]);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) Fail(db_->db_, rc, st == insert_ ? sql_ : sqlite3_sql(st));
}

}  // namespace ketch::db
