// The rule learner's decisions on lines made up for each case, and the
// writing of learned rules: merged, fresh, and undone when it fails.
#include "rules/RuleLearner.h"

#include <gtest/gtest.h>

#include "StoreFixture.h"
#include "ini/mSection.h"
#include "rules/RuleBaseWriter.h"

namespace ketch {
namespace {

FileBase NoFiles(const std::string&, const std::string&) { return FileBase::None; }

// Sections given as "Name|key = values|key = values".
class Learner {
 public:
  explicit Learner(LearnThresholds t = LearnThresholds()) : learner_(t) {}
  Learner& Add(const std::string& section, const std::vector<std::string>& lines, int times = 1) {
    for (int n = 0; n < times; ++n) {
      SectionRecord R;
      R.SectionName = section;
      R.EntryCount = 0;
      for (const auto& l : lines) {
        ++R.EntryCount;
        SplitEntryLine(l, R.EntryNames[R.EntryCount], R.EntryValues[R.EntryCount]);
      }
      learner_.AddSection(R, NoFiles);
    }
    return *this;
  }
  LearnedRules Decide() const { return learner_.Decide(); }

 private:
  RuleLearner learner_;
};

const LearnedEntry* Find(const LearnedRules& r, const std::string& section, const std::string& entry) {
  for (const auto& s : r.sections)
    if (s.name == section)
      for (const auto& e : s.entries)
        if (e.name == entry) return &e;
  return nullptr;
}

TEST(TypeOfText, GivesTheNarrowestTypeThatHoldsTheText) {
  EXPECT_EQ(TypeOfText("12"), 1);
  EXPECT_EQ(TypeOfText("-2147483648"), 1);
  EXPECT_EQ(TypeOfText("2147483648"), 2);  // past 32 bits: a number, not an integer
  EXPECT_EQ(TypeOfText("1.5"), 2);
  EXPECT_EQ(TypeOfText("1e3"), 1);
  EXPECT_EQ(TypeOfText("TRUE"), 4);
  EXPECT_EQ(TypeOfText("false"), 4);
  EXPECT_EQ(TypeOfText("x12"), 3);
  EXPECT_EQ(TypeOfText("-"), 3);
  EXPECT_EQ(TypeOfText(""), 3);
}

TEST(OneEditApart, DropsAddsChangesOrSwapsOneLetter) {
  EXPECT_TRUE(OneEditApart("hp_type", "hp_tpye"));
  EXPECT_TRUE(OneEditApart("hp_type", "hp_tye"));
  EXPECT_TRUE(OneEditApart("mass", "masse"));
  EXPECT_TRUE(OneEditApart("mass", "mast"));
  EXPECT_FALSE(OneEditApart("mass", "mass"));
  EXPECT_FALSE(OneEditApart("mass", "mess_"));
  EXPECT_FALSE(OneEditApart("abcd", "badc"));
}

TEST(RuleLearner, TheMajorityDecidesAndTheFewBreakingLinesStayOutside) {
  Learner l;
  l.Add("Ship", {"nickname = s", "mass = 12, 1.5, on", "flag = true"}, 18);
  // Two bad lines in twenty: a word for a number, and a value too many.
  l.Add("Ship", {"nickname = s", "mass = heavy, 1.5, on", "flag = 1"});
  l.Add("ship", {"NickName = s", "MASS = 12, 1.5, on, extra", "flag = false"});
  LearnedRules r = l.Decide();
  ASSERT_EQ(r.sections.size(), 1u);  // the letter case of a section is folded
  EXPECT_EQ(r.sections[0].name, "Ship");
  EXPECT_EQ(r.sections[0].occurrences, 20);
  const LearnedEntry* mass = Find(r, "Ship", "mass");
  ASSERT_NE(mass, nullptr);
  EXPECT_EQ(mass->fixed, 3);
  EXPECT_FALSE(mass->varArgs);
  EXPECT_FALSE(mass->multiLine);
  EXPECT_TRUE(mass->mandatory);
  EXPECT_EQ(mass->types, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Find(r, "Ship", "flag")->types, std::vector<int32_t>{4});  // true, false and numbers
  EXPECT_EQ(Find(r, "Ship", "nickname")->lines, 20);  // and of a key

  // Three breaking lines in twenty are too many for an integer.
  Learner m;
  m.Add("S", {"v = 1"}, 17).Add("S", {"v = high"}, 3);
  EXPECT_EQ(Find(m.Decide(), "S", "v")->types, std::vector<int32_t>{3});
}

TEST(RuleLearner, RepeatingValuesMultiLineEntriesAndKeysStandingAlone) {
  Learner l;
  for (int i = 0; i < 10; ++i) {
    std::vector<std::string> lines = {"hp_type = t"};
    for (int k = 0; k < i % 4; ++k) lines[0] += ", hp" + std::to_string(k);
    lines.push_back("fuse = a, " + std::to_string(i));
    lines.push_back("fuse = b, " + std::to_string(i));
    lines.push_back("separable");
    lines.push_back("size = 1");
    if (i == 3) lines.push_back("size = 1");  // the same line again: a slip, not a rule
    l.Add("Ship", lines);
  }
  LearnedRules r = l.Decide();
  const LearnedEntry* hp = Find(r, "Ship", "hp_type");
  EXPECT_EQ(hp->fixed, 1);
  EXPECT_TRUE(hp->varArgs);
  EXPECT_EQ(hp->varType, 3);
  EXPECT_TRUE(Find(r, "Ship", "fuse")->multiLine);
  EXPECT_FALSE(Find(r, "Ship", "size")->multiLine);
  const LearnedEntry* alone = Find(r, "Ship", "separable");
  EXPECT_EQ(alone->fixed, 0);
  EXPECT_TRUE(alone->varArgs);
  EXPECT_EQ(alone->varType, 5);  // takes no value
}

TEST(RuleLearner, RareKeysAndMisspellingsAreLeftOutLegitimatelyRareKeysKept) {
  Learner l;
  l.Add("Ship", {"nickname = s", "mass = 1"}, 200);
  l.Add("Ship", {"nickname = s", "mass = 1", "once = 1"});            // once in 200: a typo or nothing
  l.Add("Ship", {"nickname = s", "mass = 1", "rare_key = 1"}, 6);      // 3% of them, six times: kept
  l.Add("Ship", {"nickname = s", "mass = 1", "mas = 1"}, 4);           // one letter off a frequent key
  l.Add("Shpi", {"nickname = s"});                                     // one letter off a frequent section
  l.Add("Consts", {"max_players = 4", "build_tag = x"});               // a section seen once keeps its keys
  LearnedRules r = l.Decide();
  EXPECT_EQ(Find(r, "Ship", "once"), nullptr);
  EXPECT_NE(Find(r, "Ship", "rare_key"), nullptr);
  EXPECT_EQ(Find(r, "Ship", "mas"), nullptr);
  EXPECT_EQ(Find(r, "Shpi", "nickname"), nullptr);
  EXPECT_NE(Find(r, "Consts", "build_tag"), nullptr);
  EXPECT_EQ(r.rareKeys, 2);
  EXPECT_EQ(r.rareSections, 1);
}

TEST(RuleLearner, ThresholdsAreReadFromTextOrRefusedWhole) {
  LearnThresholds t;
  EXPECT_TRUE(ParseThresholds("break=0.2,minkey=4,var=0.3", t));
  EXPECT_DOUBLE_EQ(t.breakShare, 0.2);
  EXPECT_EQ(t.minKeyOccurrences, 4);
  EXPECT_DOUBLE_EQ(t.varShare, 0.3);
  EXPECT_FALSE(ParseThresholds("break=0.5,nonsense=1", t));
  EXPECT_FALSE(ParseThresholds("break=x", t));
  EXPECT_DOUBLE_EQ(t.breakShare, 0.2);
}

class RuleWriterTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    SettingsDB().Execute(
        "DELETE FROM _bc_values; DELETE FROM _bc_entries; DELETE FROM _bc_sections; DELETE FROM _bc_OtherINI;"
        "INSERT INTO _bc_sections VALUES (1, 'Ship', 1);"
        "INSERT INTO _bc_entries VALUES (101, 1, 'hull_file', 1, 1, 0, 0, 0), (7, 1, 'mass', 2, 1, 0, 0, 0);"
        "INSERT INTO _bc_values (Entry, ValueName, IDX, Type, IsMulti) VALUES (101, 'f', 1, 3, 0),"
        " (7, 'm', 1, 2, 0);"
        "INSERT INTO _bc_OtherINI (Value) VALUES ('gone.ini');");
    Learner l;
    l.Add("SHIP", {"hull_file = h.ini", "mass = 1", "cargo = 3"}, 5).Add("System", {"file = s.ini", "pos = 1, 2"}, 5);
    rules_ = l.Decide();
    // The learner saw these name files: below Universe for [System] file.
    for (auto& s : rules_.sections)
      for (auto& e : s.entries) {
        if (e.name == "hull_file") e.names = FileBase::Data, e.filesNamed = 5;
        if (e.name == "file") e.names = FileBase::Universe, e.filesNamed = 5;
      }
  }

  std::string Rows(const std::string& sql) {
    std::string out;
    for (auto rs = SettingsDB().OpenRecordset(sql, db::dbOpenForwardOnly); !rs->IsEOF(); rs->MoveNext()) {
      for (int i = 0; i < rs->FieldCount(); ++i) out += (i ? "," : "") + rs->Fields(i).AsText();
      out += ";";
    }
    return out;
  }

  LearnedRules rules_;
  const std::vector<int16_t> refs_ = {74, 101, 871};
};

TEST_F(RuleWriterTest, MergeKeepsTheRulesThereAndAddsTheRestBehindThem) {
  RulePlan plan = PlanRules(SettingsDB(), rules_, false, refs_);
  EXPECT_EQ(plan.known, 2);
  EXPECT_EQ(plan.newSections, 1);
  EXPECT_EQ(plan.otherINI, std::vector<std::string>{"gone.ini"});
  WriteRules(SettingsDB(), plan, {"kept.ini"});
  EXPECT_EQ(Rows("SELECT DB_ID, Section, EntryName, IDX, FixedArgsNo FROM _bc_entries ORDER BY Section, IDX"),
            "101,1,hull_file,1,1;7,1,mass,2,1;102,1,cargo,3,1;103,2,file,1,1;104,2,pos,2,2;");
  EXPECT_EQ(Rows("SELECT DB_ID, SectionName, IDX FROM _bc_sections ORDER BY DB_ID"), "1,Ship,1;2,System,2;");
  EXPECT_EQ(Rows("SELECT Value FROM _bc_OtherINI"), "kept.ini;");
  const std::string tsv = RulesTsv(plan);
  EXPECT_NE(tsv.find("\nShip\tcargo\t1\t0\t0\t1\t102\t\t1\t1\t0\n"), std::string::npos) << tsv;
  EXPECT_NE(tsv.find("\nSystem\tpos\t2\t0\t0\t1\t104\t\t1\t2\t0\n"), std::string::npos) << tsv;
}

TEST_F(RuleWriterTest, FreshGivesTheReferenceIdentifiersToTheEntriesNamingFiles) {
  RulePlan plan = PlanRules(SettingsDB(), rules_, true, refs_);
  WriteRules(SettingsDB(), plan, {});
  EXPECT_EQ(Rows("SELECT EntryName, DB_ID FROM _bc_entries ORDER BY DB_ID"),
            "mass,1;cargo,2;pos,3;file,74;hull_file,101;");
  EXPECT_EQ(Rows("SELECT SectionName FROM _bc_sections ORDER BY IDX"), "SHIP;System;");
  EXPECT_EQ(Rows("SELECT count(*) FROM _bc_OtherINI"), "0;");
}

TEST_F(RuleWriterTest, AWriteThatFailsHalfWayLeavesTheRuleTablesAsTheyWere) {
  const std::string before = Rows("SELECT * FROM _bc_ListSections") + Rows("SELECT * FROM _bc_OtherINI");
  RulePlan plan = PlanRules(SettingsDB(), rules_, true, refs_);
  // The rules go in first; a row of the list that the table refuses comes last.
  SettingsDB().Execute("CREATE TRIGGER refuse BEFORE INSERT ON _bc_OtherINI BEGIN SELECT RAISE(ABORT, 'full'); END");
  EXPECT_THROW(WriteRules(SettingsDB(), plan, {"x.ini"}), Error);
  EXPECT_FALSE(SettingsDB().InTransaction());
  EXPECT_EQ(Rows("SELECT * FROM _bc_ListSections") + Rows("SELECT * FROM _bc_OtherINI"), before);
  // And the database takes the next transaction as usual.
  SettingsDB().Execute("DROP TRIGGER refuse");
  WriteRules(SettingsDB(), plan, {"x.ini"});
  EXPECT_EQ(Rows("SELECT Value FROM _bc_OtherINI"), "x.ini;");
}

}  // namespace
}  // namespace ketch
