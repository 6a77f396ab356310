// The whole analysis, end to end: the real ketch, headless, over a game tree
// with text and binary files (converted by the real krun), checked against the
// whole log (golden files of tests/data) and the rows of VD.MDB.
#include <gtest/gtest.h>

#include <filesystem>

#include "GameFixture.h"

namespace ketch {
namespace {

using test::CrLf;

class AnalysisTest : public test::GameFixture {
 protected:
  void SetUp() override {
    GameFixture::SetUp();
    SetRules(kShipRules);
  }
};

// Every kind of line and finding of the walk, the passes and the other-INI
// list, a binary file among them: the whole log is tests/data/every_kind's.
TEST_F(AnalysisTest, AGameWithEveryKindOfLineAndFinding) {
  SetOtherINIs({"misc\\extra.ini", "missions\\mbases.ini"});
  LoadCase("every_kind");
  auto r = Ketch({"init", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectLog("every_kind");
  // What the box shows goes to standard output: the same text.
  EXPECT_NE(r.out.find(Log()), std::string::npos);

  const std::string G = game_;
  EXPECT_EQ(Rows("VD.MDB", "SELECT DB_ID, Area, Section, File, Line FROM Sections ORDER BY DB_ID"),
            (std::vector<std::string>{
                "1|ships|ship|" + G + "\\DATA\\ships\\shipdata.ini|2",
                "2|ships|ship|" + G + "\\DATA\\ships\\shipdata.ini|15",
                "3|universe|system|" + G + "\\DATA\\universe\\universe.ini|1",
                "4|universe|system|" + G + "\\DATA\\universe\\universe.ini|5",
                "5|hardcoded|ship|" + G + "\\DATA\\misc\\extra.ini|1",
                "6|universe|ship|" + G + "\\Data\\Universe\\systems\\br01\\br01.ini|1",
                "7|ships|ship|" + G + "\\DATA\\ships\\li_fighter.ini|1",
            }));
  // Entries in the order of the section's entry rules; their values in
  // position order.
  EXPECT_EQ(Rows("VD.MDB",
                 "SELECT e.Link, e.Entry, e.EntryID, e.Line, group_concat(v.Value, ';') FROM Entries e "
                 "LEFT JOIN \"Values\" v ON v.Link = e.DB_ID GROUP BY e.DB_ID ORDER BY e.DB_ID"),
            (std::vector<std::string>{
                "1|nickname|1|3|li_fighter",
                "1|ids_name|2|4|12",
                "1|mass|3|5|1000",
                "1|hp|4|6|hp_gun;hp01;hp02",
                "1|hp|4|7|hp_turret",
                "1|separable|5|8|True",
                "1|da_archetype|101|12|ships\\li_fighter.ini",
                "2|nickname|1|16|li_elite",
                "2|da_archetype|101|20|ships\\li_fighter.ini",
                "3|nickname|70|2|br01",
                "3|file|74|3|systems\\br01\\br01.ini",
                "4|nickname|70|6|br02",
                "4|file|74|7|systems\\br02\\br02.ini",
                "5|nickname|1|2|extra",
                "6|nickname|1|2|br01_ship",
                "7|nickname|1|2|li_fighter_arch",
            }));
  // The summary after the run, on standard output only.
  auto count = [&](const std::string& label) { return SummaryCount(r.out, label); };
  EXPECT_EQ(count("files read"), "5");
  EXPECT_EQ(count("  binary (converted)"), "1");
  EXPECT_EQ(count("sections stored"), "7");
  EXPECT_EQ(count("entry lines stored"), "16");
  EXPECT_EQ(count("values stored"), "18");
  EXPECT_EQ(count("lines repaired"), "1");
  EXPECT_EQ(count("findings"), "12");
  EXPECT_EQ(count("  10306 - Could not open referred file"), "3");
  EXPECT_EQ(count("  10209 - Entry is Not Multiline"), "2");
  EXPECT_EQ(Log().find("Summary"), std::string::npos);

  // The converted text of the binary file is gone; the game tree is as it was.
  EXPECT_FALSE(std::filesystem::exists(game_ + "/DATA/universe/universe.ini.txt"));
}

// Each pass follows exactly the rows stored before its query started: rows
// stored while it reads belong to later passes only. In tests/data/pass_order
// a names itself and b (rule 101); b names c (871, a later pass) and x (101,
// the pass that is reading b); c names d (101, already over): d and x are
// never read.
TEST_F(AnalysisTest, APassSeesOnlyTheRowsStoredBeforeIt) {
  SetRules(
      "Ship\tnickname\t1\t0\t0\t1\t1\tnickname\t3\t1\t0\n"
      "Ship\tda_archetype\t1\t0\t0\t0\t101\tda_archetype\t3\t1\t0\n"
      "Ship\tloadout\t1\t0\t0\t0\t871\tloadout\t3\t1\t0\n");
  SetOtherINIs({});
  LoadCase("pass_order");
  auto r = Ketch({"init", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string G = game_;
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area, File FROM Sections ORDER BY DB_ID"),
            (std::vector<std::string>{"ships|" + G + "\\DATA\\a.ini", "ships|" + G + "\\DATA\\a.ini",
                                      "ships|" + G + "\\DATA\\b.ini", "ships|" + G + "\\DATA\\c.ini"}));
  ExpectLog("pass_order");
}

TEST_F(AnalysisTest, AMissingGameFolderIsReportedAndTheRunGoesOn) {
  SetOtherINIs({"m.ini"});
  game_ = dir_ / "no-such-game";
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectLog("missing_game");
}

TEST_F(AnalysisTest, EmptyAndBinaryConfigurationFiles) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", "");
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find(CrLf({"Processing " + game_ + "\\EXE\\vandrel.ini", "Done Processing " + game_ + "\\EXE\\vandrel.ini"})),
            std::string::npos);

  BinaryGameFile("EXE/vandrel.ini", "[Data]\nships = s.ini\n\n");
  GameFile("DATA/s.ini", CrLf({"[Ship]", "nickname = s"}));
  r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find("        Processing ships s.ini\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Rows("VD.MDB", "SELECT count(*) FROM Sections"), std::vector<std::string>{"1"});
  EXPECT_FALSE(std::filesystem::exists(game_ + "/EXE/vandrel.ini.txt"));
}

TEST_F(AnalysisTest, ADataEntryNamingAFolderIsWarnedLikeAMissingFile) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = folder", "goods = g.ini"}));
  std::filesystem::create_directories(game_ + "/DATA/folder");
  GameFile("DATA/g.ini", CrLf({"[Ship]", "nickname = g"}));
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find("      10306 - Could not open referred file !ships!folder!\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area FROM Sections"), std::vector<std::string>{"goods"});
}

TEST_F(AnalysisTest, AFullSectionEndsTheRunWithEverythingStoredSoFarKept) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = first.ini", "goods = big.ini", "stars = never.ini"}));
  GameFile("DATA/first.ini", CrLf({"[Ship]", "nickname = first"}));
  GameFile("DATA/never.ini", CrLf({"[Ship]", "nickname = never"}));
  std::string big = "[Ship]\r\nnickname = big\r\n";
  for (int i = 0; i < 2048; ++i) big += "hp = h\r\n";
  GameFile("DATA/big.ini", big);
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 3);
  std::string log = Log();
  EXPECT_NE(log.find("Error : Subscript out of range\r\nNumber: 9\r\nSource: ketch\r\nReadINIFile\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("never.ini"), std::string::npos);
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area FROM Sections"), std::vector<std::string>{"ships"});
  EXPECT_EQ(Rows("VD.MDB", "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST_F(AnalysisTest, ASectionOfExactly2048LinesIsRead) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = big.ini"}));
  std::string big = "[Ship]\r\n";
  for (int i = 0; i < 2048; ++i) big += "nickname = n" + std::to_string(i) + "\r\n";
  GameFile("DATA/big.ini", big);
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  // One good line; the other 2047 are second lines of a single-line entry.
  EXPECT_EQ(Rows("VD.MDB", "SELECT count(*) FROM Entries"), std::vector<std::string>{"1"});
  const std::string log = Log();
  size_t warnings = 0;
  for (size_t at = 0; (at = log.find("10209 - Entry is Not Multiline", at)) != std::string::npos; ++at) ++warnings;
  EXPECT_EQ(warnings, 2047u);
  EXPECT_NE(log.find("      Section [Ship] line 2048\r\n"), std::string::npos);
}

TEST_F(AnalysisTest, ABrokenRuleListingEndsInitWithStatus3AndLeavesTheSettingsDatabaseWhole) {
  // Position 2 of the entry is missing.
  SetRules(
      "Ship\tnickname\t1\t0\t0\t1\t1\tnickname\t3\t1\t0\n"
      "Ship\tpos\t3\t0\t0\t0\t2\tx\t2\t1\t0\n"
      "Ship\tpos\t3\t0\t0\t0\t2\tz\t2\t3\t0\n");
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(Log().find("Error : 10204 - Value Position Mismatch\r\n"), std::string::npos) << Log();
  EXPECT_NE(Log().find("\r\nInitParse\r\n"), std::string::npos);
  EXPECT_EQ(Log().find("Processing"), std::string::npos);
  EXPECT_EQ(Rows("KETCH.MDB", "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(Rows("KETCH.MDB", "SELECT count(*) FROM _bc_values"), std::vector<std::string>{"3"});
}

TEST_F(AnalysisTest, AllWithoutInitIsAUsageErrorAndAFailedInitRefusesAll) {
  auto r = Ketch({"all"});
  EXPECT_EQ(r.status, 1);
  // A folder where VD.MDB should be: Init DB fails and All is refused.
  std::filesystem::create_directories(bin_ + "/VD.MDB");
  r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(Log().find("\r\nUnable to create " + bin_ + "\\VD.MDB\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("Processing"), std::string::npos);
}

}  // namespace
}  // namespace ketch
