// The background checkpoint of a database's log; see Checkpointer.h.
#include "platform/db/detail/Checkpointer.h"

#include <sqlite3.h>

#include <string>
#include <system_error>

namespace ketch::db {
namespace {

// SQLite's own threshold for its automatic checkpoint.
constexpr int kPagesPerCheckpoint = 1000;
// A log this long makes the writer wait for a whole round of the thread: the
// log is only started over when a checkpoint has caught up with the writer,
// and a writer that never pauses would otherwise let it grow without end.
constexpr int kPagesBeforeWaiting = 4 * kPagesPerCheckpoint;

}  // namespace

Checkpointer::Checkpointer(sqlite3* writer) : writer_(writer) {
  const char* file = sqlite3_db_filename(writer, "main");
  if (!file || !*file) return;
  // A connection finds the log when it first reads; until then it has none
  // to checkpoint.
  if (sqlite3_open_v2(file, &own_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
      sqlite3_exec(own_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(own_);
    own_ = nullptr;
    return;
  }
  try {
    thread_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    sqlite3_close_v2(own_);
    own_ = nullptr;
    return;
  }
  // Replaces the writer's automatic checkpoint, which is a hook of this kind.
  sqlite3_wal_hook(writer_, Committed, this);
}

Checkpointer::~Checkpointer() {
  if (!own_) return;
  sqlite3_wal_autocheckpoint(writer_, kPagesPerCheckpoint);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  sqlite3_close_v2(own_);
}

// Called by SQLite after each commit, the writer's lock already released.
int Checkpointer::Committed(void* self, sqlite3*, const char* schema, int pages) {
  auto* c = static_cast<Checkpointer*>(self);
  if (pages < kPagesPerCheckpoint || std::string(schema) != "main") return SQLITE_OK;
  std::unique_lock<std::mutex> lock(c->mutex_);
  const uint64_t request = ++c->requested_;
  c->wake_.notify_all();
  // The writer waits for a round that starts after this commit: with the
  // writer still, that round copies everything no reader holds on to. While
  // a reader holds on to the log (a query that follows references) no round
  // can copy it all, and waiting after every commit would only hold the
  // writer up; then it waits once per kPagesBeforeWaiting pages, to find out
  // soon after the reader has let go.
  const bool grown = pages < c->waitedAt_ || pages >= c->waitedAt_ + kPagesBeforeWaiting;
  if (pages >= kPagesBeforeWaiting && (!c->pinned_ || grown)) {
    c->waitedAt_ = pages;
    c->done_.wait(lock, [&] { return c->served_ >= request || c->stop_; });
  }
  return SQLITE_OK;
}

void Checkpointer::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ > served_ || stop_; });
    if (stop_) return;
    const uint64_t serving = requested_;
    lock.unlock();
    // Passive: takes no lock that the writer or a reader waits for, and
    // stops at the oldest reader's snapshot. A failure leaves the log as it
    // is; the next commit asks again.
    int logged = 0, copied = 0;
    const int rc = sqlite3_wal_checkpoint_v2(own_, "main", SQLITE_CHECKPOINT_PASSIVE, &logged, &copied);
    lock.lock();
    pinned_ = rc == SQLITE_OK && copied < logged;
    served_ = serving;
    done_.notify_all();
  }
}

}  // namespace ketch::db
