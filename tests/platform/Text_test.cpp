// Code page 1252 <-> UTF-8: every byte round-trips, the code page's own
// characters map to their Unicode, and what 1252 cannot hold becomes '?'.
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace ketch {
namespace {

TEST(Text, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_GT(utf8.size(), all.size());
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << "byte " << b;
  }
}

TEST(Text, KnownCharacters) {
  struct Case {
    std::string cp1252;
    std::string utf8;
  } cases[] = {
      {"plain", "plain"},
      {"\x80", "\xE2\x82\xAC"},          // euro sign
      {"\x85", "\xE2\x80\xA6"},          // ellipsis
      {"\x8A", "\xC5\xA0"},              // S caron
      {"\x9F", "\xC5\xB8"},              // Y diaeresis
      {"\x99", "\xE2\x84\xA2"},          // trade mark
      {"\xA0", "\xC2\xA0"},              // no-break space, as Latin-1
      {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},  // Latin-1 letters
      {"\xFF", "\xC3\xBF"},
      {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // undefined: C1 controls
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp1252ToUtf8(c.cp1252), c.utf8);
    EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252);
  }
}

TEST(Text, WhatTheCodePageCannotHoldBecomesQuestionMark) {
  struct Case {
    std::string utf8;
    std::string cp1252;
  } cases[] = {
      {"\xE4\xB8\xAD", "?"},              // CJK
      {"a\xF0\x9F\x98\x80z", "a?z"},      // 4-byte character
      {"\xC2\x80", "?"},                  // U+0080 is not in the code page
      {"\xC3", "?"},                      // truncated sequence
      {"\xC3(", "?("},                    // lead byte without continuation
      {"\x80x", "?x"},                    // stray continuation byte
      {"\xC0\xAF", "?"},                  // overlong form
      {"\xED\xA0\x80", "?"},              // surrogate
      {"\xE2\x82", "?"},                  // truncated euro sign
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

}  // namespace
}  // namespace ketch

namespace ketch {
namespace {

// Game text (1252) and file-system paths (UTF-8) on one terminal line: each
// stays readable; what is no well-formed UTF-8 is read as the code page.
TEST(Text, MixedTextReachesTheTerminalAsUtf8) {
  EXPECT_EQ(MixedToUtf8("plain"), "plain");
  EXPECT_EQ(MixedToUtf8("caf\xC3\xA9 caf\xE9"), "caf\xC3\xA9 caf\xC3\xA9");
  EXPECT_EQ(MixedToUtf8("\x80 \xE2\x82\xAC \xF0\x9F\x98\x80"), "\xE2\x82\xAC \xE2\x82\xAC \xF0\x9F\x98\x80");
  // Cut, overlong and surrogate sequences are bytes of the code page.
  EXPECT_EQ(MixedToUtf8("\xC3"), "\xC3\x83");
  EXPECT_EQ(MixedToUtf8("\xC0\xAF"), Cp1252ToUtf8("\xC0\xAF"));
  EXPECT_EQ(MixedToUtf8("\xED\xA0\x80"), Cp1252ToUtf8("\xED\xA0\x80"));
  EXPECT_EQ(MixedToUtf8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");
}

}  // namespace
}  // namespace ketch
