// Entry checking: the order of the AddValue tests, the value counts of a
// line (too many, too few, variable values), clones and Clear.
#include "rules/cSingleEntry.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

#include <vector>

#include "platform/App.h"
#include "platform/Error.h"

namespace ketch {
namespace {

// An entry with `fixed` integer values and, when `var`, a text multi value.
cSingleEntry Entry(int16_t fixed, bool var) {
  cSingleEntry e;
  e.Init("Ship", "hp", fixed, var);
  for (int16_t p = 1; p <= fixed; ++p) e.AddValue("f" + std::to_string(p), vtLong, p, false);
  if (var) e.AddValue("m", vtText, static_cast<int16_t>(fixed + 1), true);
  return e;
}

std::vector<Variant> Values(const cSingleEntry& e) {
  std::vector<Variant> out;
  for (int p = 1; p <= e.FixedValuesNo() + e.VarValuesCount(); ++p)
    out.push_back(e.Value(static_cast<int16_t>(p)).Value());
  return out;
}

TEST(cSingleEntry, AddValueTestsRunInTheirOrder) {
  // Each case fails two or more tests at once; the first in order wins.
  struct Case {
    const char* what;
    int16_t fixed;
    bool var;
    int added;  // fixed rules added first, positions 1..added
    bool addMulti;
    int16_t poz;
    bool multi;
    int32_t error;
  } cases[] = {
      {"position before multi-not-accepted", 1, false, 0, false, 2, true, 10204},
      {"multi on an entry without variable values", 1, false, 1, false, 2, true, 10211},
      {"multi-last before too-many", 1, true, 1, true, 3, false, 10210},
      {"too-many for a fixed rule beyond", 1, true, 1, false, 2, false, 10205},
      {"multi in fixed position", 2, true, 1, false, 2, true, 10206},
      {"fixed in multi position", 1, false, 1, false, 2, false, 10207},
      {"position mismatch 1 then 3", 3, false, 1, false, 3, false, 10204},
      {"multi on 0 fixed without variable values", 0, false, 0, false, 1, true, 10211},
      {"fixed on 0 fixed without variable values", 0, false, 0, false, 1, false, 10207},
  };
  for (const auto& c : cases) {
    cSingleEntry e;
    e.Init("S", "E", c.fixed, c.var);
    for (int16_t p = 1; p <= c.added; ++p) e.AddValue("", vtLong, p, false);
    if (c.addMulti) e.AddValue("", vtText, static_cast<int16_t>(c.added + 1), true);
    EXPECT_EQ(ErrorOf([&] { e.AddValue("", vtLong, c.poz, c.multi); }), c.error) << c.what;
  }
}

TEST(cSingleEntry, NotInitialisedRefusesAddValueAndSetValues) {
  cSingleEntry e;
  EXPECT_EQ(e.SectionName(), "_bc_empty");
  EXPECT_EQ(ErrorOf([&] { e.AddValue("", vtLong, 1, false); }), 10202);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("E", "1", 1); }), 10202);
  e.Init("S", "E", 1, false);
  EXPECT_EQ(ErrorOf([&] { e.Init("S", "E", 1, false); }), 10201);
}

TEST(cSingleEntry, AgainstOneIntegerTooManyComesFirstTheKeyIgnoresCaseAndErrorsNameTheEntry) {
  cSingleEntry e = Entry(1, false);
  const Error err = RaisedBy([&] { e.SetValues("hp", "1, 2", 1); });
  EXPECT_EQ(err.Number, 10205);
  EXPECT_EQ(err.Source, App::EXEName() + ".Entry");
  EXPECT_EQ(err.Description, "10205 - Too Many Values");
  // The second value is no integer either: the count test comes first.
  EXPECT_EQ(ErrorOf([&] { e.SetValues("hp", "1, x", 1); }), 10205);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("HP", "1", 1); }), 0);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("hpx", "1", 1); }), 10203);
}

TEST(cSingleEntry, LinesAgainstTwoFixedIntegers) {
  struct Case {
    const char* text;
    int32_t error;
  } cases[] = {
      {"1, 2", 0}, {"1", 10212}, {"", 10212}, {"1, 2, 3", 10205}, {"1, x", 10101}, {"1,", 10212},
      {"1, 99999999999", 6},
  };
  for (const auto& c : cases) {
    cSingleEntry e = Entry(2, false);
    EXPECT_EQ(ErrorOf([&] { e.SetValues("hp", c.text, 5); }), c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(e.VarValuesCount(), 0);
      EXPECT_EQ(e.FileLine(), 5);
      EXPECT_EQ(Values(e), (std::vector<Variant>{int32_t{1}, int32_t{2}}));
    }
  }
}

TEST(cSingleEntry, VariableValuesAreClonesOfTheMultiRuleAnyCountWithoutFixedOnes) {
  cSingleEntry e = Entry(1, true);
  e.SetValues("hp", "7", 1);
  EXPECT_EQ(e.VarValuesCount(), 0);
  e.SetValues("hp", "7, b, c, d", 2);
  EXPECT_EQ(e.VarValuesCount(), 3);
  EXPECT_EQ(Values(e), (std::vector<Variant>{int32_t{7}, "b", "c", "d"}));
  for (int16_t p = 2; p <= 4; ++p) {
    EXPECT_EQ(e.Value(p).Pozition(), p);
    EXPECT_TRUE(e.Value(p).IsMulti());
    EXPECT_EQ(e.Value(p).ValueName(), "m");
  }
  e.Clear();
  EXPECT_EQ(e.Value(2).ValueName(), "m");
  EXPECT_EQ(ErrorOf([&] { e.Value(3); }), 9);
  // Without fixed values any count is taken, none included.
  cSingleEntry z = Entry(0, true);
  z.SetValues("hp", "", 1);
  EXPECT_EQ(z.VarValuesCount(), 0);
  EXPECT_TRUE(Values(z).empty());
  z.SetValues("hp", "a, b, c", 2);
  EXPECT_EQ(Values(z), (std::vector<Variant>{"a", "b", "c"}));
  z.Clear();
  EXPECT_EQ(z.Value(1).ValueName(), "m");
  EXPECT_EQ(ErrorOf([&] { z.Value(2); }), 9);
}

TEST(cSingleEntry, EachLineReadsOnlyItsOwnValuesAndAFailedOneKeepsTheLastGood) {
  cSingleEntry e = Entry(1, true);
  e.SetValues("hp", "1, a, b, c", 1);
  e.Clear();
  e.SetValues("hp", "2, z", 2);
  EXPECT_EQ(Values(e), (std::vector<Variant>{int32_t{2}, "z"}));
  e.SetValues("hp", "3, p, q, r, s", 3);
  EXPECT_EQ(Values(e), (std::vector<Variant>{int32_t{3}, "p", "q", "r", "s"}));
  // A failed line keeps the file line and count of the last good one.
  e.SetValues("hp", "1, a", 10);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("hp", "x, a, b", 11); }), 10101);
  EXPECT_EQ(e.FileLine(), 10);
  EXPECT_EQ(e.VarValuesCount(), 1);
}

TEST(cSingleEntry, WithoutValueRulesLinesFailTypesNotSetAndWithoutAMultiRuleSubscript) {
  for (auto [fixed, var] : {std::pair<int16_t, bool>{2, false}, {0, false}, {0, true}}) {
    cSingleEntry e;
    e.Init("S", "E", fixed, var);
    EXPECT_EQ(ErrorOf([&] { e.SetValues("E", "", 1); }), 10208) << fixed << var;
    EXPECT_EQ(ErrorOf([&] { e.SetValues("E", "1", 1); }), 10208) << fixed << var;
  }
  // Variable values declared without a multi rule.
  cSingleEntry e;
  e.Init("S", "E", 1, true);
  e.AddValue("", vtLong, 1, false);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("E", "1", 1); }), 0);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("E", "1, 2", 1); }), 9);
  EXPECT_EQ(ErrorOf([&] { e.SetValues("E", "1, 2, 3", 1); }), 9);
}

TEST(cSingleEntry, CloneOfALineWithFiveVariableValuesHasOnlyTheRules) {
  cSingleEntry e = Entry(2, true);
  e.SetValues("hp", "1, 2, a, b, c, d, e", 9);
  auto c = e.Clone();
  EXPECT_EQ(c->SectionName(), "Ship");
  EXPECT_EQ(c->EntryName(), "hp");
  EXPECT_EQ(c->FixedValuesNo(), 2);
  EXPECT_TRUE(c->HasVariableValues());
  EXPECT_EQ(c->VarValuesCount(), 0);
  EXPECT_EQ(c->FileLine(), 0);
  EXPECT_EQ(c->Value(1).Value(), Variant(int32_t{0}));
  EXPECT_EQ(c->Value(3).ValueName(), "m");
  EXPECT_TRUE(c->Value(3).IsMulti());
  EXPECT_EQ(ErrorOf([&] { c->Value(4); }), 9);
  // The clone checks lines like its original.
  EXPECT_EQ(ErrorOf([&] { c->SetValues("hp", "1", 1); }), 10212);
}

}  // namespace
}  // namespace ketch
