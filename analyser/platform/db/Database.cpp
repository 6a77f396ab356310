// A database's connection from opening to closing: creating and opening
// files, transactions (run here or handed to the writing thread), and the
// persistent links, which are files attached behind temporary views and
// listed in a table of the database so that the next open attaches them too.
#include "platform/db/Database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/db/detail/Checkpointer.h"
#include "platform/db/detail/RowWriter.h"
#include "platform/db/detail/Sqlite.h"
#include "platform/db/detail/WalBatching.h"

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

std::function<void(const std::string&)>& Notice() {
  static std::function<void(const std::string&)> notice;
  return notice;
}

// Short enough that a lock let go of is taken at once, long enough not to
// spin.
constexpr auto kLockPoll = std::chrono::milliseconds(20);

}  // namespace

std::chrono::milliseconds LockWait() {
  constexpr std::chrono::milliseconds kDefault(10000);
  const char* text = std::getenv("KETCH_LOCK_WAIT");
  if (!text || !*text) return kDefault;
  double seconds = 0;
  const char* end = text + std::strlen(text);
  auto [at, ec] = std::from_chars(text, end, seconds);
  // A day at most: beyond that the user would take it for a hang.
  if (ec != std::errc() || at != end || !(seconds >= 0) || seconds > 86400) return kDefault;
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

void SetLockNotice(std::function<void(const std::string& file)> notice) { Notice() = std::move(notice); }

int Database::WaitForLock(void* self, int count) {
  auto* d = static_cast<Database*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) {
    d->waitStart_ = now;
    LockedFile().clear();
    if (std::this_thread::get_id() == d->owner_) {
      if (Notice()) Notice()(d->path_);
    } else {
      d->waitPending_.store(true, std::memory_order_release);
    }
  }
  const auto left = d->lockWait_ - std::chrono::duration_cast<std::chrono::milliseconds>(now - d->waitStart_);
  if (left <= std::chrono::milliseconds(0)) {
    // The busy error that follows names the file.
    LockedFile() = d->path_;
    return 0;
  }
  sqlite3_sleep(static_cast<int>(std::min(left, std::chrono::milliseconds(kLockPoll)).count()));
  return 1;
}

void Database::TellPendingWait() const {
  if (std::this_thread::get_id() != owner_) return;
  if (waitPending_.exchange(false, std::memory_order_acq_rel) && Notice()) Notice()(path_);
}

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
  // written by one connection while another reads it); another program may
  // hold one for as long as it likes, so the wait is bounded and told.
  owner_ = std::this_thread::get_id();
  lockWait_ = LockWait();
  sqlite3_busy_handler(db_, &Database::WaitForLock, this);
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

sqlite3* Database::Use(Writes writes) const {
  if (!db_) Misuse("database is closed");
  TellPendingWait();
  switch (writes) {
    case Writes::Settle:
      WaitForWrites();
      break;
    case Writes::Check:
      if (writer_) writer_->Check();
      break;
    case Writes::Pass:
      break;
  }
  return db_;
}

void Database::CheckpointInBackground() {
  sqlite3* db = Use(Writes::Pass);
  if (!checkpointer_) checkpointer_ = std::make_unique<Checkpointer>(db);
}

void Database::WriteInBackground() {
  Use(Writes::Pass);
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
      [this] { transDepth_ = appliedDepth_; },
      // The caller waits for the thread, which may wait for a lock.
      [this] { TellPendingWait(); });
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
  sqlite3* db = Use();
  AttachPending();
  Exec(db, AdaptSql(Cp1252ToUtf8(sql)));
}

void Database::BeginTrans() {
  Use(Writes::Pass);
  // IMMEDIATE takes the write lock now, so a later write cannot fail on a
  // snapshot that another connection made stale.
  Run(transDepth_ == 0 ? std::string("BEGIN IMMEDIATE") : "SAVEPOINT ketch_" + std::to_string(transDepth_));
  ++transDepth_;
}

void Database::CommitTrans() {
  // Closing ends every transaction: a closed database is refused here too.
  if (transDepth_ == 0) Misuse("no transaction is open");
  Run(transDepth_ == 1 ? std::string("COMMIT") : "RELEASE ketch_" + std::to_string(transDepth_ - 1));
  --transDepth_;
}

void Database::Rollback() {
  if (transDepth_ == 0) Misuse("no transaction is open");  // closed too, as above
  sqlite3* db = Use();
  if (transDepth_ == 1 && !writer_ && sqlite3_get_autocommit(db)) {
    // SQLite undid the transaction itself (a full disk, a failed COMMIT):
    // nothing is left to roll back, and nothing may stay counted as open.
    transDepth_ = 0;
    nextId_.clear();
    return;
  }
  if (transDepth_ == 1) {
    Exec(db, "ROLLBACK");
  } else {
    std::string sp = "ketch_" + std::to_string(transDepth_ - 1);
    Exec(db, "ROLLBACK TO " + sp + "; RELEASE " + sp);
  }
  --transDepth_;
  // Rolled-back rows gave their ids back; count again from what is stored.
  nextId_.clear();
}

bool Database::InTransaction() const {
  if (!db_) return false;
  sqlite3* db = Use(Writes::Check);
  // The thread may not have reached the calls handed to it; they count.
  return writer_ ? transDepth_ > 0 : !sqlite3_get_autocommit(db);
}

Database::Link* Database::FindLink(const std::string& name) {
  for (Link& l : links_)
    if (SameAsciiIgnoringCase(l.name, name)) return &l;
  return nullptr;
}

const Database::Link* Database::FindLink(const std::string& name) const {
  return const_cast<Database*>(this)->FindLink(name);
}


std::string Database::FileName() const {
  const char* name = sqlite3_db_filename(Use(Writes::Pass), "main");
  return name ? name : "";
}

std::string Database::LinkFile(const std::string& connect) const {
  std::string file = ConnectFile(connect);
  if (file.empty() || file[0] == '/' || file[0] == '\\') return file;
  const std::string own = FileName();
  const size_t slash = own.rfind('/');
  return slash == std::string::npos ? file : own.substr(0, slash + 1) + file;
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
      l.file = LinkFile(l.connect);
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
  Use();
  DetachFile(path);
}

}  // namespace ketch::db
