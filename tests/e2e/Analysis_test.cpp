// The whole analysis, end to end: the real ketch, headless, over a game tree
// with text and binary files (converted by the real krun), checked against the
// whole log (golden files of tests/data) and the rows of VD.MDB.
#include <gtest/gtest.h>

#include <filesystem>

#include "GameFixture.h"
#include "platform/Text.h"

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
// list, a binary file among them: the whole log and the rows stored are
// tests/data/every_kind's.
TEST_F(AnalysisTest, AGameWithEveryKindOfLineAndFinding) {
  SetOtherINIs({"misc\\extra.ini", "missions\\mbases.ini"});
  LoadCase("every_kind");
  auto r = Ketch({"init", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectLog("every_kind");
  // What the box shows goes to standard output: the same text, in UTF-8
  // with LF line ends.
  std::string text = MixedToUtf8(Log());
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  EXPECT_NE(r.out.find(text), std::string::npos);

  // Entries in the order of the section's entry rules; their values in
  // position order.
  ExpectStored("every_kind");
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
  ExpectStored("pass_order");
  ExpectLog("pass_order");
}

TEST_F(AnalysisTest, AMissingGameFolderIsReportedAndTheRunGoesOn) {
  SetOtherINIs({"m.ini"});
  game_ = dir_ / "no-such-game";
  auto r = Ketch({"init", "all"});
  // The run ends normally, but it read no game: CI must not pass it.
  EXPECT_EQ(r.status, 6) << r.err;
  ExpectLog("missing_game");
}

TEST_F(AnalysisTest, EmptyAndBinaryConfigurationFilesAndADataEntryNamingAFolder) {
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

  // A folder is warned like a missing file.
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = folder", "goods = g.ini"}));
  std::filesystem::create_directories(game_ + "/DATA/folder");
  GameFile("DATA/g.ini", CrLf({"[Ship]", "nickname = g"}));
  r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find("      10306 - Could not open referred file !ships!folder!\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area FROM Sections"), std::vector<std::string>{"goods"});
}

TEST_F(AnalysisTest, AFullSectionEndsTheRunWithWhatWasStoredKeptButOneOf2048LinesIsRead) {
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

  // A section of exactly 2048 lines is read.
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = big.ini"}));
  big = "[Ship]\r\n";
  for (int i = 0; i < 2048; ++i) big += "nickname = n" + std::to_string(i) + "\r\n";
  GameFile("DATA/big.ini", big);
  r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  // One good line; the other 2047 are second lines of a single-line entry.
  EXPECT_EQ(Rows("VD.MDB", "SELECT count(*) FROM Entries"), std::vector<std::string>{"1"});
  log = Log();
  size_t warnings = 0;
  for (size_t at = 0; (at = log.find("10209 - Entry is Not Multiline", at)) != std::string::npos; ++at) ++warnings;
  EXPECT_EQ(warnings, 2047u);
  EXPECT_NE(log.find("      Section [Ship] line 2048\r\n"), std::string::npos);
}

TEST_F(AnalysisTest, ABrokenRuleListingOrAFailedInitEndTheRunAndAllWithoutInitIsAUsageError) {
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

  // All without init, then a failed init.
  SetRules(kShipRules);
  r = Ketch({"all"});
  EXPECT_EQ(r.status, 1);
  // A folder where VD.MDB should be: Init DB fails and All is refused.
  std::filesystem::remove(bin_ + "/VD.MDB");
  std::filesystem::create_directories(bin_ + "/VD.MDB");
  r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(Log().find("\r\nUnable to create " + bin_ + "\\VD.MDB\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("Processing"), std::string::npos);
}

}  // namespace
}  // namespace ketch
