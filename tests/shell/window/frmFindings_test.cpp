// The findings window on the offscreen platform: rows arrive in batches,
// sort as numbers where they are numbers, filter by code and by a text in
// file or section, count per code, and Enter or a double-click hands the
// row's own finding, whatever the order and filter shown.
#include "shell/window/frmFindings.h"

#include <QTest>
#include <gtest/gtest.h>

#include "shell/mError.h"
#include "shell/window/Twips.h"
#include "shell/window/frmMain.h"

namespace ketch {
namespace {

Finding Make(const std::string& file, int line, const std::string& section, int16_t code) {
  Finding f;
  f.File = file;
  f.Line = line;
  f.Section = section;
  f.Key = "key" + std::to_string(line);
  f.Code = code;
  f.Text = TableText(code) ? TableText(code) : "";
  return f;
}

class FindingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Added out of order on purpose: 9 before 10 before 100 only as numbers.
    for (const Finding& f : {Make("DATA\\ships\\a.ini", 100, "Ship", 10101), Make("DATA\\ships\\a.ini", 9, "Ship", 10302),
                             Make("DATA\\equip\\gun.ini", 10, "Gun", 10101), Make("DATA\\equip\\gun.ini", 12, "Munition", 10305)})
      w_.Add(f, QString::fromStdString(f.File).replace('\\', '/'));
    w_.Flush();
  }
  // The column's texts from top to bottom, as shown.
  std::vector<std::string> Column(int column) {
    std::vector<std::string> out;
    for (int r = 0; r < w_.filter->rowCount(); ++r)
      out.push_back(w_.filter->index(r, column).data().toString().toStdString());
    return out;
  }
  frmFindings w_;
};

TEST_F(FindingsWindowTest, RowsComeInBatchesAndSortByAnyColumn) {
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"100", "9", "10", "12"}));  // as found
  w_.Add(Make("DATA\\x.ini", 1, "X", 10304), "DATA/x.ini");
  EXPECT_EQ(w_.filter->rowCount(), 4);  // not yet: the next batch
  w_.Flush();
  EXPECT_EQ(w_.filter->rowCount(), 5);

  w_.tvFindings->sortByColumn(FindingsModel::colLine, Qt::AscendingOrder);
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"1", "9", "10", "12", "100"}));
  w_.tvFindings->sortByColumn(FindingsModel::colFile, Qt::DescendingOrder);
  EXPECT_EQ(Column(FindingsModel::colFile).front(), "DATA/x.ini");
  EXPECT_EQ(Column(FindingsModel::colFile).back(), "DATA/equip/gun.ini");
  w_.tvFindings->sortByColumn(FindingsModel::colCode, Qt::AscendingOrder);
  EXPECT_EQ(Column(FindingsModel::colCode), (std::vector<std::string>{"10101", "10101", "10302", "10304", "10305"}));

  // A new run starts empty.
  w_.RunStarted("All");
  EXPECT_EQ(w_.filter->rowCount(), 0);
  EXPECT_EQ(w_.lblCounts->text().toStdString(), "No findings");
}

TEST_F(FindingsWindowTest, FiltersByCodeAndByFileOrSectionAndCountsPerCode) {
  EXPECT_EQ(w_.lblCounts->text().toStdString(), "4 findings (10101: 2, 10302: 1, 10305: 1)");
  ASSERT_EQ(w_.cboCode->count(), 4);
  EXPECT_EQ(w_.cboCode->itemText(1).toStdString(), "10101 Value Type Mismatch (2)");

  w_.cboCode->setCurrentIndex(w_.cboCode->findData(10101));
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"100", "10"}));
  QTest::keyClicks(w_.tbFilter, "GUN");  // file, any letter case
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"10"}));
  w_.cboCode->setCurrentIndex(0);
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"10", "12"}));
  w_.tbFilter->setText("munit");  // section
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"12"}));
  w_.tbFilter->clear();

  // The chosen code stays chosen while more rows come in.
  w_.cboCode->setCurrentIndex(w_.cboCode->findData(10302));
  w_.Add(Make("DATA\\y.ini", 3, "Y", 10302), "DATA/y.ini");
  w_.Flush();
  EXPECT_EQ(w_.cboCode->currentData().toInt(), 10302);
  EXPECT_EQ(Column(FindingsModel::colLine), (std::vector<std::string>{"9", "3"}));
  EXPECT_EQ(w_.cboCode->itemText(w_.cboCode->currentIndex()).toStdString(), "10302 Unknown Entry (2)");
}

TEST_F(FindingsWindowTest, EnterAndDoubleClickOpenTheRowsOwnFinding) {
  std::vector<std::pair<std::string, int>> opened;
  w_.OnOpen = [&](const Finding& f) { opened.emplace_back(f.File, f.Line); };
  w_.show();
  w_.tvFindings->sortByColumn(FindingsModel::colLine, Qt::AscendingOrder);
  w_.tbFilter->setText("gun");
  // Shown: gun.ini 10, gun.ini 12.
  w_.tvFindings->setFocus();
  w_.tvFindings->setCurrentIndex(w_.filter->index(1, 0));
  QTest::keyClick(w_.tvFindings, Qt::Key_Return);
  const QRect cell = w_.tvFindings->visualRect(w_.filter->index(0, FindingsModel::colText));
  // A double-click is a press and a release, then the second press.
  QTest::mouseClick(w_.tvFindings->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(w_.tvFindings->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], (std::pair<std::string, int>("DATA\\equip\\gun.ini", 12)));
  EXPECT_EQ(opened[1], (std::pair<std::string, int>("DATA\\equip\\gun.ini", 10)));
}

TEST_F(FindingsWindowTest, CancelAndEscapeAskToStopOnlyWhileARunGoesOn) {
  int cancels = 0;
  w_.OnCancel = [&] { ++cancels; };
  w_.show();
  w_.activateWindow();
  EXPECT_FALSE(w_.cmdCancel->isEnabled());
  QTest::keyClick(&w_, Qt::Key_Escape);
  EXPECT_EQ(cancels, 0);
  w_.RunStarted("All");
  w_.Progress(3, 10);
  EXPECT_EQ(w_.pbRun->text().toStdString(), "3 of 10 files");
  EXPECT_FALSE(w_.cmdCheck->isEnabled());
  QTest::mouseClick(w_.cmdCancel, Qt::LeftButton);
  EXPECT_EQ(cancels, 1);
  QTest::keyClick(&w_, Qt::Key_Escape);
  EXPECT_EQ(cancels, 2);
  w_.RunEnded("All cancelled");
  EXPECT_FALSE(w_.cmdCancel->isEnabled());
  EXPECT_TRUE(w_.cmdCheck->isEnabled());
}

// The main window's way in: a button in the gap between All and Dump, after
// All in the tab order, and Escape asking a running command to stop.
TEST(MainWindowFindings, TheButtonFillsTheGapAfterAllAndEscapeCancelsOnlyDuringACommand) {
  frmMain w;
  const int dpi = w.logicalDpiY();
  const QRect button = w.cmdFindings->geometry();
  EXPECT_GT(button.left(), w.cmdAll->geometry().right());
  EXPECT_LT(button.right(), w.cmdDumpRules->geometry().left());
  EXPECT_EQ(button.top(), TwipsToPx(120, dpi));
  QWidget* next = w.cmdAll->nextInFocusChain();
  while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
  EXPECT_EQ(next, w.cmdFindings);
  int opened = 0, cancels = 0;
  w.OnFindings = [&] { ++opened; };
  w.OnCancel = [&] { ++cancels; };
  QTest::mouseClick(w.cmdFindings, Qt::LeftButton);
  EXPECT_EQ(opened, 1);
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_EQ(cancels, 0);
  w.OnDumpRules = [&] { QTest::keyClick(w.tbVDPath, Qt::Key_Escape); };  // from a box, during the command
  QTest::mouseClick(w.cmdDumpRules, Qt::LeftButton);
  EXPECT_EQ(cancels, 1);
}

}  // namespace
}  // namespace ketch
