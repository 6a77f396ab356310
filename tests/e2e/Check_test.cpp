// The real ketch as editors and CI run it: `ketch check` on text and binary
// files in each output form, touching no database, setting and log; the
// exit statuses that findings, --fail-on, --select and --ignore give; and
// bad command lines refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "GameFixture.h"

namespace ketch {
namespace {

using test::CrLf;
using test::kNoDisplay;

class CheckTest : public test::GameFixture {
 protected:
  void SetUp() override {
    GameFixture::SetUp();
    SetRules(kShipRules);
    // Where the stored settings would have the log written.
    Sql("KETCH.MDB", "UPDATE _bc_Settings SET VDPath='" + game_ + "', LogPath='" + log_ + "'");
    std::filesystem::create_directories(log_);
    GameFile("DATA/a.ini", CrLf({"[Ship]", "nickname = a", "ids_name = x", "mass = 1.5", "colour = red", "[Shp]",
                                 "nickname = b"}));
    BinaryGameFile("DATA/b.ini", "[Ship]\nnickname = b\nids_name = 99999999999\n\n");
    GameFile("DATA/sub/c.INI", CrLf({"; no finding", "[Ship]", "nickname = c"}));
    GameFile("DATA/sub/notes.txt", "[Shp]\r\n");
  }

  // ketch with these arguments, run in the test's folder (paths relative to it).
  test::RunResult Ketch(std::vector<std::string> args) {
    args.insert(args.begin(), bin_ + "/ketch");
    return test::Run({.argv = args, .env = kNoDisplay, .dir = dir_.Path()});
  }

  static constexpr const char* kGcc =
      "game/DATA/a.ini:3: warning: 10101 - Value Type Mismatch [Ship] ids_name\n"
      "game/DATA/a.ini:5: warning: 10302 - Unknown Entry [Ship] colour\n"
      "game/DATA/a.ini:7: warning: 10305 - Unknown Section [Shp] nickname\n"
      "game/DATA/b.ini:3: warning: 10104 - Value Overflow [Ship] ids_name\n";
  static constexpr const char* kSummary =
      "checked 3 files (1 binary), 14 lines: 4 findings (10101: 1, 10104: 1, 10302: 1, 10305: 1)\n";
};

TEST_F(CheckTest, TextAndBinaryFilesEachFindingALineThenTheSummaryAndNothingTouched) {
  const auto program = test::TreeSums(bin_);
  const auto game = test::TreeSums(game_);
  auto r = Ketch({"check", "game/DATA"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kGcc) + kSummary);
  EXPECT_EQ(r.err, "");
  // No VD.MDB, KETCH.MDB and its settings byte for byte, no log, the game as it was.
  EXPECT_EQ(test::TreeSums(bin_), program);
  EXPECT_EQ(test::TreeSums(game_), game);
  EXPECT_TRUE(std::filesystem::is_empty(log_));

  // Single files, absolute and relative, a folder and a file in it read once.
  r = Ketch({"check", game_ + "/DATA/b.ini", "game/DATA/sub", "game/DATA/sub/c.INI"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, game_ + "/DATA/b.ini:3: warning: 10104 - Value Overflow [Ship] ids_name\n"
                   "checked 2 files (1 binary), 7 lines: 1 finding (10104: 1)\n");
  r = Ketch({"check", "game/DATA/sub/c.INI"});
  EXPECT_EQ(r.out, "checked 1 files (0 binary), 3 lines: no findings\n");
}

TEST_F(CheckTest, TheTextFormIsTheLogsRecordJsonIsOneObjectALineAndLogWritesTheLog) {
  auto r = Ketch({"check", "--format", "text", "game/DATA/a.ini"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("\n\n") + 2),
            "WARN: File game/DATA/a.ini line 3\n      Section [Ship] line 2\n"
            "      10101 - Value Type Mismatch !ids_name!x!\n\n");

  r = Ketch({"check", "--format", "json", "game/DATA"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Standard output is JSON alone; the summary goes to standard error.
  EXPECT_EQ(r.err, kSummary);
  std::vector<std::string> lines;
  for (const auto& line : test::TextLines(r.out)) {
    const auto j = nlohmann::json::parse(line);
    lines.push_back(j["file"].get<std::string>() + ":" + std::to_string(j["line"].get<int>()) + " " +
                    std::to_string(j["code"].get<int>()) + " [" + j["section"].get<std::string>() + "] " +
                    j["key"].get<std::string>() + "=" + j["value"].get<std::string>() + " " +
                    j["text"].get<std::string>());
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"game/DATA/a.ini:3 10101 [Ship] ids_name=x Value Type Mismatch",
                                             "game/DATA/a.ini:5 10302 [Ship] colour=red Unknown Entry",
                                             "game/DATA/a.ini:7 10305 [Shp] nickname=b Unknown Section",
                                             "game/DATA/b.ini:3 10104 [Ship] ids_name=99999999999 Value Overflow"}));

  // With --log the log gets what All would log of these files; the setting stays.
  const std::string settings = One("KETCH.MDB", "SELECT LogPath FROM _bc_Settings");
  const std::string other = dir_ / "other-log";
  std::filesystem::create_directories(other);
  r = Ketch({"check", "--log", other, "game/DATA/a.ini"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(other + "/ketch.log"),
            CrLf({"    Processing game/DATA/a.ini", "WARN: File game/DATA/a.ini line 3", "      Section [Ship] line 2",
                  "      10101 - Value Type Mismatch !ids_name!x!", "", "WARN: File game/DATA/a.ini line 5",
                  "      Section [Ship] line 4", "      10302 - Unknown Entry !colour!red!", "",
                  "WARN: File game/DATA/a.ini line 7", "      Section [Shp] line 1",
                  "      10305 - Unknown Section !nickname!b!", ""}));
  EXPECT_EQ(One("KETCH.MDB", "SELECT LogPath FROM _bc_Settings"), settings);
  EXPECT_TRUE(std::filesystem::is_empty(log_));
}

TEST_F(CheckTest, FindingsLeaveTheStatusAloneUnlessFailOnNamesThemSelectAndIgnoreChooseWhatCounts) {
  struct Case {
    std::vector<std::string> options;
    int status;
    std::vector<std::string> codes;  // of the lines printed
  } cases[] = {
      {{}, 0, {"10101", "10302", "10305", "10104"}},
      {{"--fail-on", "any"}, 5, {"10101", "10302", "10305", "10104"}},
      {{"--fail-on", "10104"}, 5, {"10101", "10302", "10305", "10104"}},
      {{"--fail-on", "10212,10301"}, 0, {"10101", "10302", "10305", "10104"}},
      {{"--fail-on", "10104", "--ignore", "10104"}, 0, {"10101", "10302", "10305"}},
      {{"--fail-on", "any", "--select", "10302, 10305"}, 5, {"10302", "10305"}},
      {{"--fail-on", "any", "--select", "10212"}, 0, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.begin(), "check");
    args.push_back("game/DATA");
    const auto r = Ketch(args);
    std::string trace;
    for (const auto& a : c.options) trace += a + " ";
    EXPECT_EQ(r.status, c.status) << trace << r.err;
    std::vector<std::string> codes;
    for (const auto& line : test::TextLines(r.out))
      if (line.find(": warning: ") != std::string::npos) codes.push_back(line.substr(line.find(": warning: ") + 11, 5));
    EXPECT_EQ(codes, c.codes) << trace;
    EXPECT_NE(r.out.find(c.codes.empty() ? "lines: no findings\n" : "lines: " + std::to_string(c.codes.size())),
              std::string::npos)
        << trace << r.out;
  }
}

// A large check runs in two processes; whatever they meet, the output, the
// findings files, the baseline's use and the status are those of one.
TEST_F(CheckTest, TwoProcessesReportWhatOneReportsInTheSameOrder) {
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    GameFile("DATA/more/t" + n + ".ini", CrLf({"[Ship]", "nickname = t" + n, "ids_name = y" + n, "[Shp]", "k = 1"}));
    BinaryGameFile("DATA/more/u" + n + ".ini", "[Ship]\nnickname = u" + n + "\nmass = heavy\n");
  }
  auto both = [&](std::vector<std::string> args, const std::vector<std::string>& files = {}) {
    test::RunResult r[2];
    std::string written[2];
    for (int jobs = 1; jobs <= 2; ++jobs) {
      std::vector<std::string> env = test::kNoDisplay;
      env.push_back("KETCH_CHECK_JOBS=" + std::to_string(jobs));
      std::vector<std::string> argv = args;
      argv.insert(argv.begin(), bin_ + "/ketch");
      for (const auto& f : files) std::filesystem::remove(dir_ / f);
      r[jobs - 1] = test::Run({.argv = argv, .env = env, .dir = dir_.Path()});
      for (const auto& f : files) written[jobs - 1] += f + ":\n" + test::ReadFile(dir_ / f);
    }
    std::string trace;
    for (const auto& a : args) trace += a + " ";
    EXPECT_EQ(r[1].status, r[0].status) << trace;
    EXPECT_EQ(r[1].out, r[0].out) << trace;
    EXPECT_EQ(r[1].err, r[0].err) << trace;
    EXPECT_EQ(written[1], written[0]) << trace;
    return r[0];
  };
  auto r = both({"check", "--fail-on", "10101", "--findings", "f.sarif", "--write-baseline", "b.jsonl", "game/DATA"},
                {"f.sarif", "b.jsonl"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find("checked 15 files (7 binary), "), std::string::npos) << r.out;
  both({"check", "--format", "json", "--select", "10101,10305", "--findings", "f.jsonl", "game/DATA"}, {"f.jsonl"});
  both({"check", "--format", "text", "game/DATA/more", "game/DATA/a.ini"});
  // Every finding is known: none is reported, from either process.
  r = both({"check", "--baseline", "b.jsonl", "--fail-on", "any", "game/DATA"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("lines: no findings"), std::string::npos) << r.out;
  // A file named twice is read once.
  both({"check", "game/DATA/more", "game/DATA/more/t1.ini"});

  // A binary file that cannot be converted ends the check with its error
  // report, here in the later part: what came before it is reported.
  GameFile("DATA/more/u4.ini", "KRUN and then nothing that decodes");
  r = both({"check", "--fail-on", "any", "game/DATA"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("t3.ini:3: warning: 10101"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("KRUN finished with error"), std::string::npos) << r.err;
}

TEST_F(CheckTest, BadCommandLinesEndWithStatus1AndAMessageAndWriteNothing) {
  const std::string findings = dir_ / "out.sarif";
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"check", "game/DATA/none.ini"}, "no such file or folder: game/DATA/none.ini"},
      {{"check", "game/DATA", "missing"}, "no such file or folder: missing"},
      {{"check"}, "'check' needs the files or folders"},
      {{"check", "--format", "xml", "game/DATA"}, "--format takes text, gcc or json, not 'xml'"},
      {{"check", "--select", "10101,9", "game/DATA"}, "--select: unknown code '9'"},
      {{"check", "--ignore", "", "game/DATA"}, "--ignore: no code given"},
      {{"check", "--fail-on", "all", "game/DATA"}, "--fail-on: unknown code 'all'"},
      {{"check", "--findings", dir_ / "no/such/folder/x.sarif", "game/DATA"}, "cannot create the findings file"},
      // The findings file could be made, the baseline could not: neither is left.
      {{"check", "--write-baseline", dir_ / "no/such/folder/b.jsonl", "game/DATA"}, "cannot create the findings file"},
      {{"check", "--baseline", dir_ / "none.jsonl", "game/DATA"}, "cannot read the baseline"},
      {{"check", "--game", game_, "game/DATA"}, "'check' takes no --game"},
      {{"init", "check", "game/DATA"}, "'check' runs alone"},
      {{"--format", "gcc", "init"}, "--format chooses the output of 'check' only"},
  };
  const auto program = test::TreeSums(bin_);
  for (const auto& c : cases) {
    // Options stand anywhere; the last of a repeated one counts.
    std::vector<std::string> args = {"--findings", findings, "--write-baseline", dir_ / "base.jsonl"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = Ketch(args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.message;
    EXPECT_FALSE(std::filesystem::exists(findings)) << c.message;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "base.jsonl")) << c.message;
  }
  EXPECT_EQ(test::TreeSums(bin_), program);
  EXPECT_TRUE(std::filesystem::is_empty(log_));
  // A findings file that was there stays as it was when the run is refused.
  test::WriteFile(findings, "earlier");
  auto r = Ketch({"check", "--findings", findings, "--write-baseline", dir_ / "no/such/b.jsonl", "game/DATA"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::ReadFile(findings), "earlier");

  // A folder without .ini files only warns.
  std::filesystem::create_directories(dir_ / "empty/sub");
  r = Ketch({"check", "empty", "game/DATA/sub"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "ketch: warning: no .ini file below empty\n");
  EXPECT_EQ(r.out, "checked 1 files (0 binary), 3 lines: no findings\n");
}

// CI's view of All: findings change nothing without --fail-on; an error
// report (here a configuration file that cannot be opened) gives status 6,
// ahead of 5.
TEST_F(CheckTest, AllEndsWith5ForFindingsOfFailOnAnd6AfterAnErrorReport) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = a.ini", "goods = b.ini"}));
  auto all = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {bin_ + "/ketch", "--game", game_, "--log", log_, "--overwrite", "1"});
    args.insert(args.end(), {"init", "all"});
    return test::Run({.argv = args, .env = kNoDisplay});
  };
  EXPECT_EQ(all({}).status, 0);
  const std::string plain = Log();
  EXPECT_EQ(all({"--fail-on", "any", "--findings", dir_ / "f.sarif"}).status, 5);
  // The findings options add nothing to the log.
  EXPECT_EQ(Log(), plain);
  EXPECT_EQ(all({"--fail-on", "10101"}).status, 5);
  EXPECT_EQ(all({"--fail-on", "10212"}).status, 0);
  std::filesystem::remove(game_ + "/EXE/vandrel.ini");
  std::filesystem::create_directories(game_ + "/EXE/vandrel.ini");  // a folder: cannot be opened as a file
  const auto r = all({"--fail-on", "any"});
  EXPECT_EQ(r.status, 6) << Log();
  EXPECT_NE(Log().find("\r\nUnable to open " + game_ + "\\EXE\\vandrel.ini\r\n"), std::string::npos) << Log();
}

}  // namespace
}  // namespace ketch
