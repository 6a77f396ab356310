// The real ketch program, run headless from a program folder of its own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "TestUtil.h"

namespace ketch {
namespace {


class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override { test::MakeProgramFolder(bin_, {"ketch", "KETCH.MDB"}); }
  std::string Settings() {
    sqlite3* h = nullptr;
    sqlite3_open((bin_ + "/KETCH.MDB").c_str(), &h);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "SELECT VDPath || '|' || LogPath || '|' || OverwriteLog FROM _bc_Settings", -1, &st, nullptr);
    std::string row = sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "";
    sqlite3_finalize(st);
    sqlite3_close(h);
    return row;
  }
  test::TempDir dir_;
  std::string bin_ = dir_ / "bin";
  std::string ketch_ = bin_ + "/ketch";
};

// Headless mode must not need a display.
const std::vector<std::string> kNoDisplay = {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};

TEST_F(HeadlessTest, OptionsAreStoredAsTheWindowWouldStoreThem) {
  auto r = test::Run({ketch_, "--game", "/g", "--log", "/l", "--overwrite", "2"}, {}, kNoDisplay);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings(), "/g|/l|2");
  r = test::Run({ketch_, "--log", "/other"}, {}, kNoDisplay);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Settings(), "/g|/other|2");
}

TEST_F(HeadlessTest, MissingSettingsDatabaseEndsWithStatus2) {
  std::filesystem::remove(bin_ + "/KETCH.MDB");
  auto r = test::Run({ketch_, "--game", "/g"}, {}, kNoDisplay);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("OpenSettingsDB: Unable to open settings database\r\n", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(bin_ + "/KETCH.MDB"));
}

TEST_F(HeadlessTest, UsageErrorsEndWithStatus1AndChangeNothing) {
  std::string before = Settings();
  for (std::vector<std::string> args : {std::vector<std::string>{"--overwrite", "3"},
                                        {"--overwrite", "x"},
                                        {"--no-such-option"},
                                        {"frobnicate"}}) {
    args.insert(args.begin(), ketch_);
    auto r = test::Run(args, {}, kNoDisplay);
    EXPECT_EQ(r.status, 1) << args[1];
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(Settings(), before);
}

TEST_F(HeadlessTest, VersionAndHelp) {
  auto r = test::Run({ketch_, "--version"}, {}, kNoDisplay);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("0.9.7"), std::string::npos) << r.out;
  r = test::Run({ketch_, "--help"}, {}, kNoDisplay);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--game"), std::string::npos);
}

}  // namespace
}  // namespace ketch
