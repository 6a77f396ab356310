// Entry rules: the per-entry checks of a line, the collection of good lines,
// and the rows they give in the data database.
#include "rules/cEntry.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "platform/Error.h"
#include "rules/cSingleEntry.h"
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

// A run takes lines through TakeValues, which reports by number; SetValues
// raises. Fed the same lines, both must find the same, keep the same lines,
// and the raised error must be the one RaiseEntryError makes of the number.
TEST(cEntry, TakeValuesFindsWhatSetValuesRaises) {
  auto shaped = [](bool multiLine, int32_t type) {
    auto e = std::make_unique<cEntry>();
    e->Init("Ship", "mass", 1, multiLine, true, false, 3);
    e->AddValue("a", vtLong, 1, false);
    e->AddValue("b", type, 2, true);
    return e;
  };
  const char* lines[] = {"1",     "1, 2.5", "x",        "1, x",   "99999999999", "1, 1e400", "",
                         "1, 2, 3", "1, true", "1,,2", "2147483648", "1, 1,5",    "  7  ,  8 "};
  for (bool multiLine : {false, true})
    for (int32_t type : {int32_t{vtLong}, int32_t{vtDouble}, int32_t{vtText}, int32_t{vtBoolean}, int32_t{9}}) {
      auto raising = shaped(multiLine, type);
      auto taking = shaped(multiLine, type);
      for (const char* line : lines)
        for (const char* name : {"mass", "MASS", "weight"}) {
          const Error raised = RaisedBy([&] { raising->SetValues(name, line, 4); });
          const int32_t taken = taking->TakeValues(name, line, 4);
          const std::string what = std::string(name) + " = " + line + " (type " + std::to_string(type) + ")";
          EXPECT_EQ(taken, raised.Number) << what;
          if (taken == 0) continue;
          const Error made = RaisedBy([&] { RaiseEntryError(taken); });
          EXPECT_EQ(made.Source, raised.Source) << what;
          EXPECT_EQ(made.Description, raised.Description) << what;
        }
      ASSERT_EQ(taking->Count(), raising->Count());
      for (int16_t i = 1; i <= taking->Count(); ++i) {
        const cSingleEntry& a = taking->Occurrence(i);
        const cSingleEntry& b = raising->Occurrence(i);
        ASSERT_EQ(a.VarValuesCount(), b.VarValuesCount());
        for (int16_t p = 1; p <= a.FixedValuesNo() + a.VarValuesCount(); ++p)
          EXPECT_EQ(a.Value(p).Value(), b.Value(p).Value());
      }
    }
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
