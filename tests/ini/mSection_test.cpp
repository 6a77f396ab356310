// The section reader and the section check in memory: the forms of a header,
// the lines a section collects and those it skips, the next header pushed
// back, the 2048-line capacity, and what DoSection warns about and stores.
#include "ini/mSection.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "ReaderFixture.h"

namespace ketch {
namespace {

using test::CrLf;

// The bytes of a file, what the reader or the check makes of them, and the
// findings it logs.
struct Case {
  const char* name;
  std::string bytes;
  std::vector<std::string> result;
  std::vector<std::string> findings = {};
};

class SectionTest : public test::ReaderFixture {
 protected:
  // Every section of the bytes as "name@line: [key|value]...".
  std::vector<std::string> Sections(const std::string& bytes) {
    auto f = Reader(bytes);
    std::vector<std::string> out;
    SectionRecord r;
    while (ReadNextSection(r, *f)) {
      std::string s = r.SectionName + "@" + std::to_string(r.LineNo) + ":";
      for (int16_t i = 1; i <= r.EntryCount; ++i) s += " [" + r.EntryNames[i] + "|" + r.EntryValues[i] + "]";
      out.push_back(s);
      EXPECT_EQ(r.File, "C:\\g\\x.ini");
    }
    return out;
  }
  // Reads the one section of the bytes and checks it under area A.
  void Check(const std::string& bytes, const std::string& area = "ships") {
    auto f = Reader(bytes);
    SectionRecord r;
    ASSERT_TRUE(ReadNextSection(r, *f));
    DoSection(area, r);
  }
};

TEST_F(SectionTest, HeadersLinesAndThePushedBackHeader) {
  const Case cases[] = {
      {"empty", "", {}},
      {"no header", CrLf({"a = 1", "b = 2"}), {}},
      {"lines before the header", CrLf({"a = 1", "; c", "", "[Ship]", "b = 2"}), {"Ship@4: [b|2]"}},
      {"header only", "[Ship]", {"Ship@1:"}},
      {"cleaned header", " \t[Ship] ; note", {"Ship@1:"}},
      {"empty name", "[]", {"@1:"}},
      {"brackets inside", "[[a]]", {"[a]@1:"}},
      {"no closing bracket", CrLf({"[Ship", "a = 1"}), {"Ship@1: [a|1]"},
       {"10301 - Section has no closing bracket ![Ship!!"}},
      {"text after the bracket", "[Ship]x", {"Ship]x@1:"}, {"10301 - Section has no closing bracket ![Ship]x!!"}},
      {"a bracket alone", "[", {"@1:"}, {"10301 - Section has no closing bracket ![!!"}},
      {"entry forms", CrLf({"[S]", "a=b", " k  =  v , w ", "bare", "=x", "k =", "a = b = c"}),
       {"S@1: [a|b] [k|v , w] [bare|] [=x|] [k|] [a|b = c]"}},
      {"blank and comment lines skipped", CrLf({"[S]", "", "a = 1", "; c", "", "b = 2", ""}),
       {"S@1: [a|1] [b|2]"}},
      {"next header pushed back", CrLf({"[A]", "a = 1", "[B]", "[C]", "c = 3"}),
       {"A@1: [a|1]", "B@3:", "C@4: [c|3]"}},
  };
  for (const auto& c : cases) {
    box_.clear();
    EXPECT_EQ(Sections(c.bytes), c.result) << c.name;
    EXPECT_EQ(Findings(), c.findings) << c.name;
  }
  // The warning points at the header line.
  box_.clear();
  Sections(CrLf({"", "[Ship"}));
  EXPECT_EQ(box_.substr(0, box_.find("\r\n")), "WARN: File C:\\g\\x.ini line 3");
}

TEST_F(SectionTest, ASectionHolds2048EntryLines) {
  std::string full = "[S]\r\n";
  for (int i = 1; i <= kSectionCapacity; ++i) full += "k" + std::to_string(i) + " = v\r\n";
  auto f = Reader(full + "; a comment does not count\r\n\r\n[T]\r\n");
  SectionRecord r;
  ASSERT_TRUE(ReadNextSection(r, *f));
  EXPECT_EQ(r.EntryCount, kSectionCapacity);
  EXPECT_EQ(r.EntryNames[kSectionCapacity], "k2048");
  ASSERT_TRUE(ReadNextSection(r, *f));
  EXPECT_EQ(r.SectionName, "T");

  f = Reader(full + "one = more\r\n");
  EXPECT_EQ(ErrorOf([&] { ReadNextSection(r, *f); }), errSubscript);
}

TEST_F(SectionTest, DoSectionWarnsAboutEachBadLineAndStoresTheGoodOnes) {
  const Case cases[] = {
      {"good lines, in the order of the rules",
       CrLf({"[Ship]", "hp = h, p1, p2", "ids_name = 5", "NICKNAME = a", "hp = h2"}),
       {"ships|ship|C:\\g\\x.ini|1", "  1|nickname|4|a", "  1|ids_name|3|5", "  1|hp|2|h,p1,p2", "  1|hp|5|h2"}},
      {"section name in other case", CrLf({"[SHIP]", "nickname = a"}),
       {"ships|ship|C:\\g\\x.ini|1", "  1|nickname|2|a"}},
      {"unknown section", CrLf({"[Station]", "nickname = x"}), {}, {"10305 - Unknown Section !nickname!x!"}},
      {"unknown section without lines", "[Station]", {}, {"10305 - Unknown Section ![Station]!!"}},
      {"findings of the lines",
       CrLf({"[Ship]", "hit_pts = 5", "ids_name = 2147483648", "ids_name = x", "ids_name = 1, 2", "hp =",
             "nickname = a", "nickname = b"}),
       {"ships|ship|C:\\g\\x.ini|1", "  1|nickname|7|a"},
       {"10302 - Unknown Entry !hit_pts!5!", "10104 - Value Overflow !ids_name!2147483648!",
        "10101 - Value Type Mismatch !ids_name!x!", "10205 - Too Many Values !ids_name!1, 2!",
        "10212 - Too Few Values !hp!!", "10209 - Entry is Not Multiline !nickname!b!"}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(InitData());  // a fresh store for each case
    InitParse();
    box_.clear();
    Check(c.bytes);
    EXPECT_EQ(Findings(), c.findings) << c.name;
    EXPECT_EQ(Stored(), c.result) << c.name;
  }
}

}  // namespace
}  // namespace ketch
