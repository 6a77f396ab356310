// The value splitter: tokens, empty values, trailing commas and the 16-bit
// position limit.
#include "rules/mUtils.h"

#include <gtest/gtest.h>

#include <vector>

#include "ErrorOf.h"

namespace ketch {
namespace {

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> out;
  int16_t pos = 1;
  std::string token;
  while (NextToken(text, pos, token)) out.push_back(token);
  return out;
}

TEST(NextToken, SplitsAtCommasAndTrimsBlanks) {
  struct Case {
    const char* text;
    std::vector<std::string> tokens;
  } cases[] = {
      {"", {}},
      {"1, 2", {"1", "2"}},
      {"a,,b", {"a", "", "b"}},
      {"a,b,", {"a", "b"}},
      {",a", {"", "a"}},
      {",", {""}},
      {"  x  ", {"x"}},
      {" , ", {"", ""}},
      {"\"a,b\"", {"\"a", "b\""}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << "'" << c.text << "'";
}

TEST(NextToken, PositionMovesPastCommaOrEnd) {
  std::string token;
  int16_t pos = 1;
  ASSERT_TRUE(NextToken("ab,c", pos, token));
  EXPECT_EQ(pos, 4);
  ASSERT_TRUE(NextToken("ab,c", pos, token));
  EXPECT_EQ(token, "c");
  EXPECT_EQ(pos, 5);
  EXPECT_FALSE(NextToken("ab,c", pos, token));
}

TEST(NextToken, TextOf32767CharactersOverflows) {
  std::string token;
  int16_t pos = 1;
  EXPECT_TRUE(NextToken(std::string(32766, 'a'), pos, token));
  pos = 1;
  EXPECT_EQ(ErrorOf([&] { NextToken(std::string(32767, 'a'), pos, token); }), 6);
}

}  // namespace
}  // namespace ketch
