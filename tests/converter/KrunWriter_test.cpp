// Tests of the binary INI writer: value typing, the exact bytes and the
// limits (its round trip through the real krun is in e2e/krun_test).
#include "KrunWriter.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace krun {
namespace {

using namespace std::string_literals;

TEST(KrunWriter, TypesValuesByWhetherKrunPrintsThemBack) {
  struct Case {
    const char* text;
    BinaryValue expected;
  };
  const std::vector<Case> cases = {
      {"7", BinaryValue::Integer(7)},
      {"0", BinaryValue::Integer(0)},
      {"-12", BinaryValue::Integer(-12)},
      {"2147483647", BinaryValue::Integer(2147483647)},
      {"-2147483648", BinaryValue::Integer(INT32_MIN)},
      {"2147483648", BinaryValue::String("2147483648")},
      {"007", BinaryValue::String("007")},
      {"+7", BinaryValue::String("+7")},
      {"-0", BinaryValue::String("-0")},
      {"7 ", BinaryValue::String("7 ")},
      {"2.500000", BinaryValue::Float(2.5f)},
      {"-0.250000", BinaryValue::Float(-0.25f)},
      {"-0.000000", BinaryValue::Float(-0.0f)},
      {"0.100000", BinaryValue::Float(0.1f)},
      {"16777216.000000", BinaryValue::Float(16777216.0f)},
      {"16777217.000000", BinaryValue::String("16777217.000000")},
      {"2.5", BinaryValue::String("2.5")},
      {"2.5000000", BinaryValue::String("2.5000000")},
      {"1e3", BinaryValue::String("1e3")},
      {"inf", BinaryValue::String("inf")},
      {"nan", BinaryValue::String("nan")},
      {"li_gun", BinaryValue::String("li_gun")},
      {"", BinaryValue::String("")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TypeValue(c.text), c.expected);
  }
}

TEST(KrunWriter, ParsesSectionsEntriesAndValues) {
  const BinaryIni ini = ParseTextIni(
      "  [Ship]  \r\n"
      "\tname=li_gun ,7\n"
      "\r\n"
      "separable = true\n"
      "label =\n"
      "flag = true, 1\n"
      "[]\n"
      "x = a = b");
  const BinaryIni expected = {
      {"Ship",
       {{"name", {BinaryValue::String("li_gun"), BinaryValue::Integer(7)}},
        {"separable", {}},
        {"label", {BinaryValue::String("")}},
        {"flag", {BinaryValue::String("true"), BinaryValue::Integer(1)}}}},
      {"", {{"x", {BinaryValue::String("a = b")}}}},
  };
  EXPECT_EQ(ini, expected);
}

TEST(KrunWriter, RefusesWhatItCannotWrite) {
  EXPECT_THROW(ParseTextIni("[s]\nno equals sign\n"), std::invalid_argument);
  EXPECT_THROW(ParseTextIni("a = 1\n[s]\n"), std::invalid_argument);
  EXPECT_THROW(WriteBinaryIniFile("/nonexistent-folder/x.ini", "[s]\n"), std::runtime_error);
  EXPECT_THROW(EncodeBinaryIni({{"s\0x"s, {}}}), std::invalid_argument);
  EXPECT_THROW(EncodeBinaryIni({{"s", {{"e", {BinaryValue::String("a\0b"s)}}}}}),
               std::invalid_argument);

  BinaryEntry tooManyValues{"e", std::vector<BinaryValue>(256, BinaryValue::Integer(1))};
  EXPECT_THROW(EncodeBinaryIni({{"s", {tooManyValues}}}), std::length_error);
  tooManyValues.values.pop_back();
  EXPECT_NO_THROW(EncodeBinaryIni({{"s", {tooManyValues}}}));

  BinarySection tooManyEntries{"s", std::vector<BinaryEntry>(65536, BinaryEntry{"e", {}})};
  EXPECT_THROW(EncodeBinaryIni({tooManyEntries}), std::length_error);
  tooManyEntries.entries.pop_back();
  EXPECT_NO_THROW(EncodeBinaryIni({tooManyEntries}));

  // Names must start within 64 KiB; long strings after them are fine.
  BinarySection longNames{"s", {}};
  for (char c = 'a'; c <= 'z'; ++c) longNames.entries.push_back({std::string(2700, c), {}});
  EXPECT_THROW(EncodeBinaryIni({longNames}), std::length_error);
  longNames.entries.resize(24);
  longNames.entries[0].values.push_back(BinaryValue::String(std::string(70000, 's')));
  EXPECT_NO_THROW(EncodeBinaryIni({longNames}));
}

TEST(KrunWriter, WritesTheExactBytes) {
  const std::string bytes = TextToBinaryIni("[S]\na = 7, x, -1.500000\nb = true\n[S]\nx = a\n");
  const std::string expected =
      "KRUN"
      "\x01\x00\x00\x00"
      "\x31\x00\x00\x00"                  // T = 12 + 4 + 3 + 15 + 3 + 4 + 3 + 5 = 49
      "\x00\x00\x02\x00"                  // [S], 2 entries
      "\x02\x00\x03"                      // a, 3 values
      "\x01\x07\x00\x00\x00"              // 7
      "\x03\x06\x00\x00\x00"              // "x", also a name, so stored once
      "\x02\x00\x00\xc0\xbf"              // -1.5f
      "\x04\x00\x00"                      // b, no values
      "\x00\x00\x01\x00"                  // [S], 1 entry
      "\x06\x00\x01"                      // x, 1 value
      "\x03\x02\x00\x00\x00"              // "a"
      "S\0a\0b\0x\0"s;
  EXPECT_EQ(bytes, expected);
}

}  // namespace
}  // namespace krun
