// The data database: its schema and log lines, a fresh start on every build,
// the links into the settings database, a file that another process holds
// open, a folder where nothing can be created, and the per-file transaction
// that the end of the program commits.
#include "store/mDataDB.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>

#include "ErrorOf.h"
#include "Process.h"
#include "StoreFixture.h"

namespace ketch {
namespace {

using test::ProgramEnded;

// Started again as another process (a fork would share SQLite's per-process
// lock bookkeeping with this one), the test program holds the data file
// named by KETCH_TEST_HOLD_DB open until it is killed, or its parent ends.
const bool kHolder = [] {
  const char* file = std::getenv("KETCH_TEST_HOLD_DB");
  if (!file) return false;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  sqlite3* db = nullptr;
  sqlite3_open(file, &db);
  sqlite3_exec(db, "SELECT count(*) FROM Sections", nullptr, nullptr, nullptr);
  if (write(1, "held", 4) != 4) _exit(1);
  for (;;) pause();
}();

class DataDBTest : public test::StoreFixture {
 protected:
  std::string Path() const { return prog_ + "\\VD.MDB"; }
  // Rows of SQL on a connection of its own to the data file.
  std::vector<std::string> OwnConnectionRows(const std::string& sql) { return test::Rows(DataPath(), sql); }
  void StoreOneSection(const std::string& area) {
    StorageSets& s = Storage();
    s.Sections->AddNew();
    s.Sections->SetField(s.secArea, Variant(area));
    s.Sections->SetField(s.secSection, Variant("s"));
    s.Sections->SetField(s.secFile, Variant("f"));
    s.Sections->SetField(s.secLine, Variant(int32_t{1}));
    s.Sections->Update();
  }
};

TEST_F(DataDBTest, BuildsTheSchemaAndLogsItsTwoLines) {
  ASSERT_TRUE(InitData());
  ASSERT_NE(DataDB(), nullptr);
  EXPECT_EQ(box_, "Initialising DATA database: " + Path() + "\r\nDone.\r\n");
  EXPECT_EQ(DataRows("SELECT name FROM pragma_table_info('Sections')"),
            (std::vector<std::string>{"DB_ID", "Area", "Section", "File", "Line"}));
  EXPECT_EQ(DataRows("SELECT name FROM pragma_table_info('Entries')"),
            (std::vector<std::string>{"DB_ID", "Entry", "EntryID", "Link", "Line"}));
  EXPECT_EQ(DataRows("SELECT name FROM pragma_table_info('Values')"),
            (std::vector<std::string>{"DB_ID", "Link", "Value"}));
  EXPECT_EQ(DataRows("PRAGMA journal_mode"), (std::vector<std::string>{"wal"}));
  EXPECT_EQ(DataRows("PRAGMA synchronous"), (std::vector<std::string>{"1"}));  // NORMAL

  SetStorage(OpenStorage(*DataDB()));
  StorageSets& s = Storage();
  // Rows are written in the background: a refusal comes back once they are.
  auto refused = [](db::Recordset& rs) {
    rs.Update();
    return ErrorOf([] { DataDB()->WaitForWrites(); });
  };
  // Link and EntryID are required, Value takes an empty text, names do not.
  s.Values->AddNew();
  s.Values->SetField(s.valLink, Variant(int32_t{1}));
  s.Values->SetField(s.valValue, Variant(""));
  EXPECT_EQ(refused(*s.Values), 0);
  s.Values->AddNew();
  s.Values->SetField(s.valValue, Variant("x"));
  EXPECT_EQ(refused(*s.Values), SQLITE_CONSTRAINT_NOTNULL);
  s.Entries->AddNew();
  s.Entries->SetField(s.entEntry, Variant(""));
  s.Entries->SetField(s.entLink, Variant(int32_t{1}));
  s.Entries->SetField(s.entEntryID, Variant(int32_t{1}));
  EXPECT_EQ(refused(*s.Entries), SQLITE_CONSTRAINT_CHECK);
  s.Entries->AddNew();
  s.Entries->SetField(s.entEntry, Variant("e"));
  s.Entries->SetField(s.entLink, Variant(int32_t{1}));
  s.Entries->SetField(s.entEntryID, Variant());
  EXPECT_EQ(refused(*s.Entries), SQLITE_CONSTRAINT_NOTNULL);
  EXPECT_EQ(DataRows("SELECT count(*) FROM [Values]"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(DataRows("SELECT count(*) FROM Entries"), (std::vector<std::string>{"0"}));
}

TEST_F(DataDBTest, SecondBuildStartsEmptyReleasesTheFirstAndReplacesItsLinks) {
  ASSERT_TRUE(InitData());
  SetStorage(OpenStorage(*DataDB()));
  BeginDataTrans();
  StoreOneSection("old");
  // Left open on purpose: the rebuild must let go of it, whatever it holds.
  ASSERT_TRUE(InitData());
  EXPECT_TRUE(DataRows("SELECT * FROM Sections").empty());
  SetStorage(OpenStorage(*DataDB()));
  StoreOneSection("new");
  EXPECT_EQ(DataRows("SELECT DB_ID, Area FROM Sections"), (std::vector<std::string>{"1|new"}));
  // The settings database joins the tables through the links of the new build.
  StorageSets& s = Storage();
  s.Entries->AddNew();
  s.Entries->SetField(s.entEntry, Variant("e"));
  s.Entries->SetField(s.entEntryID, Variant(int32_t{74}));
  s.Entries->SetField(s.entLink, Variant(int32_t{1}));
  s.Entries->SetField(s.entLine, Variant(int32_t{2}));
  s.Entries->Update();
  s.Values->AddNew();
  s.Values->SetField(s.valLink, Variant(int32_t{1}));
  s.Values->SetField(s.valValue, Variant("v.ini"));
  s.Values->Update();
  // Another connection sees the rows once they are written.
  DataDB()->WaitForWrites();
  auto rs = SettingsDB().OpenRecordset(
      "SELECT Sections.Area, Entries.EntryID, Values.Value FROM (Sections INNER JOIN Entries ON "
      "Sections.DB_ID = Entries.Link) INNER JOIN [Values] ON Entries.DB_ID = Values.Link",
      db::dbOpenForwardOnly);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->Fields("Area").AsText(), "new");
  EXPECT_EQ(rs->Fields("EntryID").AsLong(), 74);
  EXPECT_EQ(rs->Fields("Value").AsText(), "v.ini");
}

TEST_F(DataDBTest, AFileHeldOpenByAnotherProcessIsNotDeletedAndAFolderOfNothingGivesUnableToCreate) {
  ASSERT_TRUE(InitData());
  DataDBHandle().reset();
  test::Child holder({.argv = {"/proc/self/exe"}, .env = {"KETCH_TEST_HOLD_DB=" + DataPath()}});
  ASSERT_TRUE(test::WaitFor([&] { return holder.Out() == "held"; }, 30)) << holder.Err();
  box_.clear();
  bool built = InitData();
  holder.Kill(SIGKILL);
  holder.Wait();
  EXPECT_FALSE(built);
  EXPECT_EQ(DataDB(), nullptr);
  EXPECT_TRUE(std::filesystem::exists(DataPath()));
  EXPECT_NE(box_.find("\r\nUnable to delete " + Path() + "\r\n"), std::string::npos) << box_;
  EXPECT_EQ(box_.find("Done."), std::string::npos);
  // The old links still reach the old file.
  EXPECT_NO_THROW(SettingsDB().OpenRecordset("SELECT count(*) FROM Sections", db::dbOpenForwardOnly));
  // Once the other process let go, a build succeeds.
  EXPECT_TRUE(InitData());
  // A plain file where the program folder should be: nothing can be made in
  // it, whoever runs the test.
  std::string notAFolder = dir_ / "file";
  test::WriteFile(notAFolder, "x");
  App::SetPath(notAFolder);
  EXPECT_FALSE(InitData());
  EXPECT_EQ(DataDB(), nullptr);
  EXPECT_NE(box_.find("\r\nUnable to create " + notAFolder + "\\VD.MDB\r\n"), std::string::npos) << box_;
}

TEST_F(DataDBTest, FilesAreCommittedInGroupsOnDemandAndAtTheEndAndCommitIsHarmlessWithoutOne) {
  EXPECT_THROW(BeginDataTrans(), Error);  // no data database yet
  EXPECT_NO_THROW(CommitDataTrans());
  ASSERT_TRUE(InitData());
  SetStorage(OpenStorage(*DataDB()));
  auto file = [this](const std::string& area) {
    BeginDataTrans();
    EXPECT_THROW(BeginDataTrans(), Error);  // one file at a time
    StoreOneSection(area);
    CommitDataTrans();
  };
  auto seen = [&] {
    DataDB()->WaitForWrites();
    return OwnConnectionRows("SELECT count(*) FROM Sections");
  };
  for (int i = 0; i < 15; ++i) file("a");
  EXPECT_EQ(seen(), (std::vector<std::string>{"0"}));
  file("a");  // the sixteenth file commits the group
  EXPECT_EQ(seen(), (std::vector<std::string>{"16"}));
  file("b");
  CommitDataFiles();
  EXPECT_EQ(OwnConnectionRows("SELECT count(*) FROM Sections"), (std::vector<std::string>{"17"}));
  EXPECT_NO_THROW(CommitDataTrans());
  DataDB()->BeginTrans();  // not a file's: no file joins it
  EXPECT_THROW(BeginDataTrans(), Error);
  DataDB()->Rollback();
  // The end of the program commits the open file's transaction.
  BeginDataTrans();
  StoreOneSection("kept");
  EXPECT_TRUE(OwnConnectionRows("SELECT Area FROM Sections WHERE Area = 'kept'").empty());
  EXPECT_THROW(EndProgram(), ProgramEnded);
  EXPECT_EQ(OwnConnectionRows("SELECT Area FROM Sections WHERE Area = 'kept'"), (std::vector<std::string>{"kept"}));
}

}  // namespace
}  // namespace ketch
