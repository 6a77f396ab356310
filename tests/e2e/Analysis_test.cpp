// The whole analysis, end to end: the real ketch, headless, over a game tree
// with text and binary files (converted by the real krun), checked against the
// whole log and the rows of VD.MDB.
#include <gtest/gtest.h>

#include <filesystem>

#include "GameFixture.h"

namespace ketch {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

class AnalysisTest : public test::GameFixture {
 protected:
  void SetUp() override {
    GameFixture::SetUp();
    SetRules(
        "Ship\tnickname\t1\t0\t0\t1\t1\tnickname\t3\t1\t0\n"
        "Ship\tids_name\t1\t0\t0\t0\t2\tids_name\t1\t1\t0\n"
        "Ship\tmass\t1\t0\t0\t0\t3\tmass\t2\t1\t0\n"
        "Ship\thp\t1\t1\t1\t0\t4\thp\t3\t1\t0\n"
        "Ship\thp\t1\t1\t1\t0\t4\thardpoint\t3\t2\t1\n"
        "Ship\tseparable\t1\t0\t0\t0\t5\tseparable\t4\t1\t0\n"
        "Ship\tda_archetype\t1\t0\t0\t0\t101\tda_archetype\t3\t1\t0\n"
        "system\tnickname\t1\t0\t0\t1\t70\tnickname\t3\t1\t0\n"
        "system\tfile\t1\t0\t0\t1\t74\tfile\t3\t1\t0\n");
  }
};

TEST_F(AnalysisTest, AGameWithEveryKindOfLineAndFinding) {
  SetOtherINIs({"misc\\extra.ini", "missions\\mbases.ini"});
  GameFile("EXE/vandrel.ini", Lines({"[Resources]", "dll = resources.dll", "", "[Data]",
                                     "ships = ships\\shipdata.ini",
                                     "universe = universe\\universe.ini",
                                     "Solar = solar\\capital.ini", "bases =", "goods",
                                     "equipment = equip\\missing.ini",
                                     "ships = SHIPS\\ShipData.ini", "[data]", "x = y"}));
  GameFile("DATA/ships/shipdata.ini",
           Lines({"; ship data", "[Ship]", "nickname = li_fighter", "ids_name = 12.5",
                  "mass = 1e3", "; hardpoints follow", "hp = hp_gun, hp01, hp02",
                  "hp = hp_turret", "separable", "ids_name = 7", "mass = heavy", "hit_pts = 5",
                  "da_archetype = ships\\li_fighter.ini", "", "[Ship", "nickname = li_elite",
                  "ids_name = 2147483648", "mass = 1.5, 2", "separable = maybe",
                  "da_archetype = ships\\li_fighter.ini",
                  "[Station]", "nickname = x"}));
  BinaryGameFile("DATA/universe/universe.ini",
                 "[system]\nnickname = br01\nfile = systems\\br01\\br01.ini\n\n"
                 "[system]\nnickname = br02\nfile = systems\\br02\\br02.ini\n\n");
  GameFile("DATA/Universe/systems/br01/br01.ini", Lines({"[Ship]", "nickname = br01_ship"}));
  GameFile("DATA/ships/li_fighter.ini", Lines({"[Ship]", "nickname = li_fighter_arch"}));
  GameFile("DATA/misc/extra.ini", Lines({"[Ship]", "nickname = extra"}));

  auto r = Ketch({"init", "all"});
  ASSERT_EQ(r.status, 0) << r.err;

  const std::string S = "{G}\\DATA\\ships\\shipdata.ini";
  std::string expected = Lines({
      "Ketch v 0.9.7 Log File", " ", "VD Path {G}", "Log Path {L}", " ",
      "Processing {G}\\EXE\\vandrel.ini",
      "     NOT Processing (in Ketch v 0.9.7) section [Resources]",
      "    Processing Section [Data]",
      "        Processing ships ships\\shipdata.ini",
      "    Processing " + S,
      "WARN: File " + S + " line 9",
      "      !separable! line found. Changed to !separable = true!",
      "WARN: File " + S + " line 9", "      Section [Ship] line 7",
      "      10209 - Entry is Not Multiline !ids_name!7!", "",
      "WARN: File " + S + " line 10", "      Section [Ship] line 8",
      "      10209 - Entry is Not Multiline !mass!heavy!", "",
      "WARN: File " + S + " line 11", "      Section [Ship] line 9",
      "      10302 - Unknown Entry !hit_pts!5!", "",
      "WARN: File " + S + " line 16", "      Section [[Ship] line 1",
      "      10301 - Section has no closing bracket ![Ship!!", "",
      "WARN: File " + S + " line 17", "      Section [Ship] line 2",
      "      10104 - Value Overflow !ids_name!2147483648!", "",
      "WARN: File " + S + " line 18", "      Section [Ship] line 3",
      "      10205 - Too Many Values !mass!1.5, 2!", "",
      "WARN: File " + S + " line 19", "      Section [Ship] line 4",
      "      10101 - Value Type Mismatch !separable!maybe!", "",
      "WARN: File " + S + " line 22", "      Section [Station] line 1",
      "      10305 - Unknown Section !nickname!x!", "",
      "        Processing universe universe\\universe.ini",
      "    Processing {G}\\DATA\\universe\\universe.ini",
      "        NOT Processing (in Ketch v 0.9.7) Solar solar\\capital.ini",
      "        NOT Processing (in Ketch v 0.9.7) bases ",
      "WARN: File {G}\\EXE\\vandrel.ini line 9", "      Section [Data] line 5",
      "      10304 - Entry With no Value !goods!!", "",
      "        Processing equipment equip\\missing.ini",
      "    Processing {G}\\DATA\\equip\\missing.ini",
      "WARN: File {G}\\EXE\\vandrel.ini line 10", "      Section [Data] line 6",
      "      10306 - Could not open referred file !equipment!equip\\missing.ini!", "",
      "        Processing ships SHIPS\\ShipData.ini",
      "    Processing {G}\\DATA\\SHIPS\\ShipData.ini",
      "Already parsed. Skipped.",
      "    NOT Processing (by design) section [data]",
      "Done Processing {G}\\EXE\\vandrel.ini",
      "", "", "Reading files for other INIs",
      "    Processing {G}\\DATA\\misc\\extra.ini",
      "    Processing {G}\\DATA\\missions\\mbases.ini",
      "WARN: File N/A line 0", "      Section [N/A] line 0",
      "      10306 - Could not open referred file !N/A!missions\\mbases.ini!", "",
      "Done Reading files for other INIs",
      "", "", "Reading files for value ID 74",
      "", "", "Reading files for value ID 74 universe, system, file",
      "    Processing {G}\\Data\\Universe\\systems\\br01\\br01.ini",
      "    Processing {G}\\Data\\Universe\\systems\\br02\\br02.ini",
      "WARN: File {G}\\DATA\\universe\\universe.ini line 7", "      Section [system] line 2",
      "      10306 - Could not open referred file !file!systems\\br02\\br02.ini!", "",
      "Done Reading files for value ID 74 universe, system, file",
      "", "", "Reading files for value ID 101",
      "", "", "Reading files for value ID 101 ships, ship, da_archetype",
      "    Processing {G}\\DATA\\ships\\li_fighter.ini",
      "    Processing {G}\\DATA\\ships\\li_fighter.ini",
      "Already parsed. Skipped.",
      "Done Reading files for value ID 101 ships, ship, da_archetype",
  });
  for (const char* id : {"871", "877", "879", "64", "824", "1034", "1040", "1055", "1107", "1169", "872"})
    expected += Lines({"", "", std::string("Reading files for value ID ") + id,
                       std::string("Done Reading files for value ID ") + id + " , , "});
  expected = Replace(Replace(expected, "{G}", game_), "{L}", log_);
  EXPECT_EQ(Log(), expected);
  // What the box shows goes to standard output: the same text.
  EXPECT_NE(r.out.find(expected), std::string::npos);

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
  auto count = [&](const std::string& label) {
    size_t at = r.out.find("\n  " + label + " ");
    if (at == std::string::npos) return std::string("missing");
    size_t end = r.out.find('\n', at + 1);
    std::string line = r.out.substr(at + 1, end - at - 1);
    return line.substr(line.find_last_of(' ') + 1);
  };
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
// stored while it reads belong to later passes only.
TEST_F(AnalysisTest, APassSeesOnlyTheRowsStoredBeforeIt) {
  SetRules(
      "Ship\tnickname\t1\t0\t0\t1\t1\tnickname\t3\t1\t0\n"
      "Ship\tda_archetype\t1\t0\t0\t0\t101\tda_archetype\t3\t1\t0\n"
      "Ship\tloadout\t1\t0\t0\t0\t871\tloadout\t3\t1\t0\n");
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", Lines({"[Data]", "ships = a.ini"}));
  // a names itself and b (rule 101); b names c (871, a later pass) and x
  // (101, the pass that is reading b); c names d (101, already over).
  GameFile("DATA/a.ini", Lines({"[Ship]", "nickname = a", "da_archetype = a.ini", "[Ship]",
                                "nickname = a2", "da_archetype = b.ini"}));
  GameFile("DATA/b.ini", Lines({"[Ship]", "nickname = b", "loadout = c.ini", "da_archetype = x.ini"}));
  GameFile("DATA/c.ini", Lines({"[Ship]", "nickname = c", "da_archetype = d.ini"}));
  GameFile("DATA/d.ini", Lines({"[Ship]", "nickname = d"}));
  GameFile("DATA/x.ini", Lines({"[Ship]", "nickname = x"}));

  auto r = Ketch({"init", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string G = game_;
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area, File FROM Sections ORDER BY DB_ID"),
            (std::vector<std::string>{"ships|" + G + "\\DATA\\a.ini", "ships|" + G + "\\DATA\\a.ini",
                                      "ships|" + G + "\\DATA\\b.ini", "ships|" + G + "\\DATA\\c.ini"}));
  std::string log = Log();
  EXPECT_NE(log.find(Replace(Lines({"Reading files for value ID 101 ships, ship, da_archetype",
                                    "    Processing {G}\\DATA\\a.ini", "Already parsed. Skipped.",
                                    "    Processing {G}\\DATA\\b.ini",
                                    "Done Reading files for value ID 101 ships, ship, da_archetype"}),
                             "{G}", G)),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(Replace(Lines({"Reading files for value ID 871 ships, ship, loadout",
                                    "    Processing {G}\\DATA\\c.ini",
                                    "Done Reading files for value ID 871 ships, ship, loadout"}),
                             "{G}", G)),
            std::string::npos);
  EXPECT_EQ(log.find("d.ini"), log.rfind("d.ini"));  // named by c, never read
  EXPECT_EQ(log.find("DATA\\d.ini"), std::string::npos);
  EXPECT_EQ(log.find("DATA\\x.ini"), std::string::npos);
}

TEST_F(AnalysisTest, AMissingGameFolderIsReportedAndTheRunGoesOn) {
  SetOtherINIs({"m.ini"});
  game_ = dir_ / "no-such-game";
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string G = game_;
  EXPECT_NE(Log().find(Replace(Lines({"Processing {G}\\EXE\\vandrel.ini", "Error : Path not found",
                                      "Number: 76", "Source: ketch",
                                      "Unable to open {G}\\EXE\\vandrel.ini",
                                      "Done Processing {G}\\EXE\\vandrel.ini", "", "",
                                      "Reading files for other INIs", "    Processing {G}\\DATA\\m.ini"}),
                               "{G}", G)),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("Done Reading files for value ID 872 , , \r\n"), std::string::npos);
}

TEST_F(AnalysisTest, EmptyAndBinaryConfigurationFiles) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", "");
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find(Replace(Lines({"Processing {G}\\EXE\\vandrel.ini", "Done Processing {G}\\EXE\\vandrel.ini"}),
                               "{G}", game_)),
            std::string::npos);

  BinaryGameFile("EXE/vandrel.ini", "[Data]\nships = s.ini\n\n");
  GameFile("DATA/s.ini", Lines({"[Ship]", "nickname = s"}));
  r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find("        Processing ships s.ini\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Rows("VD.MDB", "SELECT count(*) FROM Sections"), std::vector<std::string>{"1"});
  EXPECT_FALSE(std::filesystem::exists(game_ + "/EXE/vandrel.ini.txt"));
}

TEST_F(AnalysisTest, ADataEntryNamingAFolderIsWarnedLikeAMissingFile) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", Lines({"[Data]", "ships = folder", "goods = g.ini"}));
  std::filesystem::create_directories(game_ + "/DATA/folder");
  GameFile("DATA/g.ini", Lines({"[Ship]", "nickname = g"}));
  auto r = Ketch({"init", "all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find("      10306 - Could not open referred file !ships!folder!\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area FROM Sections"), std::vector<std::string>{"goods"});
}

TEST_F(AnalysisTest, AFullSectionEndsTheRunWithEverythingStoredSoFarKept) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", Lines({"[Data]", "ships = first.ini", "goods = big.ini", "stars = never.ini"}));
  GameFile("DATA/first.ini", Lines({"[Ship]", "nickname = first"}));
  GameFile("DATA/never.ini", Lines({"[Ship]", "nickname = never"}));
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
  GameFile("EXE/vandrel.ini", Lines({"[Data]", "ships = big.ini"}));
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
