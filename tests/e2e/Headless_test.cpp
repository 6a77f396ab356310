// The real ketch program, run headless from a program folder of its own: the
// options stored as settings, the exit statuses of usage and start-up errors,
// version and help, and a run's counts that start anew with each rule-base
// load.
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

TEST_F(HeadlessTest, OptionsAreStoredAsTheWindowWouldStoreThem) {
  auto r = Ketch({"--game", "/g", "--log", "/l", "--overwrite", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings(), "/g|/l|2");
  r = Ketch({"--log", "/other"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings(), "/g|/other|2");
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
  auto r = Ketch({"--game", "/g"});
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
