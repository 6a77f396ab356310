// The findings window joined to the real commands, on the small sample game
// (made by vdgen) and a real VD.MDB, on the offscreen platform: All fills the
// list with what vdgen planted, a row opens its file at its line (binary
// files as their converted text), Cancel stops at a file's end with every
// file read whole stored, and Check on chosen files leaves the loaded run to
// the next All.
#include "shell/app/FindingsWiring.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "LogFixture.h"
#include "Process.h"
#include "Rows.h"
#include "TestUtil.h"
#include "platform/App.h"
#include "shell/DoEvents.h"
#include "shell/app/mMain.h"
#include "shell/window/frmFindings.h"
#include "shell/window/frmMain.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using Places = std::multiset<std::string>;

// "data/ships/a.ini\t12\t10101": a place and code, as the manifest gives it.
std::string Place(std::string file, int line, int code) {
  std::replace(file.begin(), file.end(), '\\', '/');
  std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return std::tolower(c); });
  return file + "\t" + std::to_string(line) + "\t" + std::to_string(code);
}

// Line n (from 1) of a text, without its line end.
std::string LineOf(const std::string& text, int n) {
  const auto lines = test::TextLines(text);
  return n >= 1 && static_cast<size_t>(n) <= lines.size() ? lines[static_cast<size_t>(n) - 1] : "<none>";
}

class FindingsWiringTest : public test::LogFixture {
 protected:
  static void SetUpTestSuite() {
    suite_ = new test::TempDir;
    test::MakeProgramFolder(*suite_ / "bin", {"krun", "KETCH.MDB"});
    gen_ = test::Run({.argv = {VDGEN_PATH, "--preset", "small", "--rules", *suite_ / "bin/KETCH.MDB", Game()}});
  }
  static void TearDownTestSuite() { delete suite_; }
  static std::string Game() { return *suite_ / "game"; }
  static std::string Bin() { return *suite_ / "bin"; }

  void SetUp() override {
    LogFixture::SetUp();
    ASSERT_EQ(gen_.status, 0) << gen_.err;
    App::SetPath(Bin());
    settings_->SettingsDBName(Bin() + "/KETCH.MDB");
    settings_->SaveOnClose(false);
    fs::create_directories(dir_ / "log");
    main_.InstallLogView();
    WireCommands(main_);
    main_.tbVDPath->setText(QString::fromStdString(Game()));
    main_.tbLogPath->setText(QString::fromStdString(dir_ / "log"));
    main_.chkOverwrite->setCheckState(Qt::Checked);
    wiring_ = std::make_unique<FindingsWiring>(
        main_, list_,
        [this](const std::string& program, const std::vector<std::string>& args) {
          launched_.emplace_back(program, args);
          return true;
        },
        nullptr);
    wiring_->Opener().Editor("vim");
  }
  void TearDown() override {
    wiring_.reset();
    LogFixture::TearDown();
  }
  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  void InitAndAll() {
    Click(main_.cmdInitDB);
    Click(main_.cmdAll);
  }
  std::string Log() { return test::ReadFile(dir_ / "log/ketch.log"); }

  // The list's places, with a filter on their files.
  Places Listed(bool dataOnly = true) {
    Places out;
    for (int r = 0; r < list_.model->rowCount(); ++r) {
      const Finding& f = list_.model->FindingAt(r);
      const std::string file = list_.model->FileAt(r).toStdString();
      const std::string place = Place(file, f.Line, f.Code);
      if (!dataOnly || (place.starts_with("data/") && f.Code != errCouldNotOpenReferredFile)) out.insert(place);
    }
    return out;
  }
  // What vdgen planted in the data files (the files a check reads too).
  static Places Planted(const std::set<std::string>& only = {}) {
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
      if (place.starts_with("data/") && (only.empty() || only.count(place.substr(0, place.find('\t')))))
        out.insert(place);
    }
    return out;
  }
  // Sections and entry lines stored per file, from another connection.
  std::map<std::string, std::string> Stored() {
    std::map<std::string, std::string> out;
    for (const auto& row : test::Rows(Bin() + "/VD.MDB",
                                      "SELECT s.File, COUNT(DISTINCT s.DB_ID), COUNT(e.DB_ID) FROM Sections s "
                                      "LEFT JOIN Entries e ON e.Link = s.DB_ID GROUP BY s.File")) {
      out[row.substr(0, row.find('|'))] = row.substr(row.find('|'));
    }
    return out;
  }

  static inline test::TempDir* suite_ = nullptr;
  static inline test::RunResult gen_;
  frmMain main_;
  frmFindings list_;
  std::unique_ptr<FindingsWiring> wiring_;
  std::vector<std::pair<std::string, std::vector<std::string>>> launched_;
};

TEST_F(FindingsWiringTest, AllFillsTheListWithWhatWasPlantedAndARowOpensItsFileAtItsLine) {
  InitAndAll();
  const Places planted = Planted();
  ASSERT_GT(planted.size(), 150u);
  EXPECT_TRUE(Listed() == planted) << Listed().size() << " listed, " << planted.size() << " planted";
  EXPECT_EQ(list_.pbRun->value(), list_.pbRun->maximum());
  EXPECT_GT(list_.pbRun->maximum(), 200);
  EXPECT_EQ(list_.lblPass->text().toStdString().rfind("All done: ", 0), 0u) << list_.lblPass->text().toStdString();

  // One row of a text file, one of a binary file, one missing file: each
  // opens where the finding is, and the line there is the finding's line.
  bool text = false, binary = false, missing = false;
  for (int r = 0; r < list_.model->rowCount() && !(text && binary && missing); ++r) {
    const Finding& f = list_.model->FindingAt(r);
    const std::string onDisk = Game() + "/" + list_.model->FileAt(r).toStdString();
    const bool isMissing = f.Code == errCouldNotOpenReferredFile;
    if (isMissing ? missing || f.NamedIn == "N/A" : f.Line == 0 || f.Key.empty()) continue;
    const bool isBinary = !isMissing && test::ReadFile(onDisk).rfind("KRUN", 0) == 0;
    if ((isMissing && missing) || (!isMissing && (isBinary ? binary : text))) continue;
    list_.tvFindings->setCurrentIndex(list_.filter->mapFromSource(list_.model->index(r, 0)));
    QTest::keyClick(list_.tvFindings, Qt::Key_Return);
    ASSERT_FALSE(launched_.empty());
    const auto& [program, args] = launched_.back();
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(program, "vim");
    const int line = std::stoi(args[0].substr(1));
    const std::string shown = LineOf(test::ReadFile(args[1]), line);
    if (isMissing) {
      EXPECT_EQ(line, f.NamedLine);
      EXPECT_NE(shown.find(f.Value), std::string::npos) << shown;
      missing = true;
    } else {
      EXPECT_EQ(line, f.Line);
      EXPECT_EQ(args[1] == onDisk, !isBinary) << args[1];
      EXPECT_NE(shown.find(f.Key), std::string::npos) << args[1] << ":" << line << ": " << shown;
      (isBinary ? binary : text) = true;
    }
  }
  EXPECT_TRUE(text && binary && missing);
}

TEST_F(FindingsWiringTest, CancelStopsAtAFilesEndWithEveryFileReadWholeStoredAndInitAndAllWorkAfterIt) {
  InitAndAll();
  const auto full = Stored();
  ASSERT_GT(full.size(), 100u);

  // Cancel once 40 files are done, clicked while the run takes events.
  bool clicked = false;
  std::set<std::string> passes;
  SetEventPump([&] {
    passes.insert(list_.lblPass->text().toStdString());
    if (!clicked && list_.pbRun->value() >= 40) {
      clicked = true;
      Click(list_.cmdCancel);
    }
    QApplication::processEvents();
  });
  InitAndAll();
  SetEventPump(nullptr);
  ASSERT_TRUE(clicked);
  EXPECT_TRUE(passes.count("Configuration walk"));
  const std::string log = Log();
  EXPECT_EQ(test::Count(log, " cancelled: "), 1u);
  // The file being read when Cancel came was read to its end, and no other.
  const size_t at = log.find("\r\nAll cancelled: ");
  ASSERT_NE(at, std::string::npos);
  const int read = std::stoi(log.substr(at + 17));
  EXPECT_GE(read, 40);
  EXPECT_LE(read, 42);
  EXPECT_EQ(log.substr(at), "\r\nAll cancelled: " + std::to_string(read) + " files read whole, their rows stored.\r\n");
  // The pass running then ended, and no later one began.
  EXPECT_LT(log.rfind("\r\nReading files for value ID "), log.rfind("\r\nDone Reading files"));
  EXPECT_LT(test::Count(log, "\r\nDone Reading files for value ID "), 13u);
  EXPECT_EQ(list_.lblPass->text().toStdString(), "All cancelled: " + std::to_string(read) + " files read");
  const auto part = Stored();
  EXPECT_GT(part.size(), 20u);
  EXPECT_LE(part.size(), static_cast<size_t>(read));
  EXPECT_LT(part.size(), full.size());
  for (const auto& [file, counts] : part) {
    ASSERT_TRUE(full.count(file)) << file;
    EXPECT_EQ(counts, full.at(file)) << file;
  }

  InitAndAll();
  EXPECT_EQ(Stored(), full);
  EXPECT_EQ(test::Count(Log(), " cancelled: "), 0u);
}

TEST_F(FindingsWiringTest, CheckOnChosenFilesListsTheirFindingsAndLeavesTheRunToTheNextAll) {
  // Two data files with planted faults: one text, one binary.
  std::string textFile, binaryFile;
  for (const auto& place : Planted()) {
    const std::string rel = place.substr(0, place.find('\t'));
    for (const auto& entry : fs::recursive_directory_iterator(Game()))
      if (entry.is_regular_file() && Place(fs::relative(entry.path(), Game()).string(), 0, 0).starts_with(rel + "\t")) {
        std::string& slot = test::ReadFile(entry.path()).rfind("KRUN", 0) == 0 ? binaryFile : textFile;
        if (slot.empty()) slot = entry.path().string();
      }
    if (!textFile.empty() && !binaryFile.empty()) break;
  }
  ASSERT_FALSE(textFile.empty() || binaryFile.empty());
  auto rel = [](const std::string& p) { return Place(fs::relative(p, Game()).string(), 0, 0).substr(0, Place(fs::relative(p, Game()).string(), 0, 0).find('\t')); };

  Click(main_.cmdInitDB);
  list_.ChooseFiles = [&](QWidget&) { return QStringList{QString::fromStdString(textFile), QString::fromStdString(binaryFile)}; };
  Click(list_.cmdCheck);
  EXPECT_TRUE(Listed() == Planted({rel(textFile), rel(binaryFile)})) << Listed().size();
  EXPECT_EQ(list_.lblPass->text().toStdString(), "Check done: 2 files read");

  Click(main_.cmdAll);
  EXPECT_TRUE(Listed() == Planted()) << Listed().size();
  EXPECT_GT(Stored().size(), 100u);  // All stored again: the check left the loaded run alone
}

}  // namespace
}  // namespace ketch
