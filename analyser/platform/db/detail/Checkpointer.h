// Copying a database's write-ahead log back into the database on a thread of
// its own. A connection that commits often otherwise stops every thousand
// pages to copy them and to wait for two flushes to disk; a whole load spent
// about a tenth of its time there. The thread works on its own connection,
// never waits for the writer or for readers, and copies only what every
// reader may see; the log stays the authority until a copy is complete, so a
// run that dies in the middle of one loses nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct sqlite3;

namespace ketch::db {

class Checkpointer {
 public:
  // From now on the main database of writer is checkpointed by the thread
  // once its log has grown by a thousand pages; writer no longer does it
  // itself. Raises nothing: without a thread or a connection of its own the
  // writer keeps checkpointing itself.
  explicit Checkpointer(sqlite3* writer);
  // Waits for a running checkpoint, ends the thread and gives checkpointing
  // back to the writer, which must still be open.
  ~Checkpointer();
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;

 private:
  static int Committed(void* self, sqlite3* db, const char* schema, int pages);
  void Work();

  sqlite3* writer_;
  sqlite3* own_ = nullptr;
  std::mutex mutex_;
  std::condition_variable wake_;  // the thread: a round is asked for
  std::condition_variable done_;  // the writer: a round has ended
  uint64_t requested_ = 0;        // rounds asked for by commits
  uint64_t served_ = 0;           // rounds asked for up to here are done
  bool pinned_ = false;           // the last round stopped at a reader
  int waitedAt_ = 0;              // log pages at the writer's last wait
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace ketch::db
