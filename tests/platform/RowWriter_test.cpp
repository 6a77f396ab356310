// Rows, begins and commits handed to a database's writing thread: order and
// values across many batches, what other connections see and when, a refused
// row and what follows it, closing with work still queued.
#include "platform/db/detail/RowWriter.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include "ErrorOf.h"
#include "TestUtil.h"
#include "platform/db/Database.h"
#include "platform/Error.h"

namespace ketch::db {
namespace {

class RowWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "w.db";
    db_ = Database::Create(path_, dbLangGeneral);
    db_->AppendTableDef({"Items", "", "", {{"ID", dbLong, dbAutoIncrField, false}, {"Name", dbText, 0, true},
                                           {"N", dbLong, 0, false}}});
    db_->AppendIndex("Items", {"NIDX", {"N"}, false, true, false});  // N required
    db_->AppendTableDef({"Notes", "", "", {{"ID", dbLong, dbAutoIncrField, false}, {"Item", dbLong, 0, false}}});
    db_->WriteInBackground();
    items_ = db_->OpenRecordset("Items", dbOpenTable);
    notes_ = db_->OpenRecordset("Notes", dbOpenTable);
  }

  // Adds an item (name unset when empty, N null when n < 0) and returns its ID.
  int32_t Item(const std::string& name, int32_t n) {
    items_->AddNew();
    if (!name.empty()) items_->SetField(1, Variant(name));
    if (n >= 0) items_->SetField(2, Variant(n));
    int32_t id = items_->Fields(0).AsLong();
    items_->Update();
    return id;
  }

  // The rows as another connection sees them.
  std::vector<std::string> Seen(const std::string& sql) {
    sqlite3* other = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path_.c_str(), &other, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(other, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
    std::vector<std::string> rows;
    while (s && sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        const unsigned char* t = sqlite3_column_text(s, i);
        row += (i ? "|" : "") + (t ? std::string(reinterpret_cast<const char*>(t)) : "NULL");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(s);
    sqlite3_close(other);
    return rows;
  }

  test::TempDir dir_;
  std::string path_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<Recordset> items_, notes_;
};

TEST_F(RowWriterTest, ManyRowsOfTwoTablesArriveInOrderWithTheirValuesAndNulls) {
  db_->BeginTrans();
  std::vector<std::string> expected;
  for (int32_t i = 0; i < 3000; ++i) {
    // Long names change the text buffers a reused batch holds; every third
    // row leaves the name unset where the row before had one.
    std::string name = i % 3 == 2 ? "" : std::string(static_cast<size_t>(20 + i % 7), static_cast<char>('a' + i % 26));
    int32_t id = Item(name, i);
    expected.push_back(std::to_string(id) + "|" + (name.empty() ? "NULL" : name) + "|" + std::to_string(i));
    if (i % 5 == 0) {
      notes_->AddNew();
      notes_->SetField(1, Variant(id));
      notes_->Update();
    }
  }
  db_->CommitTrans();
  db_->WaitForWrites();
  EXPECT_EQ(Seen("SELECT ID, Name, N FROM Items ORDER BY ID"), expected);
  EXPECT_EQ(Seen("SELECT count(*) FROM Notes JOIN Items ON Items.ID = Notes.Item WHERE Items.N % 5 = 0"),
            (std::vector<std::string>{"600"}));
}

TEST_F(RowWriterTest, OtherConnectionsSeeACommitOnceItIsWaitedForThisOneAtOnce) {
  db_->BeginTrans();
  Item("a", 1);
  Item("b", 2);
  // The same database reads through its own connection: the rows are there.
  auto rs = db_->OpenRecordset("SELECT count(*) AS n FROM Items", dbOpenForwardOnly);
  EXPECT_EQ(rs->Fields("n").AsLong(), 2);
  rs->Close();
  EXPECT_TRUE(db_->InTransaction());
  db_->CommitTrans();
  EXPECT_FALSE(db_->InTransaction());
  db_->WaitForWrites();
  EXPECT_EQ(Seen("SELECT Name FROM Items ORDER BY ID"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(RowWriterTest, ARefusedRowIsRaisedOnceAndWhatFollowsItIsDropped) {
  db_->BeginTrans();
  for (int32_t i = 0; i < 10; ++i) Item("kept", i);
  // Then several batches and the commit: none of it is carried out. The
  // refusal comes back from an Add once the thread has met it, or at the
  // latest from the wait.
  EXPECT_EQ(ErrorOf([&] {
              Item("refused", -1);
              for (int32_t i = 0; i < 1500; ++i) Item("dropped", i);
              db_->CommitTrans();
              db_->WaitForWrites();
            }),
            SQLITE_CONSTRAINT_NOTNULL);
  EXPECT_EQ(ErrorOf([&] { db_->WaitForWrites(); }), 0);
  // The commit was dropped with the rest: the transaction is still open with
  // the rows before the refused one, and committing it keeps them.
  EXPECT_TRUE(db_->InTransaction());
  db_->CommitTrans();
  Item("after", 99);
  db_->WaitForWrites();
  EXPECT_EQ(Seen("SELECT Name, count(*) FROM Items GROUP BY Name ORDER BY Name"),
            (std::vector<std::string>{"after|1", "kept|10"}));
}

TEST_F(RowWriterTest, AFailureTheThreadHasMetIsRaisedByTheNextAdd) {
  Item("refused", -1);
  db_->Handle();  // waits for the thread without raising
  EXPECT_EQ(ErrorOf([&] { Item("not added", 1); }), SQLITE_CONSTRAINT_NOTNULL);
  Item("later", 2);
  db_->WaitForWrites();
  EXPECT_EQ(Seen("SELECT Name FROM Items"), (std::vector<std::string>{"later"}));
}

// Whatever the database is asked to do next, a row the thread refused is
// raised first, before the call's own work or its own error, and only once.
TEST_F(RowWriterTest, ARefusalIsRaisedByTheNextUseOfTheDatabaseBeforeItsOwnWork) {
  struct Case {
    const char* call;
    std::function<void()> f;
    int32_t own;  // what the call raises by itself
  } cases[] = {
      {"Execute", [&] { db_->Execute("INSERT INTO Notes (Item) VALUES (7)"); }, 0},
      {"HasTableDef", [&] { db_->HasTableDef("Nope"); }, 0},
      {"InTransaction", [&] { db_->InTransaction(); }, 0},
      {"OpenRecordset", [&] { db_->OpenRecordset("Items", dbOpenDynaset); }, 0},
      {"ReleaseFile", [&] { db_->ReleaseFile(dir_ / "other.db"); }, 0},
      {"AppendTableDef", [&] { db_->AppendTableDef({"Items", "", "", {{"X", dbLong, 0, false}}}); }, SQLITE_ERROR},
      {"AppendIndex", [&] { db_->AppendIndex("Nope", {"X", {"N"}, false, false, false}); }, errItemNotFound},
      {"DeleteTableDef", [&] { db_->DeleteTableDef("Nope"); }, errItemNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Item("refused", -1);
    db_->Handle();  // the thread has met the refusal; nothing raised it yet
    EXPECT_EQ(ErrorOf(c.f), SQLITE_CONSTRAINT_NOTNULL);
    EXPECT_EQ(ErrorOf(c.f), c.own);
  }
  EXPECT_EQ(Seen("SELECT count(*) FROM Items"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(Seen("SELECT count(*) FROM Notes"), (std::vector<std::string>{"1"}));
}

TEST_F(RowWriterTest, ClosingCarriesOutWhatIsQueuedAndCommits) {
  db_->BeginTrans();
  for (int32_t i = 0; i < 700; ++i) Item("x", i);
  db_->CommitTrans();
  db_->BeginTrans();
  Item("open", 1000);
  items_.reset();
  notes_.reset();
  db_->Close();
  EXPECT_EQ(Seen("SELECT count(*), max(N) FROM Items"), (std::vector<std::string>{"701|1000"}));
}

TEST_F(RowWriterTest, ClosingRaisesARefusalAfterCommittingWhatCameBefore) {
  db_->BeginTrans();
  Item("kept", 1);
  Item("refused", -1);
  EXPECT_EQ(ErrorOf([&] { db_->Close(); }), SQLITE_CONSTRAINT_NOTNULL);
  EXPECT_EQ(Seen("SELECT Name FROM Items"), (std::vector<std::string>{"kept"}));
}

}  // namespace
}  // namespace ketch::db
