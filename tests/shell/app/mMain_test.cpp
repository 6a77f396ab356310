// The end of a run with the window, on the offscreen platform: the settings
// are saved once the window has closed, and a save that fails is told in the
// fatal box, not only on standard error.
#include "shell/app/mMain.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "LogFixture.h"
#include "Rows.h"
#include "shell/window/frmMain.h"

namespace ketch {
namespace {

// A real copy of the supplied KETCH.MDB, and the settings loaded from it as
// Sub Main has them when the window has closed.
class WindowEndTest : public test::LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    std::filesystem::copy_file(std::string(KETCH_PROGRAM_DIR) + "/KETCH.MDB", db_);
    settings_ = std::make_unique<cSettings>();
    SetSettings(settings_.get());
    settings_->SettingsDBName(db_);
    window_.InstallLogView();
    window_.show();
    window_.close();
  }
  std::string db_ = dir_ / "KETCH.MDB";
  frmMain window_;
};

TEST_F(WindowEndTest, TheSettingsAreSavedAndAFailedSaveIsShownInTheFatalBox) {
  settings_->VDPath("/typed");
  EndWindowRun(std::move(settings_));
  EXPECT_EQ(test::One(db_, "SELECT VDPath FROM _bc_Settings"), "/typed");
  EXPECT_EQ(Settings(), nullptr);

  // The program ends in the box; the child says what the box showed.
  EXPECT_EXIT(
      {
        SetEndHook(nullptr);
        auto settings = std::make_unique<cSettings>();
        SetSettings(settings.get());
        settings->SettingsDBName(db_);
        test::Sql(db_, "DELETE FROM _bc_Settings");
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
          if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "box: %s\n", box->text().toStdString().c_str());
            box->accept();
          }
        });
        answer.start(10);
        EndWindowRun(std::move(settings));
      },
      ::testing::ExitedWithCode(exitFatal), "box: Unable to save settings\r?\n");
}

}  // namespace
}  // namespace ketch
