// The background checkpoint: while it runs the writer never checkpoints
// itself, the log is still copied back and reused, and afterwards the writer
// checkpoints itself again with nothing lost.
#include "platform/db/detail/Checkpointer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "TestUtil.h"

namespace ketch::db {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

int64_t One(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
  const int64_t v = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
  sqlite3_finalize(s);
  return v;
}

// Adds 100 rows of 200 bytes in one transaction (about 6 pages).
void Commit(sqlite3* db) {
  ASSERT_EQ(sqlite3_exec(db,
                         "BEGIN; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 100) "
                         "INSERT INTO t SELECT randomblob(200) FROM c; COMMIT",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
}

TEST(Checkpointer, CopiesTheLogBackWhileTheWriterOnlyCommits) {
  TempDir dir;
  const std::string path = dir / "c.db";
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; CREATE TABLE t (b BLOB)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  auto checkpointer = std::make_unique<Checkpointer>(writer);
  EXPECT_EQ(One(writer, "PRAGMA wal_autocheckpoint"), 0);  // the writer's own is off

  // About 12,000 pages committed without a pause: the database file receives
  // them, and the log is started over rather than growing with them.
  constexpr int kCommits = 2000;
  constexpr int64_t kWritten = int64_t{kCommits} * 100 * 200;
  for (int i = 0; i < kCommits; ++i) Commit(writer);
  for (int i = 0; i < 1000 && static_cast<int64_t>(fs::file_size(path)) < kWritten / 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(static_cast<int64_t>(fs::file_size(path)), kWritten / 2);
  EXPECT_LT(static_cast<int64_t>(fs::file_size(path + "-wal")), kWritten / 2);

  checkpointer.reset();
  EXPECT_EQ(One(writer, "PRAGMA wal_autocheckpoint"), 1000);  // its own again
  Commit(writer);
  ASSERT_EQ(sqlite3_close(writer), SQLITE_OK);
  EXPECT_FALSE(fs::exists(path + "-wal"));

  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &reader), SQLITE_OK);
  EXPECT_EQ(One(reader, "SELECT count(*) FROM t"), 100 * kCommits + 100);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(reader, "PRAGMA integrity_check", -1, &s, nullptr);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok");
  sqlite3_finalize(s);
  sqlite3_close(reader);
}

TEST(Checkpointer, AReaderHoldingTheLogDoesNotStopItBeingReusedAfterwards) {
  TempDir dir;
  const std::string path = dir / "p.db";
  sqlite3* writer = nullptr;
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; CREATE TABLE t (b BLOB)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_open(path.c_str(), &reader), SQLITE_OK);
  auto checkpointer = std::make_unique<Checkpointer>(writer);

  // A snapshot held while about 6,000 pages are committed: nothing can be
  // copied past it, and the writer goes on.
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM t", nullptr, nullptr, nullptr), SQLITE_OK);
  for (int i = 0; i < 1000; ++i) Commit(writer);
  const auto pinned = static_cast<int64_t>(fs::file_size(path + "-wal"));
  ASSERT_EQ(sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);

  // Let go of, the log is copied back and started over again: it grows at
  // most while the first round copies what the snapshot held back, not with
  // the three times as many pages committed after it.
  for (int i = 0; i < 3000; ++i) Commit(writer);
  EXPECT_LE(static_cast<int64_t>(fs::file_size(path + "-wal")), 2 * pinned);
  checkpointer.reset();
  EXPECT_EQ(One(reader, "SELECT count(*) FROM t"), 100 * 4000);
  sqlite3_close(reader);
  ASSERT_EQ(sqlite3_close(writer), SQLITE_OK);
}

TEST(Checkpointer, ADatabaseWithoutALogLeavesTheWriterAsItWas) {
  TempDir dir;
  const std::string path = dir / "r.db";
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "CREATE TABLE t (b BLOB)", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    Checkpointer checkpointer(writer);
    Commit(writer);
  }
  EXPECT_EQ(One(writer, "SELECT count(*) FROM t"), 100);
  EXPECT_EQ(sqlite3_close(writer), SQLITE_OK);
}

}  // namespace
}  // namespace ketch::db
