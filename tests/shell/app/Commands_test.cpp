// The commands through the main window's buttons, on the offscreen platform,
// with a program folder of the test's own (a real copy of KETCH.MDB, VD.MDB
// made beside it).
#include "shell/app/mMain.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "LogFixture.h"
#include "Rows.h"
#include "TestUtil.h"
#include "platform/App.h"
#include "shell/DoEvents.h"
#include "shell/window/frmMain.h"

namespace ketch {
namespace {

class CommandsTest : public test::LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    test::MakeProgramFolder(bin_, {"krun", "KETCH.MDB"});
    App::SetPath(bin_);
    settings_->SettingsDBName(bin_ + "/KETCH.MDB");
    settings_->LogPath(dir_ / "log");
    std::filesystem::create_directories(dir_ / "log");
    window_ = std::make_unique<frmMain>();
    window_->InstallLogView();
    WireCommands(*window_);
  }
  void TearDown() override {
    window_.reset();
    LogFixture::TearDown();
  }
  std::string Log() { return test::ReadFile(dir_ / "log/ketch.log"); }
  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  std::string bin_ = dir_ / "bin";
  std::unique_ptr<frmMain> window_;
};

TEST_F(CommandsTest, AFailedInitDisablesAllUntilOneSucceeds) {
  frmMain& w = *window_;
  EXPECT_TRUE(w.cmdAll->isEnabled());
  std::filesystem::create_directories(bin_ + "/VD.MDB");  // in the way
  Click(w.cmdInitDB);
  EXPECT_FALSE(w.cmdAll->isEnabled());
  std::filesystem::remove(bin_ + "/VD.MDB");
  Click(w.cmdInitDB);
  EXPECT_TRUE(w.cmdAll->isEnabled());
  EXPECT_NE(Log().find("Initialising DATA database: " + bin_ + "\\VD.MDB\r\nDone.\r\n"), std::string::npos) << Log();
  EXPECT_TRUE(std::filesystem::is_regular_file(bin_ + "/VD.MDB"));
}

TEST_F(CommandsTest, DumpWritesTheHeaderOnlyWhenOverwriteIsTickedOrGreyed) {
  frmMain& w = *window_;
  w.tbVDPath->setText("/games/vd");
  test::WriteFile(dir_ / "log/ketch.log", "old\r\n");
  w.chkOverwrite->setCheckState(Qt::Checked);
  w.chkOverwrite->setCheckState(Qt::Unchecked);
  Click(w.cmdDumpRules);
  std::string log = Log();
  EXPECT_EQ(log.rfind("old\r\nSection: ", 0), 0u) << log;
  EXPECT_EQ(log.find("Ketch v "), std::string::npos);
  EXPECT_EQ(log.find("Rules Dump\r\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 27), "\r\n \r\nRules Dump Complete.\r\n");

  for (Qt::CheckState state : {Qt::Checked, Qt::PartiallyChecked}) {
    w.chkOverwrite->setCheckState(state);
    Click(w.cmdDumpRules);
    log = Log();
    std::string header = "Ketch v 0.9.7 Log File\r\n \r\nVD Path /games/vd\r\nLog Path " + (dir_ / "log") +
                         "\r\n \r\nRules Dump\r\n \r\nSection: ";
    EXPECT_EQ(log.rfind(header, 0), 0u) << log;
  }
  // The box showed the same run.
  w.tbLog->ShowEnd(true);
  EXPECT_NE(w.tbLog->toPlainText().toStdString().find("Rules Dump Complete.\n"), std::string::npos);
}

TEST_F(CommandsTest, AllRunsInTheWindowAndNoSecondCommandStartsMeanwhile) {
  frmMain& w = *window_;
  std::string game = dir_ / "game";
  test::WriteFile(game + "/EXE/vandrel.ini", "[Data]\r\nships = a.ini\r\nships = b.ini\r\n");
  test::WriteFile(game + "/DATA/a.ini", "[Ship]\r\nnickname = a\r\n[Ship]\r\nnickname = a2\r\n");
  test::WriteFile(game + "/DATA/b.ini", "[Ship]\r\nnickname = b\r\n");
  w.tbVDPath->setText(QString::fromStdString(game));
  w.chkOverwrite->setCheckState(Qt::Checked);
  Click(w.cmdInitDB);

  // While All runs, the window processes events after each section: a click
  // on Init DB then must not start it.
  int pumps = 0, inits = 0;
  auto init = w.OnInitDB;
  w.OnInitDB = [&] {
    ++inits;
    return init();
  };
  SetEventPump([&] {
    ++pumps;
    Click(w.cmdInitDB);
    QApplication::processEvents();
  });
  Click(w.cmdAll);
  EXPECT_EQ(pumps, 3);
  EXPECT_EQ(inits, 0);
  std::string log = Log();
  EXPECT_EQ(log.rfind("Ketch v 0.9.7 Log File\r\n \r\nVD Path " + game + "\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("Done Processing " + game + "\\EXE\\vandrel.ini\r\n"), std::string::npos);
  EXPECT_EQ(w.tbLog->Text().substr(w.tbLog->TextLength() - 40), log.substr(log.size() - 40));

  // After the run a click works again.
  SetEventPump(nullptr);
  Click(w.cmdInitDB);
  EXPECT_EQ(inits, 1);
}

TEST_F(CommandsTest, AllBeforeInitDBLogsTheWalkUpToTheFirstFileThenEndsInReadINIFile) {
  // All is enabled from the start, so this order is one click away. Reading
  // ahead must not make the failure show up earlier or elsewhere. The command
  // is called as the button calls it, not through a click: the test's end
  // hook throws, and unwinding through Qt's event delivery leaks its events.
  frmMain& w = *window_;
  const std::string game = dir_ / "game";
  const std::string mainIni = game + "\\EXE\\vandrel.ini";
  const std::string other = test::One(bin_ + "/KETCH.MDB", "SELECT Value FROM _bc_OtherINI ORDER BY DB_ID");
  struct Case {
    const char* name;
    std::string vandrel;  // empty: there is none
    std::string before;   // how the log goes on up to the error report
  } cases[] = {
      {"the walk's first file", "[Data]\r\nbases =\r\nsolar = s.ini\r\n",
       "Processing " + mainIni + "\r\n    Processing Section [Data]\r\n" +
           "        NOT Processing (in Ketch v 0.9.7) bases \r\n        Processing solar s.ini\r\n" +
           "    Processing " + game + "\\DATA\\s.ini\r\n"},
      {"the first of the other files", "",
       "Done Processing " + mainIni + "\r\n\r\n\r\nReading files for other INIs\r\n    Processing " + game +
           "\\DATA\\" + other + "\r\n"},
  };
  settings_->OverwriteLog("0");  // no header: the log holds the run alone
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(game);
    std::filesystem::remove(dir_ / "log/ketch.log");
    if (!c.vandrel.empty()) test::WriteFile(game + "/EXE/vandrel.ini", c.vandrel);
    test::WriteFile(game + "/DATA/s.ini", "[System]\r\nnickname = s\r\n");
    w.tbVDPath->setText(QString::fromStdString(game));
    EXPECT_EQ(EndStatus([&] { w.OnAll(); }), exitEnded);
    const std::string log = Log();
    const size_t report = log.rfind("Error : ");
    ASSERT_NE(report, std::string::npos) << log;
    EXPECT_EQ(log.rfind("Processing " + mainIni + "\r\n", 0), 0u) << log;
    EXPECT_TRUE(log.substr(0, report).ends_with(c.before)) << log;
    EXPECT_TRUE(log.ends_with("\r\nReadINIFile\r\n")) << log;
    EXPECT_EQ(log.find("10303"), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace ketch
