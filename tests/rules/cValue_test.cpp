// Value rules: the conversions of a value's text by type, the error each
// failure carries, and the life of a rule (Init once, Clone, Clear).
#include "rules/cValue.h"

#include <gtest/gtest.h>

#include <clocale>

#include "ErrorOf.h"
#include "platform/App.h"

namespace ketch {
namespace {

cValue Rule(int32_t type) {
  cValue v;
  v.Init("v", type, 1, false);
  return v;
}

// The number of the error assigning the text raises, 0 for none.
int32_t AssignError(cValue& v, const std::string& text) {
  return ErrorOf([&] { v.Value(text); });
}

TEST(cValue, TextConvertsByTypeIndependentlyOfLocale) {
  struct Case {
    int32_t type;
    const char* text;
    Variant expected;
  } cases[] = {
      {vtLong, "12", int32_t{12}},
      {vtLong, "  12  ", int32_t{12}},
      {vtLong, "12.5", int32_t{12}},
      {vtLong, "13.5", int32_t{14}},
      {vtLong, "2.5", int32_t{2}},
      {vtLong, "3.5", int32_t{4}},
      {vtLong, "-1.5", int32_t{-2}},
      {vtLong, "+7", int32_t{7}},
      {vtLong, "1,000", int32_t{1000}},
      {vtLong, "1e3", int32_t{1000}},
      {vtLong, "2147483647", int32_t{2147483647}},
      {vtLong, "-2147483648", int32_t{-2147483647 - 1}},
      {vtDouble, "0.25", 0.25},
      {vtDouble, "-1.5E-2", -0.015},
      {vtDouble, " 3 ", 3.0},
      {vtText, "", std::string()},
      {vtText, "  as is, ", std::string("  as is, ")},
      {vtBoolean, "TRUE", true},
      {vtBoolean, "true", true},
      {vtBoolean, "False", false},
      {vtBoolean, "-1", true},
      {vtBoolean, "0", false},
      {vtBoolean, "2.5", true},
  };
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // a comma decimal locale, when present
  for (const auto& c : cases) {
    cValue v = Rule(c.type);
    v.Value(c.text);
    EXPECT_EQ(v.Value(), c.expected) << c.type << " '" << c.text << "'";
  }
  std::setlocale(LC_ALL, "C");
}

TEST(cValue, BadTextIsMismatchOverflowKeepsItsNumber) {
  struct Case {
    int32_t type;
    const char* text;
    int32_t number;
  } cases[] = {
      {vtLong, "abc", 10101},        {vtLong, "", 10101},         {vtLong, "1 2", 10101},
      {vtDouble, "abc", 10101},      {vtDouble, "", 10101},       {vtBoolean, "yes", 10101},
      {vtBoolean, "", 10101},        {vtLong, "2147483648", 6},   {vtLong, "-2147483649", 6},
      {vtLong, "1e10", 6},           {vtDouble, "1e400", 6},
  };
  for (const auto& c : cases) {
    cValue v = Rule(c.type);
    EXPECT_EQ(AssignError(v, c.text), c.number) << c.type << " '" << c.text << "'";
  }
}

TEST(cValue, FailedAssignmentKeepsThePreviousValue) {
  cValue v = Rule(vtLong);
  v.Value("41");
  EXPECT_EQ(AssignError(v, "2147483648"), 6);
  EXPECT_EQ(AssignError(v, "x"), 10101);
  EXPECT_EQ(v.Value(), Variant(int32_t{41}));
}

TEST(cValue, ErrorsCarryValueSourceAndTableText) {
  cValue v = Rule(vtLong);
  Error e = RaisedBy([&] { v.Value("x"); });
  EXPECT_EQ(e.Number, 10101);
  EXPECT_EQ(e.Source, App::EXEName() + ".Value");
  EXPECT_EQ(e.Description, "10101 - Value Type Mismatch");
  e = RaisedBy([&] { v.Value("9999999999"); });
  EXPECT_EQ(e.Number, 6);
  EXPECT_EQ(e.Source, App::EXEName() + ".Value");
  EXPECT_EQ(e.Description, PlatformErrorText(6));
}

TEST(cValue, NullUninitialisedAndUnknownTypesRefuseAssignment) {
  cValue v = Rule(vtNull);
  EXPECT_EQ(AssignError(v, "1"), 10102);
  EXPECT_TRUE(v.Value().IsNull());
  for (int32_t type : {0, 6, -1}) {
    cValue u;
    u.Init("v", type, 1, false);
    EXPECT_EQ(AssignError(u, "1"), 10102) << type;
    EXPECT_EQ(ErrorOf([&] { u.Value(); }), 10102) << type;
  }
}

TEST(cValue, SecondInitIsRefusedAndKeepsTheFirstButAfterTypeZeroItIsTaken) {
  cValue v;
  v.Init("a", vtLong, 2, false);
  EXPECT_EQ(ErrorOf([&] { v.Init("b", vtText, 3, true); }), 10103);
  EXPECT_EQ(v.ValueName(), "a");
  EXPECT_EQ(v.ValueType(), vtLong);
  EXPECT_EQ(v.Pozition(), 2);
  EXPECT_FALSE(v.IsMulti());
  // Type 0 leaves the rule open to a further Init.
  cValue z;
  z.Init("a", 0, 1, false);
  z.Init("b", vtText, 4, false);
  EXPECT_EQ(z.ValueName(), "b");
  EXPECT_EQ(z.ValueType(), vtText);
}

TEST(cValue, CloneTakesRuleAndNewPositionButNotTheValueWhichClearKeeps) {
  cValue v;
  v.Init("x", vtDouble, 3, true);
  v.Value("2.5");
  auto c = v.Clone(7);
  EXPECT_EQ(c->ValueName(), "x");
  EXPECT_EQ(c->ValueType(), vtDouble);
  EXPECT_EQ(c->Pozition(), 7);
  EXPECT_TRUE(c->IsMulti());
  EXPECT_EQ(c->Value(), Variant(0.0));
  cValue w = Rule(vtLong);
  w.Value("5");
  w.Clear();
  EXPECT_EQ(w.Value(), Variant(int32_t{5}));
}

TEST(cValue, TaggedNonTextValuesAreCoerced) {
  cValue v = Rule(vtText);
  v.Value(Variant(int32_t{12}));
  EXPECT_EQ(v.Value(), Variant(std::string("12")));
  cValue b = Rule(vtBoolean);
  b.Value(Variant(int32_t{0}));
  EXPECT_EQ(b.Value(), Variant(false));
  cValue n = Rule(vtLong);
  const Error e = RaisedBy([&] { n.Value(Variant::Null()); });
  EXPECT_EQ(e.Number, 94);
  EXPECT_EQ(e.Source, App::EXEName() + ".Value");
}

}  // namespace
}  // namespace ketch
