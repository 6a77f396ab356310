// The batched log writes: whenever a commit returns, the log file on disk
// holds it whole (another connection sees it, a process that dies right
// after loses nothing), also when the commit rewrote frames it had spilled;
// and a write that fails fails the commit.
#include "platform/db/detail/WalBatching.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "TestUtil.h"

namespace ketch::db {
namespace {

using test::ReadFile;
using test::TempDir;

class WalBatchingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InstallWalBatching()); }

  static sqlite3* OpenDb(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    return db;
  }
  static int Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  static int64_t Count(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM t", -1, &s, nullptr);
    int64_t n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    return n;
  }
  static std::string IntegrityCheck(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr);
    std::string r = sqlite3_step(s) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(s, 0)) : "";
    sqlite3_finalize(s);
    return r;
  }
  // A new WAL database with table t (an indexed text column) and no
  // automatic checkpoints, so that the log only grows.
  sqlite3* NewDb() {
    sqlite3* db = OpenDb(path_);
    EXPECT_EQ(Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0;"
                       "CREATE TABLE t (v TEXT); CREATE INDEX tv ON t (v)"),
              SQLITE_OK);
    return db;
  }
  // Inserts n rows with random text in one transaction; SQLite's result.
  static int InsertRows(sqlite3* db, int n) {
    return Exec(db, "BEGIN; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
                        std::to_string(n) + ") INSERT INTO t SELECT hex(randomblob(40)) FROM c; COMMIT");
  }

  TempDir dir_;
  std::string path_ = dir_ / "w.db";
};

uint32_t Get32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

TEST_F(WalBatchingTest, EveryCommitIsOnDiskWhenItReturns) {
  sqlite3* db = NewDb();
  sqlite3* reader = OpenDb(path_);
  for (int round = 1; round <= 20; ++round) {
    ASSERT_EQ(InsertRows(db, 50 * round), SQLITE_OK);
    // The log ends exactly with a commit frame: nothing of it waits in memory.
    const std::string log = ReadFile(path_ + "-wal");
    const uint32_t page = Get32(log, 8);
    ASSERT_GE(log.size(), 32u + 24 + page);
    ASSERT_EQ((log.size() - 32) % (24 + page), 0u) << round;
    EXPECT_NE(Get32(log, log.size() - page - 24 + 4), 0u) << round;
    EXPECT_EQ(Count(reader), 25 * round * (round + 1)) << round;
  }
  sqlite3_close(reader);
  sqlite3_close(db);
}

TEST_F(WalBatchingTest, ACommitWhosePageMeetsAFullBatchIsWholeOnDisk) {
  // Rows of a page each: commits of 1 to 70 frames, so that for some of them
  // the commit frame's header is the last that fits a batch and its page
  // starts the next one.
  sqlite3* db = NewDb();
  for (int rows = 1; rows <= 70; ++rows) {
    ASSERT_EQ(Exec(db, "BEGIN; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
                           std::to_string(rows) + ") INSERT INTO t SELECT hex(randomblob(1500)) FROM c; COMMIT"),
              SQLITE_OK);
    const std::string log = ReadFile(path_ + "-wal");
    const uint32_t page = Get32(log, 8);
    ASSERT_EQ((log.size() - 32) % (24 + page), 0u) << rows;
    ASSERT_NE(Get32(log, log.size() - page - 24 + 4), 0u) << rows;
  }
  sqlite3_close(db);
}

TEST_F(WalBatchingTest, ProcessDyingAfterCommitsLosesNoneOfThem) {
  // The second commit outgrows a tiny page cache, so pages are spilled to the
  // log and rewritten in place before it commits.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = NewDb();
    bool ok = InsertRows(db, 100) == SQLITE_OK && Exec(db, "PRAGMA cache_size=10") == SQLITE_OK &&
              Exec(db, "BEGIN; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 3000) "
                       "INSERT INTO t SELECT hex(randomblob(40)) FROM c; UPDATE t SET v = v || 'x'; COMMIT") ==
                  SQLITE_OK;
    _exit(ok ? 0 : 1);  // at once: no close, no checkpoint, as if killed
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  sqlite3* db = OpenDb(path_);
  EXPECT_EQ(Count(db), 3100);
  EXPECT_EQ(IntegrityCheck(db), "ok");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE v LIKE '%x'", -1, &s, nullptr);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int64(s, 0), 3100);
  sqlite3_finalize(s);
  sqlite3_close(db);
}

TEST_F(WalBatchingTest, AWriteThatFailsFailsItsCommitAndKeepsTheOthers) {
  // The child may write 2 MB per file; it commits until a commit fails and
  // reports how many succeeded.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    signal(SIGXFSZ, SIG_IGN);
    sqlite3* db = NewDb();
    struct rlimit limit = {2 << 20, 2 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    int committed = 0, rc = SQLITE_OK;
    while ((rc = InsertRows(db, 200)) == SQLITE_OK && committed < 10000) ++committed;
    const std::string report = std::to_string(committed) + " " + std::to_string(rc);
    (void)!write(pipeFds[1], report.data(), report.size());
    _exit(0);
  }
  close(pipeFds[1]);
  char buf[64] = {};
  (void)!read(pipeFds[0], buf, sizeof buf - 1);
  close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  int committed = -1, rc = -1;
  ASSERT_EQ(sscanf(buf, "%d %d", &committed, &rc), 2) << buf;
  EXPECT_GT(committed, 0);
  EXPECT_LT(committed, 10000);
  EXPECT_TRUE((rc & 0xff) == SQLITE_FULL || (rc & 0xff) == SQLITE_IOERR) << rc;
  sqlite3* db = OpenDb(path_);
  EXPECT_EQ(Count(db), 200 * committed);
  EXPECT_EQ(IntegrityCheck(db), "ok");
  sqlite3_close(db);
}

}  // namespace
}  // namespace ketch::db
