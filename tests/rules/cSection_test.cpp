// Section rules: the keyed collection of entry rules and the rows one
// section occurrence gives in the data database.
#include "rules/cSection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "ErrorOf.h"
#include "store/mDataDB.h"
#include "platform/Error.h"
#include "StoreFixture.h"

namespace ketch {
namespace {

TEST(cSection, EntryKeysIgnoreCaseDuplicatesAreRefusedAndAnEntryWithoutKeyIsFoundByPosition) {
  cSection s;
  s.SectionName("Ship");
  cEntry& engine = s.Add("engine", 1, false, false, false, 1, "Engine");
  EXPECT_EQ(&s.Item("ENGINE"), &engine);
  EXPECT_EQ(engine.SectionName(), "Ship");
  s.Add("power", 1, false, false, false, 2, "POWER");
  EXPECT_EQ(ErrorOf([&] { s.Add("power", 1, false, false, false, 3, "power"); }), 457);
  EXPECT_EQ(s.Count(), 2);
  EXPECT_EQ(ErrorOf([&] { s.Item("hull"); }), 5);
  EXPECT_EQ(ErrorOf([&] { s.Item(3); }), 9);
  cSection t;
  cEntry& loose = t.Add("loose", 1, false, false, false, 1);
  EXPECT_EQ(&t.Item(1), &loose);
  EXPECT_EQ(ErrorOf([&] { t.Item("loose"); }), 5);
  t.Remove(1);
  EXPECT_EQ(t.Count(), 0);
}

class SectionStoreTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_TRUE(InitData());
    SetStorage(OpenStorage(*DataDB()));
    ship_.SectionName("ShIp");
    ship_.Add("Nickname", 1, false, false, true, 1, "NICKNAME").AddValue("", vtText, 1, false);
    cEntry& fuse = ship_.Add("Fuse", 1, true, false, false, 7, "FUSE");
    fuse.AddValue("", vtLong, 1, false);
  }
  void Occurrence(int32_t line, const std::vector<std::pair<std::string, std::string>>& lines) {
    int32_t i = 0;
    for (const auto& [key, value] : lines) ship_.Item(key).SetValues(key, value, line + ++i);
    ship_.Area("SHIPS");
    ship_.File("C:\\Game\\DATA\\Ships.INI");
    ship_.LineNo(line);
    ship_.Store();
    ship_.Clear();
  }
  cSection ship_;
};

TEST_F(SectionStoreTest, OccurrenceWithoutLinesWritesOneSectionRow) {
  Occurrence(3, {});
  EXPECT_EQ(DataRows("SELECT DB_ID, Area, Section, File, Line FROM Sections"),
            (std::vector<std::string>{"1|ships|ship|C:\\Game\\DATA\\Ships.INI|3"}));
  EXPECT_EQ(ship_.SectionDB_ID(), 1);
  EXPECT_TRUE(DataRows("SELECT * FROM Entries").empty());
}

TEST_F(SectionStoreTest, TwoOccurrencesLinkEachEntryToItsOwnSectionRow) {
  Occurrence(10, {{"nickname", "a"}, {"fuse", "1"}, {"FUSE", "2"}});
  Occurrence(20, {{"fuse", "3"}, {"Nickname", "b"}});
  EXPECT_EQ(DataRows("SELECT DB_ID, Line FROM Sections ORDER BY DB_ID"),
            (std::vector<std::string>{"1|10", "2|20"}));
  // Entries follow the order of the rules in the section, then line order.
  EXPECT_EQ(DataRows("SELECT Entries.Link, Entries.Entry, Entries.Line, \"Values\".Value FROM Entries "
                     "JOIN \"Values\" ON \"Values\".Link = Entries.DB_ID ORDER BY \"Values\".DB_ID"),
            (std::vector<std::string>{"1|nickname|11|a", "1|fuse|12|1", "1|fuse|13|2", "2|nickname|22|b",
                                      "2|fuse|21|3"}));
}

TEST_F(SectionStoreTest, EmptyAreaIsRefusedByTheSchemaAtTheNextCommitOnce) {
  BeginDataTrans();
  ship_.Item("NICKNAME").SetValues("nickname", "a", 2);
  ship_.Area("");
  ship_.File("f");
  // Written in the background: the refusal comes back at the latest when the
  // writes are waited for, and only once.
  EXPECT_EQ(ErrorOf([&] {
              ship_.Store();
              DataDB()->WaitForWrites();
            }),
            SQLITE_CONSTRAINT_CHECK);
  // Neither the refused row nor the entry line after it was written; the
  // store goes on working.
  ship_.Clear();
  Occurrence(5, {{"nickname", "b"}});
  CommitDataTrans();
  DataDB()->WaitForWrites();
  EXPECT_EQ(DataRows("SELECT Sections.Line, Value FROM Sections JOIN Entries ON Entries.Link = Sections.DB_ID "
                     "JOIN [Values] ON [Values].Link = Entries.DB_ID"),
            (std::vector<std::string>{"5|b"}));
}

}  // namespace
}  // namespace ketch
