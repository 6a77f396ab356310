// The sample game as an oracle: vdgen writes the small game with its
// manifest of planted faults and the rows the analyser must store; the real
// ketch analyses it headless; the log must show exactly the planted faults
// and VD.MDB exactly the conforming lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "Process.h"
#include "Rows.h"
#include "TestUtil.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using test::TextLines;

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, sep);) out.push_back(cell);
  return out;
}

using Findings = std::multiset<std::string>;  // "file\tline\tcode"

// vdgen into a folder of the test's own.
test::RunResult Generate(const std::string& rules, const std::string& dir, const std::string& seed = "1") {
  return test::Run({.argv = {VDGEN_PATH, "--preset", "small", "--seed", seed, "--rules", rules, dir}});
}

// The small game is written and analysed once; the tests read the results.
class OracleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    bin_ = *dir_ / "bin";
    game_ = *dir_ / "game";
    log_ = *dir_ / "log";
    test::MakeProgramFolder(bin_);
    fs::create_directories(log_);
    gen_ = Generate(bin_ + "/KETCH.MDB", game_);
    run_ = test::Run({.argv = {bin_ + "/ketch", "--game", game_, "--log", log_, "--overwrite", "1", "init", "all"},
                      .env = test::kNoDisplay});
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    ASSERT_EQ(gen_.status, 0) << gen_.err;
    ASSERT_EQ(run_.status, 0) << run_.err;
  }

  static std::string Log() { return test::ReadFile(log_ + "/ketch.log"); }

  void EveryPlantedFaultIsLoggedAtItsFileAndLineAndNothingElse();
  void TheStoreHoldsExactlyTheConformingLinesOfEveryFile();
  void EverySectionKindAndFileNamingEntryIsStored();
  void TheSmallGamePlantsEveryKindOfFault();

  static inline test::TempDir* dir_ = nullptr;
  static inline std::string bin_, game_, log_;
  static inline test::RunResult gen_, run_;

  std::string Relative(const std::string& path) const {
    const std::string prefix = game_ + "\\";
    return path.starts_with(prefix) ? path.substr(prefix.size()) : path;
  }

  Findings Manifest() {
    Findings out;
    for (const auto& line : TextLines(test::ReadFile(game_ + "/manifest.tsv"))) {
      if (line.empty() || line[0] == '#') continue;
      auto c = Split(line, '\t');
      out.insert(c[0] + "\t" + c[1] + "\t" + c[2]);
    }
    return out;
  }

  // Every warning, repair and skipped file of the log, in the manifest's
  // terms. A repair is named by its key and form: bare, "true = ..." or other.
  Findings LogFindings(const std::string& log, std::vector<std::string>& errors) {
    Findings out;
    auto lines = TextLines(log);
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      if (l.starts_with("Error : ") || l.starts_with("ERR ")) errors.push_back(l);
      if (l.starts_with("    Processing ") && i + 1 < lines.size() && lines[i + 1] == "Already parsed. Skipped.")
        out.insert(Relative(l.substr(15)) + "\t0\tskipped");
      if (!l.starts_with("WARN: File ") || i + 1 >= lines.size()) continue;
      size_t at = l.rfind(" line ");
      std::string where = Relative(l.substr(11, at - 11)) + "\t" + l.substr(at + 6) + "\t";
      const std::string& next = lines[i + 1];
      if (next.starts_with("      Section [") && i + 2 < lines.size()) {
        out.insert(where + lines[i + 2].substr(6, 5));
      } else if (next.starts_with("      !")) {
        std::string text = next.substr(7, next.find('!', 7) - 7);
        std::string key = text.starts_with("offer_missions") ? "offer_missions" : "separable";
        std::string form = "bare";
        if (next.find("! line found. Changed to !") == std::string::npos)
          form = text.compare(key.size() + 3, 7, "true = ") == 0 ? "true" : "other";
        out.insert(where + "repair:" + key + ":" + form);
      } else {
        errors.push_back(l + " / " + next);
      }
    }
    return out;
  }

  // Per file: area, sections, entries, values and the digest of the rows in
  // file order, made as vdgen makes it.
  std::map<std::string, std::string> StoredRows() {
    struct Row {
      std::string area, file, text;
      long sections = 0, entries = 0, values = 0;
    };
    std::map<std::string, Row> files;
    sqlite3* db = nullptr;
    sqlite3_open_v2((bin_ + "/VD.MDB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    // One row per section, entry and value, in the order the digest takes them.
    const auto rows = test::Cells(
        db, "SELECT s.Area, s.File, s.Line, s.Section, e.DB_ID, e.Line, e.Entry, v.Value "
            "FROM Sections s LEFT JOIN Entries e ON e.Link = s.DB_ID LEFT JOIN [Values] v ON v.Link = e.DB_ID "
            "ORDER BY s.File, s.Line, e.Line, v.DB_ID");
    sqlite3_close(db);
    std::string lastSection, lastEntry;
    std::map<std::string, std::vector<std::string>> lines;  // per file, the digest's lines
    for (const auto& cells : rows) {
      auto text = [&](int i) { return cells[i].value_or("~"); };
      std::string file = Relative(text(1)), sectionKey = file + "\t" + text(2), entryKey = text(4);
      Row& r = files[file];
      auto& ls = lines[file];
      if (sectionKey != lastSection) {
        ++r.sections;
        r.area = text(0);
        ls.push_back("S\t" + text(0) + "\t" + text(2) + "\t" + text(3) + "\n");
        lastSection = sectionKey;
        lastEntry.clear();
      }
      if (!cells[4]) continue;
      if (entryKey != lastEntry) {
        ++r.entries;
        ls.push_back("E\t" + text(2) + "\t" + text(5) + "\t" + text(6) + "\t");
        lastEntry = entryKey;
      }
      if (cells[7]) {  // else an entry line stored without values
        ++r.values;
        std::string& last = ls.back();
        if (last.back() != '\t') last += '\x1f';
        last += text(7);
      }
    }
    std::map<std::string, std::string> out;
    for (auto& [file, r] : files) {
      uint64_t h = test::Fnv1a("");
      for (auto& l : lines[file]) h = test::Fnv1a(l.back() == '\n' ? l : l + "\n", h);
      char hex[17];
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
      out[file] = r.area + "\t" + std::to_string(r.sections) + "\t" + std::to_string(r.entries) + "\t" +
                  std::to_string(r.values) + "\t" + hex;
    }
    return out;
  }

  std::map<std::string, std::string> ExpectedRows(int& binaryFiles) {
    std::map<std::string, std::string> out;
    binaryFiles = 0;
    for (const auto& line : TextLines(test::ReadFile(game_ + "/expected.tsv"))) {
      if (line.empty() || line[0] == '#') continue;
      auto c = Split(line, '\t');
      out[c[0]] = c[1] + "\t" + c[3] + "\t" + c[4] + "\t" + c[5] + "\t" + c[6];
      binaryFiles += c[2] == "1";
    }
    return out;
  }
};

std::string FirstOf(const std::vector<std::string>& v) {
  std::string s;
  for (size_t i = 0; i < v.size() && i < 15; ++i) s += "  " + v[i] + "\n";
  return s;
}

void OracleTest::EveryPlantedFaultIsLoggedAtItsFileAndLineAndNothingElse() {
  std::vector<std::string> errors;
  Findings logged = LogFindings(Log(), errors), planted = Manifest();
  EXPECT_TRUE(errors.empty()) << errors.front();
  std::vector<std::string> missing, extra;
  std::set_difference(planted.begin(), planted.end(), logged.begin(), logged.end(), std::back_inserter(missing));
  std::set_difference(logged.begin(), logged.end(), planted.begin(), planted.end(), std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << missing.size() << " planted but not logged:\n" << FirstOf(missing);
  EXPECT_TRUE(extra.empty()) << extra.size() << " logged but not planted:\n" << FirstOf(extra);
  EXPECT_GT(planted.size(), 150u);
}

void OracleTest::TheStoreHoldsExactlyTheConformingLinesOfEveryFile() {
  int binaryFiles = 0;
  auto expected = ExpectedRows(binaryFiles);
  auto stored = StoredRows();
  std::vector<std::string> diff;
  for (const auto& [file, row] : expected) {
    auto it = stored.find(file);
    if (it == stored.end())
      diff.push_back(file + ": nothing stored, expected " + row);
    else if (it->second != row)
      diff.push_back(file + ": stored " + it->second + ", expected " + row);
  }
  for (const auto& [file, row] : stored)
    if (!expected.count(file)) diff.push_back(file + ": stored but not expected");
  EXPECT_TRUE(diff.empty()) << diff.size() << " files differ:\n" << FirstOf(diff);
  EXPECT_GT(expected.size(), 200u);
  // About a third binary, and each file as the expectation says.
  EXPECT_GT(binaryFiles, static_cast<int>(expected.size()) / 4);
  EXPECT_LT(binaryFiles, static_cast<int>(expected.size()) / 2);
  for (const auto& line : TextLines(test::ReadFile(game_ + "/expected.tsv"))) {
    if (line.empty() || line[0] == '#') continue;
    auto c = Split(line, '\t');
    std::string path = c[0].substr(c[0].find('\\') + 1);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (c[0].starts_with("Data\\Universe\\")) path = "universe/" + path.substr(path.find('/') + 1);
    std::string head = test::ReadFile(game_ + "/DATA/" + path).substr(0, 4);
    EXPECT_EQ(head == "KRUN", c[2] == "1") << c[0];
  }
}

// The game covers the rule base: every section, every kind of [Data] file
// and every entry that names files, followed as deep as the chains go.
void OracleTest::EverySectionKindAndFileNamingEntryIsStored() {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((bin_ + "/KETCH.MDB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_exec(db, ("ATTACH '" + bin_ + "/VD.MDB' AS vd").c_str(), nullptr, nullptr, nullptr);
  auto column = [&](const std::string& sql) {
    auto rows = test::Rows(db, sql);
    return std::set<std::string>(rows.begin(), rows.end());
  };
  EXPECT_EQ(column("SELECT lower(SectionName) FROM _bc_sections"),
            column("SELECT DISTINCT Section FROM vd.Sections"));
  std::set<std::string> areas = column("SELECT DISTINCT Area FROM vd.Sections");
  for (const char* kind : {"solar", "universe", "constants", "fonts", "sounds", "voices", "explosions", "debris",
                           "asteroids", "equipment", "ships", "goods", "loadouts", "costumes", "petaldb",
                           "effects", "effect_shapes", "fuses", "groups", "stars", "markets", "weaponmoddb",
                           "hardcoded"})
    EXPECT_TRUE(areas.count(kind)) << kind;
  std::set<std::string> ids = column("SELECT DISTINCT EntryID FROM vd.Entries");
  for (const char* id : {"74", "101", "871", "877", "879", "64", "824", "1034", "1040", "1055", "1107", "1169", "872"})
    EXPECT_TRUE(ids.count(id)) << id;
  // Four levels: configuration, universe, system, asteroid field, rock file.
  EXPECT_FALSE(column("SELECT File FROM vd.Sections WHERE Section = 'rock' AND Area = 'universe'").empty());
  EXPECT_FALSE(column("SELECT File FROM vd.Sections WHERE Section = 'cargo' AND Area = 'hardcoded'").empty());
  sqlite3_close(db);
}

void OracleTest::TheSmallGamePlantsEveryKindOfFault() {
  std::set<std::string> kinds;
  for (const auto& f : Manifest()) kinds.insert(Split(f, '\t')[2]);
  for (const char* code : {"10101", "10102", "10104", "10205", "10209", "10212", "10301", "10302", "10304",
                           "10305", "10306", "skipped", "repair:separable:bare", "repair:separable:true",
                           "repair:separable:other", "repair:offer_missions:bare", "repair:offer_missions:true",
                           "repair:offer_missions:other"})
    EXPECT_TRUE(kinds.count(code)) << code;
}

TEST(VdgenTest, TheSameSeedGivesTheSameBytesAnotherSeedAnotherGameAndUsageErrorsWriteNothing) {
  test::TempDir dir;
  test::TempDir bin;
  test::MakeProgramFolder(bin.Path(), {"KETCH.MDB"});
  const std::string rules = bin / "KETCH.MDB";
  ASSERT_EQ(Generate(rules, dir / "a").status, 0);
  ASSERT_EQ(Generate(rules, dir / "b").status, 0);
  ASSERT_EQ(Generate(rules, dir / "c", "2").status, 0);
  auto a = test::TreeSums(dir / "a"), b = test::TreeSums(dir / "b"), c = test::TreeSums(dir / "c");
  EXPECT_EQ(a.size(), b.size());
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == c);
  test::TempDir none;
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"--preset", "huge", none / "x"},
                                        {"--seed"}, {"--rules", none / "none.mdb", none / "y"}}) {
    args.insert(args.begin(), VDGEN_PATH);
    auto r = test::Run({.argv = args});
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_FALSE(fs::exists(none / "x"));
  EXPECT_FALSE(fs::exists(none / "y/EXE"));
}

// Generating and analysing the game takes seconds: done once, then every
// check looks at the same run.
TEST_F(OracleTest, TheSmallGameAnalysedHeadless) {
  {
    SCOPED_TRACE("log");
    EveryPlantedFaultIsLoggedAtItsFileAndLineAndNothingElse();
  }
  {
    SCOPED_TRACE("store");
    TheStoreHoldsExactlyTheConformingLinesOfEveryFile();
  }
  {
    SCOPED_TRACE("coverage");
    EverySectionKindAndFileNamingEntryIsStored();
    TheSmallGamePlantsEveryKindOfFault();
  }
}

}  // namespace
}  // namespace ketch
