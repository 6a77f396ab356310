// Record sets: the rows of a table, a view or a query read front to back,
// edited in place or appended to, with the values typed by their columns on
// the way in and out. Opening one prepares every statement it will use, so
// that adding a row only binds and steps.
#include "platform/db/Database.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/db/detail/RowWriter.h"
#include "platform/db/detail/Sqlite.h"

namespace ketch::db {
using namespace detail;

int32_t Database::NextId(const std::string& key, const std::string& schema, const std::string& table) {
  auto it = nextId_.find(key);
  if (it == nextId_.end()) {
    Stmt s(Use(), "SELECT max(rowid) FROM " + schema + "." + Quote(table));
    s.Step();
    int64_t max = sqlite3_column_type(s.get(), 0) == SQLITE_NULL ? 0 : s.Int(0);
    if (max >= std::numeric_limits<int32_t>::max()) throw PlatformErrorOf(errOverflow);
    it = nextId_.emplace(key, static_cast<int32_t>(max + 1)).first;
  }
  if (it->second == std::numeric_limits<int32_t>::max()) throw PlatformErrorOf(errOverflow);
  return it->second++;
}

std::unique_ptr<Recordset> Database::OpenRecordset(const std::string& source, RecordsetType type) {
  sqlite3* db = Use();
  AttachPending();
  std::unique_ptr<Recordset> rs(new Recordset);
  rs->db_ = this;
  rs->type_ = type;

  if (type == dbOpenForwardOnly) {
    bool isName = HasTableDef(source);
    rs->sql_ = isName ? "SELECT * FROM " + Quote(Cp1252ToUtf8(source)) : AdaptSql(Cp1252ToUtf8(source));
    int rc = sqlite3_prepare_v2(db, rs->sql_.c_str(), static_cast<int>(rs->sql_.size()), &rs->read_, nullptr);
    if (rc != SQLITE_OK) Fail(db, rc, rs->sql_);
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
  std::vector<Column> cols = Columns(db, rs->schema_, rs->table_);
  if (cols.empty()) throw Error(SQLITE_ERROR, "SQLite", "no such table: " + source);
  rs->table_ = [&] {  // the stored spelling
    Stmt s(db, "SELECT name FROM " + rs->schema_ + ".sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
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
  int rc = sqlite3_prepare_v3(db, rs->sql_.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &rs->insert_, nullptr);
  if (rc != SQLITE_OK) Fail(db, rc, rs->sql_);
  recordsets_.insert(rs.get());

  if (type == dbOpenDynaset) {
    // The keys are read once (the record set's membership is fixed when it
    // opens); each record is fetched by key when it becomes current.
    {
      Stmt keys(db, "SELECT rowid FROM " + target + " ORDER BY rowid");
      while (keys.Step()) rs->keys_.push_back(keys.Int(0));
    }
    std::string sql = "SELECT " + names + " FROM " + target + " WHERE rowid = ?1";
    rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &rs->read_, nullptr);
    if (rc != SQLITE_OK) Fail(db, rc, sql);
    std::string set;
    for (size_t i = 0; i < n; ++i) set += (i ? ", " : "") + Quote(cols[i].name) + " = ?" + std::to_string(i + 1);
    sql = "UPDATE " + target + " SET " + set + " WHERE rowid = ?" + std::to_string(n + 1);
    rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &rs->update_, nullptr);
    if (rc != SQLITE_OK) Fail(db, rc, sql);
    rs->pos_ = 0;
    rs->Fetch();
  }
  return rs;
}

Recordset::~Recordset() {
  Close();
}

void Recordset::Close() {
  if (closed_) return;
  // Rows of this set may still be waiting to be written with its statement;
  // a failure stays for the database's next use (this runs in destructors).
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

void Recordset::Fetch() {
  sqlite3* db = db_->Use();
  if (type_ == dbOpenForwardOnly) {
    int rc = sqlite3_step(read_);
    if (rc == SQLITE_ROW) {
      Load(read_);
      eof_ = false;
      return;
    }
    eof_ = true;
    if (rc != SQLITE_DONE) Fail(db, rc, sql_);
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
    if (rc != SQLITE_DONE) Fail(db, rc, sql_);
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
  db_->Use();
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
  // Handed over behind the work queued before it, without waiting for it.
  if (mode_ == Mode::Adding && db_->writer_) {
    db_->writer_->Add(*this, pending_, set_);
    mode_ = Mode::None;
    return;
  }
  db_->Use();
  sqlite3_stmt* st = mode_ == Mode::Adding ? insert_ : update_;
  Write(st, pending_.data(), set_.data());
  if (mode_ == Mode::Editing) {
    mode_ = Mode::None;
    Fetch();
  }
  mode_ = Mode::None;
}

void Recordset::WriteNew(const Variant* values, const char* set) { Write(insert_, values, set); }

// Runs on the writing thread too, so it must not wait for it (no Use).
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
