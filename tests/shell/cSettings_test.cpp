// The settings: their round trip through KETCH.MDB, saving on a change of
// database, the eight-bit Overwrite value, and the fatal ends of a database
// that is missing, is no database or holds no readable settings.
#include "shell/cSettings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ErrorOf.h"
#include "LogFixture.h"
#include "Rows.h"

namespace ketch {
namespace {

// A real copy of the supplied KETCH.MDB, changed through plain SQL.
class SettingsTest : public test::LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    db_ = dir_ / "KETCH.MDB";
    std::filesystem::copy_file(std::string(KETCH_PROGRAM_DIR) + "/KETCH.MDB", db_);
  }
  void Sql(const std::string& sql) { test::Sql(db_, sql); }
  std::string Row() { return test::One(db_, "SELECT VDPath, LogPath, OverwriteLog FROM _bc_Settings"); }
  // Loads the settings into a new object; returns the status the program
  // ended with, or -1 when it did not end.
  int Load(std::unique_ptr<cSettings>& s, const std::string& path) {
    s = std::make_unique<cSettings>();
    const int status = EndStatus([&] { s->SettingsDBName(path); });
    // An ended program saves nothing: the object is never destroyed, and
    // held here so that the leak checker does not count it.
    static auto* ended = new std::vector<cSettings*>;
    if (status >= 0) ended->push_back(s.release());
    return status;
  }
  std::string db_;
};

TEST_F(SettingsTest, RoundTripThroughTheDatabaseAndSettingTheNameAgainSavesIntoTheOldOneFirst) {
  Sql("UPDATE _bc_Settings SET VDPath = '', LogPath = '', OverwriteLog = 0");
  std::unique_ptr<cSettings> s;
  ASSERT_EQ(Load(s, db_), -1);
  EXPECT_EQ(s->VDPath(), "");
  EXPECT_EQ(s->OverwriteLog(), "0");
  ASSERT_NE(s->SettingsDB(), nullptr);
  s->VDPath("C:\\Games\\Vandrel \xE9");
  s->LogPath("/var/log/ketch");
  s->OverwriteLog("2");
  s.reset();  // normal end saves
  EXPECT_EQ(Row(), "C:\\Games\\Vandrel \xC3\xA9|/var/log/ketch|2");
  ASSERT_EQ(Load(s, db_), -1);
  EXPECT_EQ(s->VDPath(), "C:\\Games\\Vandrel \xE9");
  EXPECT_EQ(s->LogPath(), "/var/log/ketch");
  EXPECT_EQ(s->OverwriteLog(), "2");
  ASSERT_EQ(Load(s, db_), -1);
  s->VDPath("/g");
  s->SettingsDBName("");
  EXPECT_EQ(s->SettingsDB(), nullptr);
  EXPECT_EQ(Row().substr(0, 3), "/g|");
}

TEST_F(SettingsTest, NotSavingOnCloseLeavesTheStoredSettingsAsTheyWereAndClosesTheDatabase) {
  Sql("UPDATE _bc_Settings SET VDPath = '/stored', LogPath = '/log', OverwriteLog = 1");
  const std::string bytes = test::ReadFile(db_);
  std::unique_ptr<cSettings> s;
  ASSERT_EQ(Load(s, db_), -1);
  s->SaveOnClose(false);
  s->VDPath("/changed");
  s->SettingsDBName("");
  EXPECT_EQ(s->SettingsDB(), nullptr);
  s.reset();
  EXPECT_EQ(Row(), "/stored|/log|1");
  EXPECT_EQ(test::ReadFile(db_), bytes);
}

TEST_F(SettingsTest, OverwriteLogTakesOnlyWhatFitsEightBits) {
  cSettings s;
  s.OverwriteLog("1");
  EXPECT_EQ(s.OverwriteLog(), "1");
  EXPECT_EQ(ErrorOf([&] { s.OverwriteLog("300"); }), 6);
  EXPECT_EQ(s.OverwriteLog(), "1");
}

TEST_F(SettingsTest, AMissingDatabaseOrNoDatabaseIsFatalWithTheOpenText) {
  std::unique_ptr<cSettings> s;
  EXPECT_EQ(Load(s, dir_ / "nothing.mdb"), 2);
  EXPECT_EQ(fatal_.rfind("OpenSettingsDB: Unable to open settings database\r\n\r\nError: ", 0), 0u) << fatal_;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "nothing.mdb"));
  fatal_.clear();
  test::WriteFile(db_, "this is no database, just text long enough to be read as a header.....");
  EXPECT_EQ(Load(s, db_), 2);
  EXPECT_EQ(fatal_.rfind("OpenSettingsDB: Unable to open settings database", 0), 0u) << fatal_;
}

TEST_F(SettingsTest, UnreadableRecordsAreFatalAndNothingIsSaved) {
  const char* broken[] = {
      "DELETE FROM _bc_Settings",
      "UPDATE _bc_Settings SET LogPath = NULL",
      "UPDATE _bc_Settings SET OverwriteLog = NULL",
      "UPDATE _bc_Settings SET OverwriteLog = 300",
      "UPDATE _bc_Settings SET OverwriteLog = -1",
      "DROP TABLE _bc_Settings",
  };
  for (const char* sql : broken) {
    SCOPED_TRACE(sql);
    std::filesystem::remove(db_);
    std::filesystem::copy_file(std::string(KETCH_PROGRAM_DIR) + "/KETCH.MDB", db_);
    Sql(sql);
    std::string before = test::ReadFile(db_);
    std::unique_ptr<cSettings> s;
    fatal_.clear();
    EXPECT_EQ(Load(s, db_), 2);
    EXPECT_EQ(fatal_.rfind("Unable to read settings\r\n\r\nError: ", 0), 0u) << fatal_;
    EXPECT_EQ(test::ReadFile(db_), before);
  }
}

}  // namespace
}  // namespace ketch
