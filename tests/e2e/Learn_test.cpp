// ketch learn as a user runs it: the real program and krun on real files,
// then init all (or check) against what it wrote.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "KrunWriter.h"
#include "Process.h"
#include "Rows.h"
#include "TestUtil.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using test::TextLines;

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, sep);) out.push_back(cell);
  return out;
}

// The rule listing: "SECTION\tENTRY" (upper case) -> fixed, multi, var and the values.
std::map<std::string, std::string> Listing(const std::string& db) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  std::map<std::string, std::string> out;
  for (const auto& c : test::Cells(h,
                                   "SELECT upper(SectionName) || char(9) || upper(EntryName), FixedArgsNo, "
                                   "IsMultiLine, HasVarArgs, DB_ID, Type, \"_bc_values.IDX\", IsMulti FROM "
                                   "_bc_ListSections")) {
    std::string& rule = out[*c[0]];
    if (rule.empty()) rule = *c[1] + "/" + *c[2] + "/" + *c[3] + " id " + *c[4] + ":";
    rule += " " + *c[6] + "=" + *c[5] + (*c[7] == "1" ? "*" : "");
  }
  sqlite3_close(h);
  return out;
}

std::vector<std::string> Column(const std::string& db, const std::string& sql) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> out;
  for (const auto& c : test::Cells(h, sql)) out.push_back(c[0].value_or("~"));
  sqlite3_close(h);
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A figure of the learn summary.
long Figure(const std::string& out, const std::string& label) {
  for (const auto& l : TextLines(out))
    if (l.starts_with("  " + label + "  ")) return std::stol(l.substr(l.find_last_of(' ') + 1));
  return -1;
}

// The rule tables as the analysis reads them.
std::string RuleTables(const std::string& db) {
  std::string out;
  for (const auto& [key, rule] : Listing(db)) out += key + " " + rule + "\n";
  for (const auto& v : Column(db, "SELECT Value FROM _bc_OtherINI")) out += v + "\n";
  return out;
}

void EmptyListing(const std::string& db) {
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  sqlite3_exec(h, "DELETE FROM _bc_values; DELETE FROM _bc_entries; DELETE FROM _bc_sections; VACUUM", nullptr,
               nullptr, nullptr);
  sqlite3_close(h);
}

class LearnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = dir_ / "bin";
    game_ = dir_ / "game";
    log_ = dir_ / "log";
    test::MakeProgramFolder(bin_);
    fs::create_directories(log_);
  }

  test::RunResult Ketch(std::vector<std::string> args, std::function<void()> prepare = {}) {
    std::vector<std::string> argv = {bin_ + "/ketch", "--game", game_, "--log", log_, "--overwrite", "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run({.argv = argv, .env = test::kNoDisplay, .prepare = prepare});
  }

  std::string Db() const { return bin_ + "/KETCH.MDB"; }

  // A game of three sections' worth of files: [Data] names a.ini, whose
  // values name b.ini (binary, in another letter case) and a file below
  // DATA\Universe\, which names a.ini back.
  void SmallGame(const std::string& thingLines) {
    Write(game_ + "/EXE/vandrel.ini", "[Data]\r\nships = things\\a.ini\r\nvoices = voices.ini\r\n");
    std::string a = "[Files]\r\nnext = things\\B.INI\r\nsystem = systems\\s1.ini\r\n";
    for (int i = 0; i < 20; ++i) a += "[Thing]\r\nnickname = t" + std::to_string(i) + "\r\nmass = " +
                                       std::to_string(10 + i) + ", 1.5\r\nhp = " + std::to_string(i) +
                                       "\r\nhp = 3\r\nvisible = true\r\n";
    a += thingLines;
    Write(game_ + "/DATA/things/a.ini", a);
    fs::create_directories(game_ + "/DATA/things");
    krun::WriteBinaryIniFile(game_ + "/DATA/things/b.ini",
                             "[Other]\nback = things\\a.ini\nsize = 1, 2, 3\n[Other]\nsize = 4, 5\n[Other]\nsize = 6\n");
    Write(game_ + "/DATA/Universe/systems/s1.ini",
          "[Sys]\r\nfile = things\\a.ini\r\nstars = 12\r\n[Sys]\r\nstars = 3\r\n");
  }

  test::TempDir dir_;
  std::string bin_, game_, log_;
};

TEST_F(LearnTest, LearnsFromEveryFileReachedOnceThenChecksTheBreakingLinesAtTheirPlaces) {
  // Twenty good [Thing] sections, then one whose mass is a word: the majority
  // makes mass a number, so that this one line is the finding.
  SmallGame("[Thing]\r\nnickname = odd\r\nmass = heavy, 1.5\r\nhp = 1\r\n");
  EmptyListing(Db());
  const std::string before = test::ReadFile(Db());
  const auto gameBefore = test::TreeSums(game_);

  test::RunResult r = Ketch({"learn", "--fresh"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_EQ(test::TreeSums(game_), gameBefore) << "learn changed a game file";
  EXPECT_EQ(test::ReadFile(Db() + ".bak"), before);

  // Each file once, the binary one through krun, the universe one found.
  std::multiset<std::string> read;
  for (const auto& l : TextLines(r.out))
    if (l.starts_with("    Learning from ")) read.insert(l.substr(18));
  EXPECT_EQ(read.size(), 3u) << r.out;  // voices.ini is missing
  EXPECT_EQ(read.count(game_ + "\\DATA\\things\\a.ini"), 1u);
  EXPECT_EQ(read.count(game_ + "\\DATA\\things\\B.INI"), 1u);
  EXPECT_EQ(read.count(game_ + "\\Data\\Universe\\systems\\s1.ini"), 1u);
  EXPECT_EQ(Figure(r.out, "  binary (converted)"), 1) << r.out;
  EXPECT_EQ(Figure(r.out, "files named but missing"), 5) << r.out;  // and the 4 supplied other-INI files
  EXPECT_EQ(Figure(r.out, "entries naming files"), 4) << r.out;

  auto rules = Listing(Db());
  EXPECT_EQ(rules["THING\tMASS"].substr(0, 5), "2/0/0");
  EXPECT_NE(rules["THING\tMASS"].find(" 1=1 2=2"), std::string::npos) << rules["THING\tMASS"];
  EXPECT_EQ(rules["THING\tHP"].substr(0, 5), "1/1/0");       // two lines in every section
  EXPECT_NE(rules["THING\tVISIBLE"].find(" 1=4"), std::string::npos) << rules["THING\tVISIBLE"];
  EXPECT_EQ(rules["OTHER\tSIZE"].substr(0, 5), "1/0/1");     // one fixed value, then repeating
  // The shallowest entries naming files take the first reference passes;
  // the one naming files below DATA\Universe\ the first of all.
  EXPECT_NE(rules["FILES\tSYSTEM"].find("id 74:"), std::string::npos) << rules["FILES\tSYSTEM"];
  EXPECT_NE(rules["FILES\tNEXT"].find("id 101:"), std::string::npos) << rules["FILES\tNEXT"];
  EXPECT_NE((rules["SYS\tFILE"] + rules["OTHER\tBACK"]).find("id 871:"), std::string::npos);
  EXPECT_NE((rules["SYS\tFILE"] + rules["OTHER\tBACK"]).find("id 877:"), std::string::npos);
  // The passes reach every file, so the supplied list goes.
  EXPECT_TRUE(Column(Db(), "SELECT Value FROM _bc_OtherINI").empty());
  const std::string tsv = test::ReadFile(log_ + "/learned-rules.tsv");
  EXPECT_NE(tsv.find("Thing\tmass\t2\t0\t0\t1\t"), std::string::npos) << tsv;

  // Then the analysis with the learned rules: the one breaking line, at its place.
  test::RunResult all = Ketch({"--findings", dir_ / "f.jsonl", "init", "all"});
  ASSERT_EQ(all.status, 0) << all.err;
  const std::string findings = test::ReadFile(dir_ / "f.jsonl");
  EXPECT_NE(findings.find("\"file\":\"DATA/things/a.ini\",\"line\":" + std::to_string(3 + 20 * 6 + 3) +
                          ",\"section\":\"Thing\",\"key\":\"mass\",\"value\":\"heavy, 1.5\",\"code\":10101"),
            std::string::npos)
      << findings;
  EXPECT_EQ(TextLines(findings).size(), 2u) << findings;  // and voices.ini, missing
  // All reads every file learn read.
  std::set<std::string> processed;
  for (const auto& l : TextLines(test::ReadFile(log_ + "/ketch.log")))
    if (l.starts_with("    Processing ")) processed.insert(l.substr(15));
  for (const auto& f : read) EXPECT_EQ(processed.count(f), 1u) << f;
}

TEST_F(LearnTest, MergeKeepsEveryRuleAndAddsWhatTheRuleBaseLacks) {
  SmallGame("");
  // A section the supplied rule base knows, with a key it does not.
  Write(game_ + "/EXE/vandrel.ini", "[Data]\r\nships = things\\a.ini\r\nconstants = c.ini\r\n");
  Write(game_ + "/DATA/c.ini", "[GlobalConsts]\r\nmax_players = 4\r\nnew_const = 1.5\r\n");
  const auto rulesBefore = Listing(Db());
  const auto otherBefore = Column(Db(), "SELECT Value FROM _bc_OtherINI");
  ASSERT_FALSE(otherBefore.empty());

  test::RunResult r = Ketch({"learn", "init", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto rules = Listing(Db());
  for (const auto& [key, rule] : rulesBefore) EXPECT_EQ(rules[key], rule) << key;
  EXPECT_EQ(rules.size(), rulesBefore.size() + 11);  // Thing 4, Files 2, Other 2, Sys 2, new_const
  EXPECT_NE(rules["GLOBALCONSTS\tNEW_CONST"].find(": 1=2"), std::string::npos);
  // The supplied list names no file of this game: those rows are gone.
  EXPECT_EQ(Column(Db(), "SELECT Value FROM _bc_OtherINI"),
            (std::vector<std::string>{"things\\B.INI", "Universe\\systems\\s1.ini"}));
  EXPECT_EQ(Figure(r.out, "  already known"), 1) << r.out;
  // learn init all in one run: the analysis knows the new rules.
  EXPECT_EQ(r.out.find("Unknown Section"), std::string::npos) << r.out;
}

TEST_F(LearnTest, BadInputChangesNothingAndSaysWhy) {
  const std::string before = RuleTables(Db());
  // No game.
  test::RunResult r = Ketch({"learn"});
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_NE(r.err.find("vandrel.ini does not exist"), std::string::npos) << r.err;
  // A game without a line of data.
  Write(game_ + "/EXE/vandrel.ini", "[Data]\r\nships = none.ini\r\n");
  r = Ketch({"learn", "init", "all"});
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_NE(r.err.find("nothing to learn"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Summary"), std::string::npos) << "nothing runs after a failed learn";
  EXPECT_EQ(RuleTables(Db()), before);
  EXPECT_FALSE(fs::exists(Db() + ".bak"));

  SmallGame("");
  // A read-only KETCH.MDB, and a read-only program folder.
  fs::permissions(Db(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  r = Ketch({"learn"});
  EXPECT_EQ(r.status, 8) << r.err;
  EXPECT_NE(r.err.find("KETCH.MDB is read-only"), std::string::npos) << r.err;
  fs::permissions(Db(), fs::perms::owner_write, fs::perm_options::add);
  const auto folderPerms = fs::status(bin_).permissions();
  fs::permissions(bin_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  r = Ketch({"learn"});
  fs::permissions(bin_, folderPerms);
  EXPECT_EQ(r.status, 8) << r.err;
  EXPECT_NE(r.err.find("folder of KETCH.MDB is read-only"), std::string::npos) << r.err;
  EXPECT_EQ(RuleTables(Db()), before);

  // A disk that fills up while the rules are written: the file may grow by
  // a few pages only, so the transaction fails half way and is undone.
  std::string big;
  for (int n = 0; n < 3; ++n) {
    big += "[Big]\r\n";
    for (int k = 0; k < 400; ++k) big += "key_" + std::to_string(k) + " = " + std::to_string(k) + "\r\n";
  }
  Write(game_ + "/DATA/big.ini", big);
  Write(game_ + "/EXE/vandrel.ini", "[Data]\r\nships = things\\a.ini\r\nequipment = big.ini\r\n");
  EmptyListing(Db());
  const std::string emptied = RuleTables(Db());
  const rlim_t limit = fs::file_size(Db()) + 2048;
  r = Ketch({"learn", "--fresh"}, [limit] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
  });
  EXPECT_EQ(r.status, 8) << r.err << r.out;
  EXPECT_NE(r.err.find("could not be written"), std::string::npos) << r.err;
  EXPECT_EQ(RuleTables(Db()), emptied);
  EXPECT_FALSE(fs::exists(bin_ + "/KETCH.MDB-journal"));
  EXPECT_TRUE(Listing(Db()).empty());

  r = Ketch({"init", "--fresh"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--fresh goes with 'learn' only"), std::string::npos) << r.err;
}

// The oracle: a game generated from the supplied rules, learned back into an
// empty listing, then analysed: the planted faults are found where planted.
TEST_F(LearnTest, AGeneratedGameLearnedBackFindsThePlantedFaults) {
  const std::string source = bin_ + "/KETCH.MDB";
  test::RunResult gen =
      test::Run({.argv = {VDGEN_PATH, "--preset", "small", "--seed", "3", "--rules", source, game_}});
  ASSERT_EQ(gen.status, 0) << gen.err;
  const auto want = Listing(source);
  EmptyListing(source);
  const auto gameBefore = test::TreeSums(game_);
  test::RunResult r = Ketch({"learn", "--fresh", "init", "all", "--findings", dir_ / "f.jsonl"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::TreeSums(game_), gameBefore);

  // The rules: what the small game can show (multi-line entries there have
  // one line each, so IsMultiLine is not compared).
  auto got = Listing(source);
  int same = 0;
  for (const auto& [key, rule] : want) {
    auto it = got.find(key);
    auto shape = [](const std::string& r) { return r.substr(0, 1) + r.substr(3, 2) + r.substr(r.find(':')); };
    if (it != got.end() && shape(it->second) == shape(rule)) ++same;
  }
  EXPECT_GE(same * 100, static_cast<int>(want.size()) * 93) << same << " of " << want.size();
  EXPECT_GE(got.size() * 100, want.size() * 98);

  std::set<std::string> planted, found;
  for (const auto& line : TextLines(test::ReadFile(game_ + "/manifest.tsv"))) {
    auto c = Split(line, '\t');
    if (c.size() < 3 || line[0] == '#' || c[2].find_first_not_of("0123456789") != std::string::npos) continue;
    std::string file = c[0];
    std::replace(file.begin(), file.end(), '\\', '/');
    planted.insert(Lower(file) + ":" + c[1] + ":" + c[2]);
  }
  for (const auto& line : TextLines(test::ReadFile(dir_ / "f.jsonl"))) {
    // file, line and code; for a missing file the line that named it.
    auto field = [&](const std::string& l, const std::string& name) {
      size_t at = l.find("\"" + name + "\":");
      size_t from = at + name.size() + 3;
      if (l[from] == '"') ++from;
      size_t to = l.find_first_of(",\"}", from);
      return l.substr(from, to - from);
    };
    std::string where = line;
    if (size_t n = line.find("\"namedAt\":"); n != std::string::npos) where = line.substr(n + 10);
    found.insert(Lower(field(where, "file")) + ":" + field(where, "line") + ":" + field(line, "code"));
  }
  int hits = 0;
  std::string extra;
  for (const auto& p : planted) hits += found.count(p) ? 1 : 0;
  for (const auto& f : found)
    if (!planted.count(f) && extra.size() < 2000) extra += f + "\n";
  ASSERT_GT(planted.size(), 150u);
  EXPECT_GE(hits * 100, static_cast<int>(planted.size()) * 85) << hits << " of " << planted.size();
  EXPECT_GE(hits * 100, static_cast<int>(found.size()) * 95) << hits << " of " << found.size() << " found, not planted:\n" << extra;
}

}  // namespace
}  // namespace ketch
