// The windows, driven through their real widgets on the offscreen platform.
#include "shell/window/frmMain.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

#include <filesystem>

#include "LogFixture.h"
#include "TestUtil.h"
#include "platform/Text.h"
#include "shell/window/Twips.h"
#include "shell/window/frmPath.h"

namespace ketch {
namespace {

class WindowTest : public test::LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    window_ = std::make_unique<frmMain>();
  }
  void TearDown() override {
    window_.reset();
    LogFixture::TearDown();
  }
  QRect Px(const TwipsRect& r) { return ToPx(r, window_->logicalDpiY()); }
  std::unique_ptr<frmMain> window_;
};

TEST_F(WindowTest, ControlsStandAtTheirLayoutPositionsInTabOrder) {
  frmMain& w = *window_;
  EXPECT_EQ(w.windowTitle(), "VD INI Analyser");
  struct Case {
    QWidget* widget;
    TwipsRect place;
    QString caption;
  } cases[] = {
      {w.lblVDPath, {120, 240, 615, 255}, "VD Path"},
      {w.tbVDPath, {840, 120, 4335, 375}, ""},
      {w.cmdBrowseVD, {5280, 120, 855, 375}, "Browse"},
      {w.cmdInitDB, {6240, 120, 855, 375}, "Init DB"},
      {w.cmdAll, {7200, 120, 735, 375}, "All"},
      {w.cmdDumpRules, {8640, 120, 735, 375}, "Dump"},
      {w.lblLogPath, {120, 720, 735, 255}, "Log Path"},
      {w.tbLogPath, {840, 600, 4335, 375}, ""},
      {w.cmdBrowseLog, {5280, 600, 855, 375}, "Browse"},
      {w.lboOverwrite, {6240, 600, 735, 255}, "Overwrite"},
      {w.chkOverwrite, {7080, 600, 255, 255}, "Overwrite"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.widget->geometry(), Px(c.place)) << c.widget->objectName().toStdString();
    QString text = c.widget->property("text").toString();
    EXPECT_EQ(text, c.caption) << c.widget->objectName().toStdString();
    EXPECT_TRUE(c.widget->isEnabled());
  }
  std::vector<QWidget*> expected = {w.tbVDPath, w.tbLogPath, w.cmdBrowseVD, w.cmdBrowseLog,
                                    w.chkOverwrite, w.cmdInitDB, w.tbLog, w.cmdDumpRules, w.cmdAll};
  QWidget* at = expected[0];
  for (size_t i = 1; i < expected.size(); ++i) {
    do at = at->nextInFocusChain();
    while (!(at->focusPolicy() & Qt::TabFocus));
    EXPECT_EQ(at, expected[i]) << i;
  }
}

TEST(LogBoxPlace, ResizeRule) {
  struct Case {
    int w, h;
    TwipsRect want;
  } cases[] = {
      {9510, 5880, {5, 1075, 9510, 4805}},
      {9510, 1476, {5, 1075, 9510, 401}},
      {9510, 1475, {5, 1075, 9510, 400}},
      {9510, 1474, {5, 1075, 9510, 400}},
      {3000, 0, {5, 1075, 3000, 400}},
  };
  for (const auto& c : cases) {
    TwipsRect got = LogBoxPlace(c.w, c.h, 975);
    EXPECT_EQ(got.Left, c.want.Left);
    EXPECT_EQ(got.Top, c.want.Top);
    EXPECT_EQ(got.Width, c.want.Width);
    EXPECT_EQ(got.Height, c.want.Height) << c.h;
  }
}

TEST_F(WindowTest, ShowingAndResizingMovesOnlyTheLogBox) {
  frmMain& w = *window_;
  const int dpi = w.logicalDpiY();
  w.show();
  QApplication::processEvents();
  EXPECT_EQ(w.tbLog->geometry(), Px(LogBoxPlace(PxToTwips(w.width(), dpi), PxToTwips(w.height(), dpi), 975)));
  QRect browse = w.cmdBrowseVD->geometry();
  w.resize(w.width() / 2, TwipsToPx(1000, dpi));
  QApplication::processEvents();
  EXPECT_EQ(w.tbLog->geometry().height(), TwipsToPx(400, dpi));
  EXPECT_EQ(w.tbLog->geometry().width(), w.width());
  EXPECT_EQ(w.cmdBrowseVD->geometry(), browse);
}

TEST_F(WindowTest, EditsAndBrowsingWriteTheSettingsAndBrowseKeepsTheTextWithoutAChoice) {
  frmMain& w = *window_;
  w.show();
  QTest::keyClicks(w.tbVDPath, "/games/vd");
  EXPECT_EQ(settings_->VDPath(), "/games/vd");
  w.tbLogPath->setText(QString::fromUtf8("/logs/\xC3\xA9"));
  EXPECT_EQ(settings_->LogPath(), "/logs/\xE9");
  w.chkOverwrite->setCheckState(Qt::PartiallyChecked);
  EXPECT_EQ(settings_->OverwriteLog(), "2");
  QTest::mouseClick(w.chkOverwrite, Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_EQ(settings_->OverwriteLog(), "1");
  QTest::mouseClick(w.chkOverwrite, Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_EQ(settings_->OverwriteLog(), "0");
  QTest::mouseClick(w.chkOverwrite, Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_EQ(settings_->OverwriteLog(), "1");
  w.tbVDPath->setText("/old");
  QString seen;
  w.ShowPicker = [&](frmMain& m) { seen = m.aPath; };  // closed without Ok
  QTest::mouseClick(w.cmdBrowseVD, Qt::LeftButton);
  EXPECT_EQ(seen, "/old");
  EXPECT_EQ(w.tbVDPath->text(), "/old");
  w.ShowPicker = [](frmMain& m) { m.aPath = "/chosen"; };
  QTest::mouseClick(w.cmdBrowseLog, Qt::LeftButton);
  EXPECT_EQ(w.tbLogPath->text(), "/chosen");
  EXPECT_EQ(settings_->LogPath(), "/chosen");
}

TEST_F(WindowTest, LogBoxShowsTheLogAndStaysShort) {
  frmMain& w = *window_;
  w.InstallLogView();
  LogLine("one");
  LogLine("two\r\nthree");
  EXPECT_EQ(w.tbLog->Text(), "one\r\ntwo\r\nthree\r\n");
  w.tbLog->ShowEnd(true);
  EXPECT_EQ(w.tbLog->toPlainText(), "one\ntwo\nthree\n");
  std::string line(99, 'x');
  for (int i = 0; i < 400; ++i) LogLine(line);
  EXPECT_LE(w.tbLog->TextLength(), 32000u + 101);
  w.tbLog->ShowEnd(true);
  QString shown = QString::fromStdString(w.tbLog->Text()).replace("\r\n", "\n");
  EXPECT_EQ(w.tbLog->toPlainText(), shown);
  EXPECT_EQ(w.tbLog->Text().substr(w.tbLog->TextLength() - 101), line + "\r\n");
  EXPECT_EQ(test::ReadFile(dir_ / "ketch.log").size(), 5 + 12 + 400u * 101);
}

// Trimmed between paints the box cuts its start instead of taking the whole
// text again; what it shows must stay the log's text all the same.
TEST_F(WindowTest, LogBoxTrimmedBetweenPaintsShowsTheLogsText) {
  LogBox& box = *window_->tbLog;
  auto shown = [&] { return QString::fromStdString(Cp1252ToUtf8(box.Text())).replace("\r\n", "\n").replace("\r", "\n"); };
  for (int round = 0; round < 30; ++round) {
    box.AppendText("line " + std::to_string(round) + " caf\xe9 \x80\r\n");
    if (round % 3 == 0) box.KeepFrom(5);          // inside what the widget has
    if (round % 7 == 0) box.AppendText("lone\rcr\n");
    if (round % 4 == 0) box.Flush();
    if (round % 5 == 0) box.KeepFrom(box.TextLength() - 3);  // into what it has not got yet
    box.Flush();
    ASSERT_EQ(box.toPlainText(), shown()) << "round " << round;
  }
  box.AppendText("ab\r\ncd\r\n");
  box.Flush();
  box.KeepFrom(box.Text().find("ab\r") + 3);  // between a CR and its LF
  box.Flush();
  EXPECT_EQ(box.toPlainText(), shown());
  box.KeepFrom(box.TextLength());
  box.Flush();
  EXPECT_TRUE(box.toPlainText().isEmpty());
}

TEST_F(WindowTest, FailureLinesOfAnUnwritableLogShowOnceTheWindowPaints) {
  frmMain& w = *window_;
  w.InstallLogView();
  w.show();
  const std::string folder = dir_ / "missing";
  settings_->LogPath(folder);
  LogLine("lost");
  LogLine("lost too");
  const std::string notice = "*******  Unable to log message in file " + folder + "\\ketch.log\r\n";
  EXPECT_EQ(w.tbLog->Text().rfind(notice, 0), 0u) << w.tbLog->Text();
  EXPECT_EQ(w.tbLog->Text().find("lost"), std::string::npos);
  // No repaint at the call; the lines show when events next run.
  EXPECT_TRUE(w.tbLog->toPlainText().isEmpty());
  const QString shown = QString::fromStdString(w.tbLog->Text()).replace("\r\n", "\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.tbLog->toPlainText() == shown; }, 2000))
      << w.tbLog->toPlainText().toStdString();
  EXPECT_TRUE(w.tbLog->textCursor().atEnd());
}

TEST_F(WindowTest, LongLogLinesWrapWithoutAHorizontalBarAndKeepTheirCount) {
  frmMain& w = *window_;
  w.InstallLogView();
  w.show();
  std::string line = "WARN: File " + std::string(300, 'd') + "\\ships.ini line 12 " + std::string(400, 'x');
  LogLine("short");
  LogLine(line);
  w.tbLog->ShowEnd(true);
  QApplication::processEvents();
  EXPECT_EQ(w.tbLog->Text(), "short\r\n" + line + "\r\n");
  EXPECT_EQ(w.tbLog->TextLength(), 7 + line.size() + 2);
  EXPECT_EQ(w.tbLog->toPlainText().toStdString(), "short\n" + line + "\n");
  EXPECT_FALSE(w.tbLog->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(w.tbLog->verticalScrollBar()->isVisible());
  QTextBlock block = w.tbLog->document()->findBlockByNumber(1);
  ASSERT_TRUE(block.isValid());
  EXPECT_GT(block.layout()->lineCount(), 2);
  EXPECT_EQ(w.tbLog->document()->findBlockByNumber(0).layout()->lineCount(), 1);
}

TEST_F(WindowTest, ClosingDuringACommandSaysSoInTheCaptionAndClosesWhenItEnds) {
  frmMain& w = *window_;
  w.setWindowTitle("VD INI Analyser  V 0.9.7");
  w.show();
  QString during;
  bool visibleDuring = false;
  w.OnAll = [&] {
    w.close();
    w.close();  // a second try changes nothing
    visibleDuring = w.isVisible();
    during = w.windowTitle();
  };
  QTest::mouseClick(w.cmdAll, Qt::LeftButton);
  EXPECT_TRUE(visibleDuring);
  EXPECT_EQ(during.toStdString(), "VD INI Analyser  V 0.9.7 - closing when the command ends");
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "ketch.log"));

  // Without a command the window closes at once, caption unchanged.
  frmMain other;
  other.show();
  EXPECT_TRUE(other.close());
  EXPECT_EQ(other.windowTitle().toStdString(), "VD INI Analyser");
}

class PickerTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(PickerTest, StartsAtTheFolderOfTheBoxWhichOkWithoutOpeningReturns) {
  std::filesystem::create_directories(dir_ / "a/b");
  QString path = QString::fromStdString(dir_ / "a");
  frmPath picker(path);
  EXPECT_EQ(picker.CurrentFolder(), path);
  // The parents first, the sub-folder last.
  EXPECT_EQ(picker.dlbDir->item(0)->data(Qt::UserRole).toString(), "/");
  EXPECT_EQ(picker.dlbDir->item(picker.dlbDir->count() - 1)->data(Qt::UserRole).toString(), path + "/b");
  QTest::mouseClick(picker.cmdGo, Qt::LeftButton);
  EXPECT_EQ(path, QString::fromStdString(dir_ / "a"));
}

TEST_F(PickerTest, EmptyOrMissingFolderFallsBackToTheDrivesCurrentFolder) {
  for (QString path : {QString(""), QString::fromStdString(dir_ / "missing/deeper")}) {
    QString original = path;
    frmPath picker(path);
    EXPECT_EQ(picker.CurrentFolder(), frmPath::DriveCurrentFolder(picker.dlbDrive->currentText()));
    EXPECT_EQ(path, original);  // nothing chosen yet
  }
}

TEST_F(PickerTest, OkTakesTheOpenedFolderAndCloseKeepsTheOldText) {
  std::filesystem::create_directories(dir_ / "a/b");
  QString path = QString::fromStdString(dir_ / "a");
  {
    frmPath picker(path);
    picker.reject();
  }
  EXPECT_EQ(path, QString::fromStdString(dir_ / "a"));
  {
    frmPath picker(path);
    QListWidgetItem* sub = picker.dlbDir->item(picker.dlbDir->count() - 1);
    emit picker.dlbDir->itemDoubleClicked(sub);
    QTest::mouseClick(picker.cmdGo, Qt::LeftButton);
  }
  EXPECT_EQ(path, QString::fromStdString(dir_ / "a/b"));
}

TEST_F(PickerTest, ADriveThatCannotBeOpenedSaysSoAndReturnsToTheRoot) {
  QString path;
  frmPath picker(path);
  QString message;
  picker.ShowMessage = [&](const QString& m) { message = m; };
  picker.dlbDrive->addItem(QString::fromStdString(dir_ / "no-medium"));
  picker.dlbDrive->setCurrentIndex(picker.dlbDrive->count() - 1);
  EXPECT_EQ(message, "Error 76, Path not found");
  EXPECT_EQ(picker.dlbDrive->currentText(), "/");
  EXPECT_EQ(picker.CurrentFolder(), frmPath::DriveCurrentFolder("/"));
}

TEST_F(PickerTest, OpensWithTheFocusInTheFolderListThenTabsToTheDriveListAndOk) {
  QString path = QString::fromStdString(dir_.Path());
  frmPath picker(path);
  picker.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&picker));
  EXPECT_EQ(QApplication::focusWidget(), picker.dlbDir);
  QTest::keyClick(picker.dlbDir, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), picker.dlbDrive);
  QTest::keyClick(picker.dlbDrive, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), picker.cmdGo);
}

}  // namespace
}  // namespace ketch
