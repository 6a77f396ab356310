// Entry rules: the per-entry checks of a line, the collection of good lines,
// and the rows they give in the data database.
#include "rules/cEntry.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "platform/Error.h"
#include "StoreFixture.h"

namespace ketch {
namespace {

// "hp_Type": 1 fixed integer, and a text multi value when var.
std::unique_ptr<cEntry> HpType(bool multiLine, bool var, int32_t id = 6) {
  auto e = std::make_unique<cEntry>();
  e->Init("Ship", "hp_Type", 1, multiLine, var, false, id);
  e->AddValue("n", vtLong, 1, false);
  if (var) e->AddValue("hardpoint", vtText, 2, true);
  return e;
}

TEST(cEntry, ASingleLineEntryRefusesASecondLineButNotAFirstOneAfterAFailure) {
  auto e = HpType(false, false);
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "", 9); }), 10212);  // leaves the template
  EXPECT_EQ(e->Count(), 0);
  e->SetValues("hp_Type", "1", 10);
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "2", 11); }), 10209);
  EXPECT_EQ(e->Count(), 1);
  EXPECT_EQ(e->Occurrence(1).FileLine(), 10);
  e->Clear();
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "3", 12); }), 0);
  EXPECT_EQ(e->Count(), 1);
}

TEST(cEntry, OnlyGoodLinesInAnyCaseOfTheKeyTakeASlotAndNoneWithoutARule) {
  auto e = HpType(true, false);
  e->SetValues("HP_TYPE", "1", 1);
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_typo", "2", 2); }), 10203);
  EXPECT_EQ(e->Count(), 1);
  EXPECT_EQ(e->Occurrence(1).Value(1).Value(), Variant(int32_t{1}));
  // Failed lines leave the next good line its slot.
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "1, 2", 2); }), 10205);
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "x", 3); }), 10101);
  e->SetValues("hp_Type", "4", 4);
  ASSERT_EQ(e->Count(), 2);
  EXPECT_EQ(e->Occurrence(2).FileLine(), 4);
  EXPECT_EQ(e->Occurrence(2).Value(1).Value(), Variant(int32_t{4}));
  cEntry none;
  EXPECT_EQ(ErrorOf([&] { none.SetValues("x", "1", 1); }), 10202);
  EXPECT_EQ(ErrorOf([&] { none.AddValue("", vtLong, 1, false); }), 10202);
}

TEST(cEntry, CloneHasTheRuleButNoLines) {
  auto e = HpType(true, true, 42);
  e->SetValues("hp_Type", "1, a", 1);
  e->SetValues("hp_Type", "2, b, c", 2);
  auto c = e->Clone();
  EXPECT_EQ(c->Count(), 0);
  EXPECT_EQ(c->EntryName(), "hp_Type");
  EXPECT_EQ(c->SectionName(), "Ship");
  EXPECT_EQ(c->EntryDB_ID(), 42);
  EXPECT_TRUE(c->IsMultiLine());
  EXPECT_TRUE(c->HasVariableValues());
  EXPECT_EQ(c->FixedValuesNo(), 1);
  c->SetValues("hp_Type", "9, z, y", 3);
  EXPECT_EQ(c->Occurrence(1).Value(3).ValueName(), "hardpoint");
}

class EntryStoreTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_TRUE(InitData());
    SetStorage(OpenStorage(*DataDB()));
  }
  // Entries rows as Entry|EntryID|Link|Line, then each row's values.
  std::vector<std::string> Stored() {
    std::vector<std::string> out;
    for (const auto& e : DataRows("SELECT DB_ID, Entry, EntryID, Link, Line FROM Entries ORDER BY DB_ID")) {
      std::string id = e.substr(0, e.find('|'));
      out.push_back(e.substr(e.find('|') + 1));
      for (const auto& v : DataRows("SELECT Value FROM \"Values\" WHERE Link = " + id + " ORDER BY DB_ID"))
        out.push_back("  " + v);
    }
    return out;
  }
};

TEST_F(EntryStoreTest, MultiLineEntryStoresLinesInOrderEachWithItsValues) {
  auto e = HpType(true, true);
  e->SetValues("HP_type", "1, a", 11);
  e->SetValues("hp_Type", "2", 12);
  e->SetValues("hp_type", "3, b, c, d", 13);
  e->Store(7);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"hp_type|6|7|11", "  1", "  a", "hp_type|6|7|12", "  2",
                                                 "hp_type|6|7|13", "  3", "  b", "  c", "  d"}));
}

TEST_F(EntryStoreTest, StoreWritesOnlyGoodLinesAndNothingWithoutLines) {
  auto e = HpType(true, false);
  e->Store(1);
  EXPECT_TRUE(Stored().empty());
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "x", 1); }), 10101);
  e->SetValues("hp_Type", "2", 2);
  EXPECT_EQ(ErrorOf([&] { e->SetValues("hp_Type", "3, 4", 3); }), 10205);
  e->Store(1);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"hp_type|6|1|2", "  2"}));
}

TEST_F(EntryStoreTest, TwoFixedAndThreeVariableValuesGiveFiveValueRowsInPositionOrder) {
  cEntry e;
  e.Init("S", "Pos", 2, false, true, false, 9);
  e.AddValue("x", vtDouble, 1, false);
  e.AddValue("ok", vtBoolean, 2, false);
  e.AddValue("rest", vtText, 3, true);
  e.SetValues("pos", "0.5, TRUE, , c c, 3", 1);
  e.Store(2);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"pos|9|2|1", "  0.5", "  True", "  ", "  c c", "  3"}));
}

TEST_F(EntryStoreTest, KeptClonesServeLaterOccurrencesWithTheirOwnValues) {
  auto e = HpType(true, true);
  e->SetValues("hp_type", "1, a, b, c", 1);
  e->SetValues("hp_type", "2, d, e, f, g", 2);
  e->SetValues("hp_type", "3, h", 3);
  e->Clear();
  e->SetValues("hp_type", "4", 10);
  e->SetValues("hp_type", "5, i", 11);
  e->Store(2);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"hp_type|6|2|10", "  4", "hp_type|6|2|11", "  5", "  i"}));
}

}  // namespace
}  // namespace ketch
