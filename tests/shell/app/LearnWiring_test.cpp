// Learn from the findings window, with the real commands, krun and a game
// made by vdgen, on the offscreen platform: the rules learned into an empty
// listing are the ones the following All checks with; Cancel, a declined
// fresh learn and the failures leave KETCH.MDB as it was, and the window
// says what happened instead of ending.
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "LogFixture.h"
#include "Process.h"
#include "Rows.h"
#include "TestUtil.h"
#include "platform/App.h"
#include "shell/DoEvents.h"
#include "shell/app/FindingsWiring.h"
#include "shell/app/mMain.h"
#include "shell/window/frmFindings.h"
#include "shell/window/frmMain.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using Places = std::multiset<std::string>;

std::string Place(std::string file, int line, int code) {
  std::replace(file.begin(), file.end(), '\\', '/');
  std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return std::tolower(c); });
  return file + "\t" + std::to_string(line) + "\t" + std::to_string(code);
}

class LearnWiringTest : public test::LogFixture {
 protected:
  // One game for the suite; each test learns into a KETCH.MDB of its own.
  static void SetUpTestSuite() {
    suite_ = new test::TempDir;
    test::MakeProgramFolder(*suite_ / "gen", {"KETCH.MDB"});
    gen_ = test::Run({.argv = {VDGEN_PATH, "--preset", "small", "--rules", *suite_ / "gen/KETCH.MDB", Game()}});
  }
  static void TearDownTestSuite() { delete suite_; }
  static std::string Game() { return *suite_ / "game"; }

  void SetUp() override {
    LogFixture::SetUp();
    ASSERT_EQ(gen_.status, 0) << gen_.err;
    bin_ = dir_ / "bin";
    test::MakeProgramFolder(bin_, {"krun", "KETCH.MDB"});
    // What is learned is all there is: no rule is left from the supplied base.
    sqlite3* h = nullptr;
    sqlite3_open((bin_ + "/KETCH.MDB").c_str(), &h);
    sqlite3_exec(h, "DELETE FROM _bc_values; DELETE FROM _bc_entries; DELETE FROM _bc_sections; VACUUM", nullptr,
                 nullptr, nullptr);
    sqlite3_close(h);
    App::SetPath(bin_);
    settings_->SettingsDBName(bin_ + "/KETCH.MDB");
    settings_->SaveOnClose(false);
    fs::create_directories(dir_ / "log");
    main_.InstallLogView();
    WireCommands(main_);
    main_.tbVDPath->setText(QString::fromStdString(Game()));
    main_.tbLogPath->setText(QString::fromStdString(dir_ / "log"));
    main_.chkOverwrite->setCheckState(Qt::Checked);
    wiring_ = std::make_unique<FindingsWiring>(main_, list_, nullptr, nullptr);
    before_ = Db();
  }
  void TearDown() override {
    SetEventPump(nullptr);
    wiring_.reset();
    LogFixture::TearDown();
  }
  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  std::string Db() const { return test::ReadFile(bin_ + "/KETCH.MDB"); }
  std::string Box() {
    main_.tbLog->Flush();
    return main_.tbLog->toPlainText().toStdString();
  }
  std::string Pass() const { return list_.lblPass->text().toStdString(); }
  int64_t Rules() const { return std::stoll(test::Rows(bin_ + "/KETCH.MDB", "SELECT COUNT(*) FROM _bc_entries")[0]); }

  Places Listed() {
    Places out;
    for (int r = 0; r < list_.model->rowCount(); ++r) {
      const Finding& f = list_.model->FindingAt(r);
      const std::string place = Place(list_.model->FileAt(r).toStdString(), f.Line, f.Code);
      if (place.starts_with("data/") && f.Code != errCouldNotOpenReferredFile) out.insert(place);
    }
    return out;
  }
  static Places Planted() {
    Places out;
    for (const auto& line : test::TextLines(test::ReadFile(Game() + "/manifest.tsv"))) {
      std::istringstream cells(line);
      std::string file, at, code;
      std::getline(cells, file, '\t');
      std::getline(cells, at, '\t');
      std::getline(cells, code, '\t');
      if (line.empty() || line[0] == '#' || code.empty() || !std::isdigit(static_cast<unsigned char>(code[0])) ||
          code == "10306")
        continue;
      const std::string place = Place(file, std::stoi(at), std::stoi(code));
      if (place.starts_with("data/")) out.insert(place);
    }
    return out;
  }

  static inline test::TempDir* suite_ = nullptr;
  static inline test::RunResult gen_;
  std::string bin_, before_;
  frmMain main_;
  frmFindings list_;
  std::unique_ptr<FindingsWiring> wiring_;
};

TEST_F(LearnWiringTest, LearnFillsTheEmptyRuleBaseShowsItsSummaryAndAllThenFindsThePlantedFaults) {
  std::set<std::string> passes;
  int lastDone = -1, lastKnown = -1;
  SetEventPump([&] {
    passes.insert(Pass());
    lastDone = list_.pbRun->value();
    lastKnown = list_.pbRun->maximum();
    QApplication::processEvents();
  });
  Click(list_.cmdLearn);
  SetEventPump(nullptr);

  EXPECT_TRUE(passes.count("Learning: reading the game's files"));
  EXPECT_GT(lastKnown, 100);
  EXPECT_GT(lastDone, 0);
  EXPECT_EQ(list_.pbRun->value(), list_.pbRun->maximum());
  EXPECT_EQ(Pass().rfind("Learn done: ", 0), 0u) << Pass();
  EXPECT_FALSE(list_.lblStatus->isVisible());
  EXPECT_TRUE(list_.cmdLearn->isEnabled());
  EXPECT_FALSE(list_.cmdCancel->isEnabled());
  // The summary as headless learn prints it, in the box and the log file.
  const std::string box = Box();
  EXPECT_NE(box.find("Learn summary"), std::string::npos);
  EXPECT_NE(box.find("  entries learned "), std::string::npos);
  EXPECT_NE(test::ReadFile(dir_ / "log/ketch.log").find("Learn summary"), std::string::npos);
  EXPECT_GT(Rules(), 500);
  EXPECT_TRUE(test::ReadFile(bin_ + "/KETCH.MDB.bak") == before_);
  EXPECT_TRUE(fs::exists(dir_ / "log/learned-rules.tsv"));

  // Init DB and All check with the learned rules: nearly every planted fault
  // is found, and few lines that follow the majority are reported.
  Click(main_.cmdInitDB);
  Click(main_.cmdAll);
  const Places planted = Planted(), listed = Listed();
  ASSERT_GT(planted.size(), 150u);
  Places found;
  std::set_intersection(planted.begin(), planted.end(), listed.begin(), listed.end(),
                        std::inserter(found, found.begin()));
  EXPECT_GE(found.size() * 100, planted.size() * 90) << found.size() << " of " << planted.size();
  EXPECT_GE(found.size() * 100, listed.size() * 90) << found.size() << " of " << listed.size() << " listed";
  EXPECT_EQ(Pass().rfind("All done: ", 0), 0u) << Pass();
}

TEST_F(LearnWiringTest, CancelDuringLearnLeavesKetchMdbAsItWasAndLearnWorksAfterIt) {
  bool clicked = false;
  SetEventPump([&] {
    if (!clicked && list_.pbRun->value() >= 20) {
      clicked = true;
      Click(list_.cmdCancel);
    }
    QApplication::processEvents();
  });
  Click(list_.cmdLearn);
  SetEventPump(nullptr);
  ASSERT_TRUE(clicked);
  EXPECT_TRUE(Db() == before_);
  EXPECT_FALSE(fs::exists(bin_ + "/KETCH.MDB.bak"));
  EXPECT_EQ(Pass().rfind("Learn cancelled: ", 0), 0u) << Pass();
  const int read = std::stoi(Pass().substr(17));
  EXPECT_GE(read, 20);
  EXPECT_LE(read, 22);
  EXPECT_EQ(test::Count(Box(), "Learn: cancelled after " + std::to_string(read) + " files read; KETCH.MDB is unchanged"),
            1u);
  EXPECT_EQ(Box().find("Learn summary"), std::string::npos);

  // Escape from the main window stops it too.
  clicked = false;
  SetEventPump([&] {
    if (!clicked && list_.pbRun->value() >= 5) {
      clicked = true;
      QTest::keyClick(&main_, Qt::Key_Escape);
    }
    QApplication::processEvents();
  });
  Click(list_.cmdLearn);
  SetEventPump(nullptr);
  ASSERT_TRUE(clicked);
  EXPECT_TRUE(Db() == before_);

  // The stop was taken back: the next Learn reads every file and writes.
  Click(list_.cmdLearn);
  EXPECT_EQ(Pass().rfind("Learn done: ", 0), 0u) << Pass();
  EXPECT_GT(Rules(), 500);
}

TEST_F(LearnWiringTest, FreshLearnAsksFirstAndNoGameOrAReadOnlyRuleBaseIsSaidAndChangesNothing) {
  // A declined fresh learn does nothing; an accepted one learns.
  list_.chkFresh->setChecked(true);
  int asked = 0;
  list_.ConfirmFresh = [&](QWidget&) { return ++asked > 1; };
  Click(list_.cmdLearn);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(Db() == before_);
  EXPECT_EQ(Box().find("Learning the rules"), std::string::npos);
  Click(list_.cmdLearn);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Pass().rfind("Learn done: ", 0), 0u) << Pass();
  const std::string learned = Db();
  EXPECT_FALSE(learned == before_);
  list_.chkFresh->setChecked(false);

  // No game: said under the list and in the log; the window goes on.
  const std::string empty = dir_ / "nogame";
  fs::create_directories(empty);
  main_.tbVDPath->setText(QString::fromStdString(empty));
  Click(list_.cmdLearn);
  EXPECT_EQ(Pass(), "Learn failed");
  EXPECT_TRUE(list_.lblStatus->isVisibleTo(&list_));
  EXPECT_NE(list_.lblStatus->text().toStdString().find("no game here"), std::string::npos)
      << list_.lblStatus->text().toStdString();
  EXPECT_NE(Box().find("Learn: no game here"), std::string::npos);
  EXPECT_TRUE(Db() == learned);
  EXPECT_TRUE(list_.cmdLearn->isEnabled());

  // A read-only KETCH.MDB: the same, and the file is untouched.
  main_.tbVDPath->setText(QString::fromStdString(Game()));
  ASSERT_EQ(chmod((bin_ + "/KETCH.MDB").c_str(), 0444), 0);
  Click(list_.cmdLearn);
  chmod((bin_ + "/KETCH.MDB").c_str(), 0644);
  EXPECT_EQ(Pass(), "Learn failed");
  EXPECT_NE(list_.lblStatus->text().toStdString().find("read-only"), std::string::npos)
      << list_.lblStatus->text().toStdString();
  EXPECT_TRUE(Db() == learned);
  EXPECT_TRUE(fatal_.empty()) << fatal_;

  // Init DB and All still work after the failures.
  Click(main_.cmdInitDB);
  Click(main_.cmdAll);
  EXPECT_EQ(Pass().rfind("All done: ", 0), 0u) << Pass();
}

}  // namespace
}  // namespace ketch
