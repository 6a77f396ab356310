// Loading the rule base from the listing and dumping the listing: the
// structure a load builds, the report and end of a failed load, and the
// exact lines of the dump.
#include "rules/mParse.h"

#include <gtest/gtest.h>

#include "StoreFixture.h"

namespace ketch {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The rule tables behind the listing view get rows of the test's own, in
// the shape of a small game, so that the tests do not depend on what the
// supplied rule base holds.
const char* const kRuleTables =
    "DELETE FROM _bc_values; DELETE FROM _bc_entries; DELETE FROM _bc_sections;"
    "INSERT INTO _bc_sections VALUES (1, 'Ship', 1), (2, 'system', 2), (3, 'Good', 3);"
    "INSERT INTO _bc_entries VALUES (1, 1, 'nickname', 1, 1, 0, 0, 1), (2, 1, 'ids_name', 2, 1, 0, 0, 0),"
    " (3, 1, 'mass', 3, 1, 0, 0, 0), (4, 1, 'hit_pts', 4, 1, 0, 0, 0), (5, 1, 'separable', 5, 1, 0, 0, 0),"
    " (6, 1, 'hp_type', 6, 1, 1, 1, 0), (101, 1, 'da_archetype', 7, 1, 0, 0, 0), (7, 1, 'fuse', 8, 3, 1, 0, 0),"
    " (70, 2, 'nickname', 1, 1, 0, 0, 1), (74, 2, 'file', 2, 1, 0, 0, 1), (72, 2, 'pos', 3, 2, 0, 0, 0),"
    " (80, 3, 'nickname', 1, 1, 0, 0, 1), (81, 3, 'price', 2, 1, 0, 0, 0);"
    "INSERT INTO _bc_values (Entry, ValueName, IDX, Type, IsMulti) VALUES (1, 'nickname', 1, 3, 0),"
    " (2, 'ids_name', 1, 1, 0), (3, 'mass', 1, 2, 0), (4, 'hit_pts', 1, 1, 0), (5, 'separable', 1, 4, 0),"
    " (6, 'hp_type', 1, 3, 0), (6, 'hardpoint', 2, 3, 1), (101, 'da_archetype', 1, 3, 0), (7, 'fuse', 1, 3, 0),"
    " (7, 'lifetime', 2, 2, 0), (7, NULL, 3, 1, 0), (70, 'nickname', 1, 3, 0), (74, 'file', 1, 3, 0),"
    " (72, 'x', 1, 2, 0), (72, 'y', 2, 2, 0), (80, 'nickname', 1, 3, 0), (81, 'price', 1, 1, 0);";

class ParseTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_TRUE(InitData());
    SettingsDB().Execute(kRuleTables);
    box_.clear();
  }
};

TEST_F(ParseTest, ListingBuildsSectionsEntriesAndValuesInOrderAndASecondLoadReplacesThem) {
  InitParse();
  KeyedCollection<cSection>& base = RuleBase();
  ASSERT_EQ(base.Count(), 3);
  cSection& ship = base.Item("SHIP");
  EXPECT_EQ(&ship, &base.Item(1));
  EXPECT_EQ(ship.SectionName(), "Ship");
  EXPECT_EQ(&base.Item("system"), &base.Item(2));
  std::vector<std::string> names;
  for (cEntry& e : ship) names.push_back(e.EntryName());
  EXPECT_EQ(names, (std::vector<std::string>{"nickname", "ids_name", "mass", "hit_pts", "separable", "hp_type",
                                              "da_archetype", "fuse"}));
  cEntry& hp = ship.Item("HP_TYPE");
  EXPECT_TRUE(hp.IsMultiLine());
  EXPECT_TRUE(hp.HasVariableValues());
  EXPECT_EQ(hp.EntryDB_ID(), 6);
  EXPECT_TRUE(ship.Item("nickname").IsMandatory());
  cEntry& fuse = ship.Item("fuse");
  EXPECT_EQ(fuse.FixedValuesNo(), 3);
  fuse.SetValues("fuse", "a, 1.5, 7", 1);
  EXPECT_EQ(fuse.Occurrence(1).Value(3).ValueName(), "");
  EXPECT_EQ(fuse.Occurrence(1).Value(2).ValueName(), "lifetime");
  EXPECT_EQ(fuse.Occurrence(1).Value(3).ValueType(), vtLong);
  EXPECT_EQ(FilesRead().Count(), 0);
  EXPECT_NO_THROW(Storage());
  EXPECT_EQ(box_, "");  // a good load logs nothing
  // A second load replaces the rule base and empties the files read.
  cSection* first = &RuleBase().Item("SHIP");
  FilesRead().Add(std::make_unique<std::string>("a.ini"), "a.ini");
  InitParse();
  EXPECT_NE(&RuleBase().Item("SHIP"), first);
  EXPECT_EQ(FilesRead().Count(), 0);
}

TEST_F(ParseTest, EmptyListingLoadsAnEmptyRuleBaseAndDumpsNothingMissingListingEndsTheProgram) {
  SetListing({});
  InitParse();
  EXPECT_EQ(RuleBase().Count(), 0);
  EXPECT_EQ(FilesRead().Count(), 0);
  EXPECT_NO_THROW(Storage());
  DumpRules();
  EXPECT_EQ(box_, "");
  SettingsDB().Execute("DROP TABLE _bc_ListSections");
  EXPECT_EQ(EndStatus([] { DumpRules(); }), 3);
  EXPECT_TRUE(EndsWith(box_, "\r\nDumpRules\r\n")) << box_;
}

TEST_F(ParseTest, BadListingsAreReportedUnderInitParseAndEndTheProgram) {
  const std::string row1 = "'S','a',1,1,0,0,0,1,'v',1,1,0,'Integer'";
  struct Case {
    const char* what;
    std::vector<std::string> rows;
    const char* error;
    const char* row;  // what the line after the report names
  } cases[] = {
      {"section in two runs",
       {row1, "'T','b',1,1,0,0,0,2,'v',1,1,0,'Integer'", "'S','c',1,1,0,0,0,3,'v',1,1,0,'Integer'"},
       "Error : This key is already associated with an element of this collection\r\nNumber: 457\r\n",
       "section [S], entry , column SectionName, value S"},
      {"entry in two runs",
       {row1, "'S','b',1,1,0,0,0,2,'v',1,1,0,'Integer'", "'S','A',1,1,0,0,0,3,'v',1,1,0,'Integer'"},
       "Number: 457\r\n", "section [S], entry A, column EntryName, value A"},
      {"gap in positions",
       {"'S','a',1,3,0,0,0,1,'v',1,1,0,'Integer'", "'S','a',1,3,0,0,0,1,'v',1,3,0,'Integer'"},
       "Error : 10204 - Value Position Mismatch\r\nNumber: 10204\r\n",
       "section [S], entry a, column _bc_values.IDX, value 3"},
      {"value after the multi value",
       {"'S','a',1,1,0,1,0,1,'v',1,1,0,'Integer'", "'S','a',1,1,0,1,0,1,'m',1,2,1,'Integer'",
        "'S','a',1,1,0,1,0,1,'m',1,3,1,'Integer'"},
       "Number: 10210\r\n", "section [S], entry a, column _bc_values.IDX, value 3"},
      {"null type", {"'S','a',1,1,0,0,0,1,'v',NULL,1,0,NULL"}, "Number: 94\r\n",
       "section [S], entry a, column Type, value NULL"},
      {"null section name", {"NULL,'a',1,1,0,0,0,1,'v',1,1,0,'Integer'"}, "Number: 94\r\n",
       "section [], entry , column SectionName, value NULL"},
      {"fixed count beyond 16 bits", {"'S','a',1,40000,0,0,0,1,'v',1,1,0,'Integer'"}, "Number: 6\r\n",
       "section [S], entry a, column FixedArgsNo, value 40000"},
  };
  const auto view = test::Rows(SettingsDB().Handle(), "SELECT sql FROM sqlite_master WHERE name = '_bc_ListSections'");
  ASSERT_EQ(view.size(), 1u);
  for (const auto& c : cases) {
    InitParse();  // a good rule base to be kept
    cSection* kept = &RuleBase().Item("SHIP");
    SetListing(c.rows);
    box_.clear();
    EXPECT_EQ(EndStatus([] { InitParse(); }), 3) << c.what;
    EXPECT_NE(box_.find(c.error), std::string::npos) << c.what << "\n" << box_;
    EXPECT_TRUE(EndsWith(box_, std::string("\r\nInitParse\r\n      Rule row: _bc_ListSections, ") + c.row + "\r\n"))
        << c.what << "\n" << box_;
    EXPECT_EQ(&RuleBase().Item("SHIP"), kept) << c.what;
    SettingsDB().Execute("DROP TABLE _bc_ListSections; " + view[0]);  // the supplied listing again
  }
}

TEST_F(ParseTest, LoadWithoutDataDatabaseFailsUnlessTheRunStoresNothing) {
  DataDBHandle().reset();
  EXPECT_EQ(EndStatus([] { InitParse(); }), 3);
  EXPECT_NE(box_.find("Number: 91\r\n"), std::string::npos) << box_;
  EXPECT_FALSE(RuleBaseLoaded());
  box_.clear();
  InitParse(false);
  EXPECT_EQ(box_, "");
  EXPECT_FALSE(StoresRows());
  EXPECT_EQ(RuleBase().Item("SHIP").Count(), 8);
  EXPECT_EQ(FilesRead().Count(), 0);
  // The next load that stores is a storing run again.
  ASSERT_TRUE(InitData());
  InitParse();
  EXPECT_TRUE(StoresRows());
}

TEST_F(ParseTest, DumpWritesTheListingLineByLine) {
  SetListing({
      "'Ship','hp_type',6,1,1,1,0,6,'hp',3,1,0,'String'",
      "'Ship','hp_type',6,1,1,1,0,6,NULL,3,2,1,'String'",
      "'Ship','fuse',9,2,0,0,0,7,'',1,1,0,'Integer'",
      "'Ship','fuse',9,2,0,0,0,7,'t',2,2,0,NULL",
      "'Good','bare',1,NULL,0,0,0,8,NULL,NULL,NULL,NULL,NULL",
  });
  DumpRules();
  EXPECT_EQ(box_,
            "Section: Ship\r\n"
            "    Entry: hp_type, IDX: 6, MULTILine, VARArgs, FixedArgs: 1\r\n"
            "        Value: hp, IDX: 1, FIXEDArg, String\r\n"
            "        Value: < >, IDX: 2, VARArg, String\r\n"
            "    Entry: fuse, IDX: 9, SINGLELine, NOVarArgs, FixedArgs: 2\r\n"
            "        Value: , IDX: 1, FIXEDArg, Integer\r\n"
            "        Value: t, IDX: 2, FIXEDArg, \r\n"
            "Section: Good\r\n"
            "    Entry: bare, IDX: 1, SINGLELine, NOVarArgs, FixedArgs: \r\n"
            "        Value: < >, IDX: , FIXEDArg, \r\n");
  EXPECT_TRUE(EndsWith(LogFile(), box_));
}

TEST_F(ParseTest, DumpIsTheSameBeforeAndAfterLoadAndLeavesTheRuleBase) {
  DumpRules();
  std::string before = box_;
  EXPECT_NE(before.find("        Value: < >, IDX: 3, FIXEDArg, Integer\r\n"), std::string::npos) << before;
  InitParse();
  cSection* ship = &RuleBase().Item("SHIP");
  box_.clear();
  DumpRules();
  EXPECT_EQ(box_, before);
  EXPECT_EQ(&RuleBase().Item("SHIP"), ship);
}

}  // namespace
}  // namespace ketch
