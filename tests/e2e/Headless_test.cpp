// The real ketch program, run headless from a program folder of its own: the
// options, for the run or stored with --save, the exit statuses of usage and
// start-up errors, version, help and --paths, a run's counts that start anew
// with each rule-base load, standard output in UTF-8, and the progress line
// on a terminal only.
#include <gtest/gtest.h>

#include <filesystem>

#include "GameFixture.h"

namespace ketch {
namespace {

using test::kNoDisplay;

class HeadlessTest : public test::GameFixture {
 protected:
  std::string Settings() { return One("KETCH.MDB", "SELECT VDPath, LogPath, OverwriteLog FROM _bc_Settings"); }
  test::RunResult Ketch(std::vector<std::string> args) {
    args.insert(args.begin(), ketch_);
    return test::Run({.argv = args, .env = kNoDisplay});
  }
  std::string ketch_ = bin_ + "/ketch";
};

TEST_F(HeadlessTest, OptionsAreStoredOnlyWithSaveAsTheWindowWouldStoreThem) {
  auto r = Ketch({"--game", "/g", "--log", "/l", "--overwrite", "2", "--save"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings(), "/g|/l|2");
  r = Ketch({"--log", "/other", "--save"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings(), "/g|/other|2");
  // Without --save the options hold for the run: a wrong --log does not
  // haunt the runs after it.
  std::filesystem::create_directories(dir_ / "log-of-one-run");
  r = Ketch({"--log", dir_ / "log-of-one-run", "--overwrite", "1", "dump"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(test::ReadFile(dir_ / "log-of-one-run/ketch.log").find("Rules Dump Complete."), std::string::npos);
  EXPECT_EQ(Settings(), "/g|/other|2");
  // Options alone would change nothing: a usage error that says so.
  r = Ketch({"--game", "/x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no command given"), std::string::npos) << r.err;
  EXPECT_EQ(Settings(), "/g|/other|2");
  r = Ketch({"check", "--save", "x"});
  EXPECT_EQ(r.status, 1);
}

TEST_F(HeadlessTest, PathsTellsTheFilesOfTheRunInAWritableProgramFolder) {
  Sql("KETCH.MDB", "UPDATE _bc_Settings SET VDPath='', LogPath=''");
  auto r = Ketch({"--paths"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "program   " + bin_ + " (its files beside it)\n" +
                       "rules     " + bin_ + "/KETCH.MDB (supplied)\n" +
                       "settings  " + bin_ + "/KETCH.MDB\n" +
                       "data      " + bin_ + "/VD.MDB\n" +
                       "log       " + bin_ + "/ketch.log\n" +
                       "game      (not set)\n");
  // With the options of the run, before its commands.
  r = Ketch({"--paths", "--log", "/l", "--game", "/g"});
  EXPECT_NE(r.out.find("log       /l/ketch.log\ngame      /g\n"), std::string::npos) << r.out;
  // With no log folder set, the log lies in the program folder, not in /.
  std::filesystem::create_directories(game_ + "/EXE");
  r = Ketch({"--game", game_, "--overwrite", "1", "init", "all"});
  EXPECT_TRUE(std::filesystem::exists(bin_ + "/ketch.log")) << r.err;
}

TEST_F(HeadlessTest, StandardOutputIsUtf8WithLfTheLogKeepsItsBytes) {
  SetOtherINIs({});
  SetRules(kShipRules);
  GameFile("EXE/vandrel.ini", test::CrLf({"[Data]", "ships = a.ini"}));
  GameFile("DATA/a.ini", test::CrLf({"[Ship]", "nickname = a", "mass = caf\xe9"}));  // game text: 1252
  auto r = GameFixture::Ketch({"init", "all"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "CR on standard output";
  EXPECT_NE(r.out.find("!mass!caf\xc3\xa9!\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nSummary\n"), std::string::npos);
  EXPECT_NE(Log().find("!mass!caf\xe9!\r\n"), std::string::npos) << "the log is code page 1252 with CR LF";
}

TEST_F(HeadlessTest, TheProgressLineIsOnATerminalOnlyAndQuietLeavesTheSummary) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", test::CrLf({"[Data]", "ships = a.ini", "goods = b.ini"}));
  GameFile("DATA/a.ini", test::CrLf({"[Ship]", "nickname = a"}));
  BinaryGameFile("DATA/b.ini", "[Ship]\nnickname = b\n\n");
  std::filesystem::create_directories(log_);
  const std::string run = ketch_ + " --game " + game_ + " --log " + log_ + " --overwrite 1 init all";
  // Standard error a pipe: no progress, and the log the same either way.
  auto piped = Ketch({"--game", game_, "--log", log_, "--overwrite", "1", "init", "all"});
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.err.find("file "), std::string::npos) << piped.err;
  const std::string log = Log();
  // On a terminal (script gives the run one): the line, redrawn in place.
  auto tty = test::Run({.argv = {"script", "-qec", run + " >/dev/null", "/dev/null"}, .env = kNoDisplay});
  ASSERT_EQ(tty.status, 0) << tty.out << tty.err;
  EXPECT_NE(tty.out.find("\r\x1b[Kfile "), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find(" of 2, "), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find("rows stored"), std::string::npos) << tty.out;
  EXPECT_EQ(Log(), log);
  // Quiet: neither the log's text nor the line; the summary stays.
  auto quiet = test::Run({.argv = {"script", "-qec", run + " -q", "/dev/null"}, .env = kNoDisplay});
  ASSERT_EQ(quiet.status, 0) << quiet.out;
  EXPECT_EQ(quiet.out.find("file "), std::string::npos) << quiet.out;
  EXPECT_EQ(quiet.out.find("Processing"), std::string::npos) << quiet.out;
  EXPECT_NE(quiet.out.find("Summary"), std::string::npos) << quiet.out;
}

TEST_F(HeadlessTest, UsageErrorsEndWithStatus1AndChangeNothingAMissingSettingsDatabaseWith2) {
  std::string before = Settings();
  for (std::vector<std::string> args : {std::vector<std::string>{"--overwrite", "3"},
                                        {"--overwrite", "x"},
                                        {"--no-such-option"},
                                        {"frobnicate"}}) {
    auto r = Ketch(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(Settings(), before);
  std::filesystem::remove(bin_ + "/KETCH.MDB");
  auto r = Ketch({"--game", "/g", "--save"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("OpenSettingsDB: Unable to open settings database\r\n", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(bin_ + "/KETCH.MDB"));
}

TEST_F(HeadlessTest, VersionAndHelp) {
  auto r = Ketch({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("0.9.7"), std::string::npos) << r.out;
  r = Ketch({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--game"), std::string::npos);
  // The exit statuses CI relies on are told, beside the commands and options.
  for (const char* text : {"  5  normal end, and a finding of the --fail-on codes", "  6  normal end, but an error report",
                           "check PATH...", "--findings <FILE>", "--baseline <FILE>"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

// A second load of the rule base starts the run again: the summary counts the
// files of the last run only.
TEST_F(HeadlessTest, EachInitStartsTheCountsAnew) {
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", test::CrLf({"[Data]", "ships = a.ini", "goods = b.ini"}));
  GameFile("DATA/a.ini", test::CrLf({"[Ship]", "nickname = a"}));
  BinaryGameFile("DATA/b.ini", "[Ship]\nnickname = b\n\n");
  const auto once = GameFixture::Ketch({"init", "all"});
  ASSERT_EQ(once.status, 0) << once.err;
  ASSERT_EQ(SummaryCount(once.out, "files read"), "2");
  const auto twice = GameFixture::Ketch({"init", "all", "init", "all"});
  ASSERT_EQ(twice.status, 0) << twice.err;
  for (const char* label : {"files read", "  text", "  binary (converted)", "sections stored", "findings"})
    EXPECT_EQ(SummaryCount(twice.out, label), SummaryCount(once.out, label)) << label;
}

}  // namespace
}  // namespace ketch
