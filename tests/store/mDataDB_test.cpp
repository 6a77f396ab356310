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
  // The end of the program commits the files read whole of the open group
  // and undoes the file it came in the middle of.
  file("kept");
  file("kept");
  BeginDataTrans();
  StoreOneSection("cut");
  EXPECT_TRUE(OwnConnectionRows("SELECT Area FROM Sections WHERE Area = 'kept'").empty());
  EXPECT_THROW(EndProgram(), ProgramEnded);
  EXPECT_EQ(OwnConnectionRows("SELECT Area FROM Sections WHERE Area <> 'a' AND Area <> 'b'"),
            (std::vector<std::string>{"kept", "kept"}));
  // What is stored after it counts on from the kept rows.
  EXPECT_FALSE(DataDB()->InTransaction());
  file("next");
  CommitDataFiles();
  EXPECT_EQ(OwnConnectionRows("SELECT DB_ID, Area FROM Sections WHERE Area = 'next'"),
            (std::vector<std::string>{"20|next"}));
}

}  // namespace
}  // namespace ketch

namespace ketch {
namespace {

class DataDBForPeopleTest : public DataDBTest {
 protected:
  // One section with a line of the given values.
  void StoreLine(const std::string& entry, const std::vector<std::string>& values) {
    StorageSets& s = Storage();
    s.Sections->AddNew();
    const int32_t section = static_cast<int32_t>(s.Sections->Fields(s.secId).AsLong());
    s.Sections->SetField(s.secArea, Variant("a"));
    s.Sections->SetField(s.secSection, Variant("s"));
    s.Sections->SetField(s.secFile, Variant("f"));
    s.Sections->SetField(s.secLine, Variant(int32_t{1}));
    s.Sections->Update();
    s.Entries->AddNew();
    s.Entries->SetField(s.entEntry, Variant(entry));
    s.Entries->SetField(s.entEntryID, Variant(int32_t{1}));
    s.Entries->SetField(s.entLink, Variant(section));
    s.Entries->SetField(s.entLine, Variant(int32_t{2}));
    const int32_t line = static_cast<int32_t>(s.Entries->Fields(s.entId).AsLong());
    s.Entries->Update();
    ASSERT_GT(line, 0);
    for (const std::string& v : values) {
      s.Values->AddNew();
      s.Values->SetField(s.valLink, Variant(line));
      s.Values->SetField(s.valValue, Variant(v));
      s.Values->Update();
    }
  }
};

// Beside the settings database the link names the file alone, so that the
// pair opens anywhere; the settings database still reaches it, from another
// folder too.
TEST_F(DataDBForPeopleTest, TheLinkBesideTheSettingsIsRelativeAndStillJoins) {
  ASSERT_TRUE(InitData());
  EXPECT_EQ(test::Rows(prog_ + "/KETCH.MDB", "SELECT Connect FROM _ketch_Links ORDER BY Name"),
            (std::vector<std::string>{";DATABASE=VD.MDB", ";DATABASE=VD.MDB", ";DATABASE=VD.MDB"}));
  SetStorage(OpenStorage(*DataDB()));
  StoreLine("mass", {"5000"});
  CloseDataDB();
  // The pair copied elsewhere: the copy's links reach the copy's VD.MDB.
  const std::string moved = dir_ / "moved";
  std::filesystem::create_directories(moved);
  for (const char* f : {"/KETCH.MDB", "/VD.MDB", "/VD.MDB-wal"})
    if (std::filesystem::exists(prog_ + f)) std::filesystem::copy_file(prog_ + f, moved + f);
  test::Sql(prog_ + "/VD.MDB", "DELETE FROM \"Values\"");
  auto copy = db::Database::Open(moved + "/KETCH.MDB");
  auto rs = copy->OpenRecordset("SELECT Value FROM [Values]", db::dbOpenForwardOnly);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->Fields("Value").AsText(), "5000");
  // In another folder from the settings the link stays absolute.
  const std::string other = dir_ / "other";
  std::filesystem::create_directories(other);
  App::SetPath(other);
  ASSERT_TRUE(InitData());
  EXPECT_EQ(test::Rows(prog_ + "/KETCH.MDB", "SELECT DISTINCT Connect FROM _ketch_Links"),
            (std::vector<std::string>{";DATABASE=" + other + "/VD.MDB"}));
}

// Lines: every value with where it stands, and as a number where its text is one.
TEST_F(DataDBForPeopleTest, LinesGivesPositionsAndNumbersThatCompareAsNumbers) {
  ASSERT_TRUE(InitData());
  SetStorage(OpenStorage(*DataDB()));
  StoreLine("mass", {"999"});
  StoreLine("mass", {"5000"});
  StoreLine("pos", {"-1.5", "2e3", "+7", "x"});
  StoreLine("odd", {"1-2", "1.2.3", "e5", "True", "0x10", "1e", "12abc", "-0", "3.", ".5"});
  DataDB()->WaitForWrites();
  EXPECT_EQ(DataRows("SELECT max(Value), max(Number) FROM Lines WHERE Entry = 'mass'"),
            (std::vector<std::string>{"999|5000"}));
  EXPECT_EQ(DataRows("SELECT Position, Value, quote(Number) FROM Lines WHERE Entry = 'pos' ORDER BY Position"),
            (std::vector<std::string>{"1|-1.5|-1.5", "2|2e3|2000.0", "3|+7|7", "4|x|NULL"}));
  EXPECT_EQ(DataRows("SELECT group_concat(Value, ' ') FROM (SELECT Value FROM Lines WHERE Entry = 'odd' AND "
                     "Number IS NULL ORDER BY Position)"),
            (std::vector<std::string>{"1-2 1.2.3 e5 True 0x10 1e 12abc"}));
  EXPECT_EQ(DataRows("SELECT File, Section, SectionLine, EntryLine FROM Lines WHERE Entry = 'mass' LIMIT 1"),
            (std::vector<std::string>{"f|s|1|2"}));
}

TEST_F(DataDBForPeopleTest, TheQueryIndexesComeAtTheEndNotDuringTheRun) {
  const std::string indexes =
      "SELECT count(*) || ':' || ifnull(group_concat(name, ' '), '') FROM (SELECT name FROM sqlite_schema "
      "WHERE type = 'index' AND name IN ('FileIDX', 'SectionIDX', 'EntryIDX') ORDER BY name)";
  EXPECT_NO_THROW(IndexDataDB());  // none open: nothing to do
  ASSERT_TRUE(InitData());
  SetStorage(OpenStorage(*DataDB()));
  EXPECT_EQ(DataRows(indexes), (std::vector<std::string>{"0:"}));
  BeginDataTrans();
  StoreLine("mass", {"1"});
  CommitDataTrans();
  IndexDataDB();
  EXPECT_EQ(OwnConnectionRows(indexes), (std::vector<std::string>{"3:EntryIDX FileIDX SectionIDX"}));
  EXPECT_EQ(OwnConnectionRows("SELECT count(*) FROM Entries"), (std::vector<std::string>{"1"})) << "committed";
  EXPECT_NE(OwnConnectionRows("EXPLAIN QUERY PLAN SELECT * FROM Lines WHERE Entry = 'mass'")[0].find("EntryIDX"),
            std::string::npos);
  IndexDataDB();  // twice is harmless
}

}  // namespace
}  // namespace ketch
