// The tagged value's coercions and the United States number format, checked
// as families of conversions with their exact results and error numbers.
#include "platform/Variant.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "platform/Error.h"

namespace ketch {
namespace {

// The error number a call raises, or 0 when it succeeds.
TEST(ParseNumber, AcceptedForms) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"12", 12},           {"  12  ", 12},        {"\t12\t", 12},       {"+12", 12},
      {"-12", -12},         {"12.5", 12.5},        {".5", 0.5},          {"5.", 5},
      {"-0.25", -0.25},     {"1,234", 1234},       {"1,234,567.5", 1234567.5},
      {"1e3", 1000},        {"1E3", 1000},         {"1.5e+2", 150},      {"25e-1", 2.5},
      {"-1.5E-3", -0.0015}, {"0", 0},              {"1e-400", 0},        {"0.1", 0.1},
      {"1.7976931348623157e308", 1.7976931348623157e308},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << c.text;
}

// Plain decimals take a shorter way than from_chars; both must give the
// same double to the last bit, also where the shorter way stops applying.
TEST(ParseNumber, PlainDecimalsReadAsFromChars) {
  std::mt19937_64 random(7);
  auto same = [](const std::string& text) {
    double expected = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    const double got = ParseNumber(text);
    EXPECT_EQ(std::signbit(got), std::signbit(expected)) << text;
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text << " gave " << got;
  };
  for (int i = 0; i < 20000; ++i) {
    const int before = static_cast<int>(random() % 18), after = static_cast<int>(random() % 26);
    std::string text = random() % 4 == 0 ? "-" : "";
    for (int d = 0; d < before; ++d) text += static_cast<char>('0' + random() % 10);
    if (before == 0) text += '0';
    if (after > 0) text += '.';
    for (int d = 0; d < after; ++d) text += static_cast<char>('0' + random() % 10);
    same(text);
  }
  for (const char* text : {"9007199254740991", "9007199254740992", "9007199254740993", "0.9007199254740993",
                           "-0", "-0.0", "0.0000000000000000000001", "0.00000000000000000000001",
                           "1.0000000000000000000001", "123456789012.3456789", "0.1", "0.3", "2.675"})
    same(text);
}

TEST(ParseNumber, RefusedForms) {
  struct Case {
    const char* text;
    int32_t error;
  } cases[] = {
      {"", errTypeMismatch},     {"   ", errTypeMismatch},  {"abc", errTypeMismatch},
      {"12abc", errTypeMismatch}, {"1 2", errTypeMismatch}, {".", errTypeMismatch},
      {"-", errTypeMismatch},    {"1e", errTypeMismatch},   {"1e+", errTypeMismatch},
      {",1", errTypeMismatch},   {"1,", errTypeMismatch},   {"1,,2", errTypeMismatch},
      {"1.2.3", errTypeMismatch}, {"--1", errTypeMismatch}, {"1,2", 0},
      {"1e400", errOverflow},    {"-1e400", errOverflow},   {"2e308", errOverflow},
      {"1.8e308", errOverflow},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { ParseNumber(c.text); }), c.error) << c.text;
}

TEST(ParseLong, RoundsHalfToEvenAndChecksRange) {
  struct Case {
    const char* text;
    int32_t value;
    int32_t error;
  } cases[] = {
      {"12", 12, 0},          {" 12 ", 12, 0},        {"12.5", 12, 0},      {"13.5", 14, 0},
      {"2.5", 2, 0},          {"3.5", 4, 0},          {"-1.5", -2, 0},      {"-2.5", -2, 0},
      {"0.5", 0, 0},          {"0.51", 1, 0},         {"-0.4", 0, 0},       {"1e3", 1000, 0},
      {"2147483647", 2147483647, 0},                  {"-2147483648", std::numeric_limits<int32_t>::min(), 0},
      {"2147483647.4", 2147483647, 0},                {"2147483647.5", 0, errOverflow},
      {"2147483648", 0, errOverflow},                 {"-2147483649", 0, errOverflow},
      {"1e10", 0, errOverflow},                       {"", 0, errTypeMismatch},
      {"abc", 0, errTypeMismatch},                    {"1e400", 0, errOverflow},
      // Plain integers take a shorter road that must end where the long one does.
      {"+7", 7, 0},           {"-0", 0, 0},           {"007", 7, 0},        {"1,000", 1000, 0},
      {"999999999", 999999999, 0},                    {"-999999999", -999999999, 0},
      {"1234567890", 1234567890, 0},                  {"1 2", 0, errTypeMismatch},
      {"+", 0, errTypeMismatch},                      {"-", 0, errTypeMismatch},
      {"12a", 0, errTypeMismatch},                    {"1,", 0, errTypeMismatch},
  };
  for (const Case& c : cases) {
    int32_t got = 0;
    EXPECT_EQ(ErrorOf([&] { got = ParseLong(c.text); }), c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(got, c.value) << c.text;
    }
  }
}

TEST(ParseBool, WordsAndNumbers) {
  struct Case {
    const char* text;
    bool value;
    int32_t error;
  } cases[] = {
      {"True", true, 0},    {"TRUE", true, 0},  {"true", true, 0},   {" tRuE ", true, 0},
      {"False", false, 0},  {"FALSE", false, 0}, {"-1", true, 0},    {"1", true, 0},
      {"0", false, 0},      {"0.0", false, 0},  {"0.1", true, 0},    {"2", true, 0},
      {"yes", false, errTypeMismatch},          {"", false, errTypeMismatch},
      {"truex", false, errTypeMismatch},        {"on", false, errTypeMismatch},
  };
  for (const Case& c : cases) {
    bool got = !c.value;
    EXPECT_EQ(ErrorOf([&] { got = ParseBool(c.text); }), c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(got, c.value) << c.text;
    }
  }
}

TEST(RoundToInteger, Bounds) {
  EXPECT_EQ(RoundToInteger(255.4, 0, 255), 255);
  EXPECT_EQ(ErrorOf([] { RoundToInteger(255.5, 0, 255); }), errOverflow);  // ties go to 256
  EXPECT_EQ(RoundToInteger(-0.5, 0, 255), 0);
  EXPECT_EQ(ErrorOf([] { RoundToInteger(-0.6, 0, 255); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInteger(std::nan(""), 0, 255); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInteger(1e300, INT64_MIN, INT64_MAX); }), errOverflow);
}

TEST(DoubleToText, ShortestTextThatReadsBack) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.1, "0.1"}, {1.5, "1.5"}, {-2.25, "-2.25"}, {100, "100"}, {0, "0"},
      {1e20, "1E+20"}, {1e-7, "1E-07"}, {1.0 / 3, "0.3333333333333333"}, {123456789.125, "123456789.125"},
  };
  for (const Case& c : cases) EXPECT_EQ(DoubleToText(c.value), c.text);
  for (double v : {0.1, 1.0 / 3, 2.0 / 3, 1e-300, 1.7976931348623157e308, 5e-324, -123.456e7})
    EXPECT_EQ(ParseNumber(DoubleToText(v)), v) << DoubleToText(v);
}

TEST(Variant, KindsAndText) {
  EXPECT_EQ(Variant().Kind(), vtNull);
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_EQ(Variant(int32_t{5}).Kind(), vtLong);
  EXPECT_EQ(Variant(2.5).Kind(), vtDouble);
  EXPECT_EQ(Variant(true).Kind(), vtBoolean);
  EXPECT_EQ(Variant("x").Kind(), vtText);
  EXPECT_EQ(Variant(std::string()).Kind(), vtText);  // empty text is not null

  EXPECT_EQ(Variant(int32_t{-42}).AsText(), "-42");
  EXPECT_EQ(Variant(0.1).AsText(), "0.1");
  EXPECT_EQ(Variant(true).AsText(), "True");
  EXPECT_EQ(Variant(false).AsText(), "False");
  EXPECT_EQ(Variant("a b").AsText(), "a b");
}

TEST(Variant, Coercions) {
  struct Case {
    Variant v;
    int32_t asLong;  // 0 with an error number below
    int32_t longError;
    int32_t byteError;
  } cases[] = {
      {Variant(int32_t{300}), 300, 0, errOverflow},
      {Variant(2.5), 2, 0, 0},
      {Variant(3.5), 4, 0, 0},
      {Variant(-1.5), -2, 0, errOverflow},
      {Variant(true), -1, 0, errOverflow},  // the platform's True is -1
      {Variant(false), 0, 0, 0},
      {Variant(" 255 "), 255, 0, 0},
      {Variant("300"), 300, 0, errOverflow},
      {Variant("abc"), 0, errTypeMismatch, errTypeMismatch},
      {Variant(""), 0, errTypeMismatch, errTypeMismatch},
      {Variant(3e9), 0, errOverflow, errOverflow},
      {Variant(), 0, errInvalidUseOfNull, errInvalidUseOfNull},
  };
  for (const Case& c : cases) {
    int32_t got = 0;
    EXPECT_EQ(ErrorOf([&] { got = c.v.AsLong(); }), c.longError) << c.v.AsText();
    if (!c.longError) {
      EXPECT_EQ(got, c.asLong);
    }
    EXPECT_EQ(ErrorOf([&] { c.v.AsByte(); }), c.byteError);
  }
  EXPECT_EQ(Variant(int32_t{32767}).AsInteger(), 32767);
  EXPECT_EQ(ErrorOf([] { Variant(int32_t{32768}).AsInteger(); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { Variant("-32769").AsInteger(); }), errOverflow);
  EXPECT_EQ(Variant("1,000.5").AsDouble(), 1000.5);
  EXPECT_EQ(Variant(int32_t{7}).AsDouble(), 7.0);
  EXPECT_TRUE(Variant(int32_t{-1}).AsBool());
  EXPECT_FALSE(Variant(0.0).AsBool());
  EXPECT_TRUE(Variant("TRUE").AsBool());
  EXPECT_EQ(ErrorOf([] { Variant("yes").AsBool(); }), errTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant().AsText(); }), errInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([] { Variant().AsBool(); }), errInvalidUseOfNull);
}

}  // namespace
}  // namespace ketch
