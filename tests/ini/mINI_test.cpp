// Reading one data file, from memory through the file opener: its sections
// checked and stored under the area, one event pump per section, a file read
// only once per load, a missing one warned against the place that named it,
// and a full section that ends the program under ReadINIFile.
#include "ini/mINI.h"

#include <gtest/gtest.h>

#include "ReaderFixture.h"
#include "shell/DoEvents.h"
#include "shell/RunCounts.h"
#include "store/mDataDB.h"

namespace ketch {
namespace {

using test::CrLf;

class ReadFileTest : public test::ReaderFixture {
 protected:
  LocationRecord Naming() { return {"C:\\g\\EXE\\vandrel.ini", 7, "Data", "ships", "s.ini", 3}; }
  void Read(const std::string& path, const std::string& area = "ships") {
    LocationRecord l = Naming();
    ReadINIFile(area, path, l);
  }
};

TEST_F(ReadFileTest, EachFileIsReadOnceWithOnePumpPerSection) {
  Files()["C:\\g\\DATA\\s.ini"] = CrLf({"; ships", "[Ship]", "nickname = a", "[Ship]", "nickname = b", "mass = 1"});
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  Read("C:\\g\\DATA\\s.ini");
  Read("C:\\G\\data\\S.INI", "goods");  // the same file in other letter case
  EXPECT_EQ(pumps, 2);
  EXPECT_EQ(box_, CrLf({"    Processing C:\\g\\DATA\\s.ini", "WARN: File C:\\g\\DATA\\s.ini line 6",
                        "      Section [Ship] line 2", "      10302 - Unknown Entry !mass!1!", "",
                        "    Processing C:\\G\\data\\S.INI", "Already parsed. Skipped."}));
  EXPECT_EQ(Stored(), (std::vector<std::string>{"ships|ship|C:\\g\\DATA\\s.ini|2", "ships|ship|C:\\g\\DATA\\s.ini|4",
                                                "  2|nickname|3|a", "  4|nickname|5|b"}));
  EXPECT_EQ(Counts().textFiles, 1);
}

TEST_F(ReadFileTest, AMissingFileIsWarnedAgainstThePlaceThatNamedItOnce) {
  for (const std::string& path : {dir_ / "none.ini", std::string("C:\\g\\DATA\\no\\none.ini")}) {
    box_.clear();
    Read(path);
    EXPECT_EQ(box_, CrLf({"    Processing " + path, "WARN: File C:\\g\\EXE\\vandrel.ini line 7",
                          "      Section [Data] line 3", "      10306 - Could not open referred file !ships!s.ini!",
                          ""}));
    box_.clear();
    Read(path);  // counted as read all the same
    EXPECT_EQ(box_, CrLf({"    Processing " + path, "Already parsed. Skipped."}));
  }
  EXPECT_EQ(Counts().textFiles, 0);
  EXPECT_TRUE(Stored().empty());
}

TEST_F(ReadFileTest, AFullSectionEndsTheProgramAndKeepsTheFilesBefore) {
  Files()["a.ini"] = CrLf({"[Ship]", "nickname = a"});
  std::string big = "[Ship]\r\nnickname = big\r\n";
  for (int i = 0; i < kSectionCapacity; ++i) big += "hp = h\r\n";
  Files()["big.ini"] = big;
  Read("a.ini");
  box_.clear();
  EXPECT_EQ(EndStatus([&] { Read("big.ini"); }), 3);
  EXPECT_EQ(box_, CrLf({"    Processing big.ini", "Error : Subscript out of range", "Number: 9",
                        "Source: " + App::EXEName(), "ReadINIFile"}));
  EXPECT_EQ(Stored(), (std::vector<std::string>{"ships|ship|a.ini|1", "  1|nickname|2|a"}));
}

// A check's run: the same lines read, the same findings and repairs logged,
// the lines counted, and nothing stored, not even an empty transaction.
TEST_F(ReadFileTest, ARunThatStoresNothingChecksAlikeAndTouchesNoStore) {
  Files()["s.ini"] = CrLf({"[Ship]", "nickname = a", "ids_name = x", "[Shp]", "nickname = b", "", "[Ship]",
                           "nickname = c", "hp = h1, h2", "separable"});
  Read("s.ini");
  CommitDataFiles();
  const std::string stored = box_;
  const auto rows = Stored();
  ASSERT_EQ(rows.size(), 5u);
  InitParse(false);
  box_.clear();
  Read("s.ini");
  EXPECT_EQ(box_, stored);
  EXPECT_EQ(Counts().lines, 10);
  EXPECT_EQ(Counts().textFiles, 1);
  EXPECT_FALSE(DataDB()->InTransaction());
  EXPECT_EQ(Stored(), rows);
}

// A text in memory: the findings a read of the same bytes logs, each with
// the physical line of its entry as well as the log's; the sink let go after.
TEST_F(ReadFileTest, CheckTextGivesTheFindingsOfTheSameBytesReadAsAFile) {
  const std::string text = CrLf({"[Ship]", "; note", "", "nickname = a", "colour = red", "[Ship", "mass = x",
                                 "[Shp]", "nickname = b"});
  Files()["s.ini"] = text;
  InitParse(false);
  std::vector<Finding> read;
  SetFindingSink([&](const Finding& f) { read.push_back(f); });
  Read("s.ini");
  SetFindingSink(nullptr);
  box_.clear();
  const std::vector<Finding> checked = CheckText("s.ini", text);
  ASSERT_EQ(checked.size(), read.size());
  ASSERT_EQ(checked.size(), 4u);
  std::vector<std::pair<int32_t, int32_t>> lines;
  for (size_t i = 0; i < checked.size(); ++i) {
    EXPECT_EQ(checked[i].Code, read[i].Code);
    EXPECT_EQ(checked[i].Line, read[i].Line);
    EXPECT_EQ(checked[i].Key, read[i].Key);
    lines.emplace_back(checked[i].Line, checked[i].PhysicalLine);
  }
  // 10302 colour, 10301 [Ship (about its header), 10101 mass, 10305 [Shp].
  EXPECT_EQ(lines, (std::vector<std::pair<int32_t, int32_t>>{{3, 5}, {7, 6}, {7, 7}, {9, 8}}));
  // The log hears of them as of a file's; the sink is let go.
  EXPECT_NE(box_.find("10302 - Unknown Entry !colour!red!"), std::string::npos);
  EXPECT_TRUE(CheckText("t.ini", "[Ship]\r\nnickname = z\r\n").empty());
  Read("s.ini");  // nothing hears of it now, and nothing fails
}

}  // namespace
}  // namespace ketch
