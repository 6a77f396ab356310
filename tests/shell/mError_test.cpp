// The log and its records: the error table, log lines in the file and the
// box, the box kept short, error, warning and fatal records, the findings
// handed beside them, the count of error reports, the end of the program.
#include "shell/mError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include "LogFixture.h"
#include "shell/Records.h"
#include "platform/App.h"
#include "shell/RunCounts.h"

namespace ketch {
namespace {

using test::LogFixture;
using test::ProgramEnded;

TEST(ErrorText, CodesOfTheTableCarryTheirNumberOthersAreUnknownAndOwnErrorsNameTheProgramAndClass) {
  struct Case {
    int16_t code;
    const char* text;
  } cases[] = {
      {10101, "10101 - Value Type Mismatch"},
      {10104, "10104 - Value Overflow"},
      {10203, "10203 - Entry Name Mismatch"},
      {10212, "10212 - Too Few Values"},
      {10301, "10301 - Section has no closing bracket"},
      {10306, "10306 - Could not open referred file"},
      {10307, "10307 - Line too long"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorText(c.code), c.text) << c.code;
  // Gaps of the table and codes outside it.
  for (int16_t code : {10105, 10200, 10213, 10300, 10308, 10100, 0, -1, 13, 32767})
    EXPECT_EQ(ErrorText(code), "Unknown Error") << code;
  Error e = OwnError(10205, ".Entry");
  EXPECT_EQ(e.Number, 10205);
  EXPECT_EQ(e.Source, App::EXEName() + ".Entry");
  EXPECT_EQ(e.Description, "10205 - Too Many Values");
}

class LogLineTest : public LogFixture {};

TEST_F(LogLineTest, AppendsAnyBytesWithCrLfToFileAndBoxAndNeverTruncates) {
  test::WriteFile(dir_ / "ketch.log", "old\r\n");
  LogLine("first");
  LogLine(" ");
  LogLine("");
  EXPECT_EQ(LogFile(), "old\r\nfirst\r\n \r\n\r\n");
  EXPECT_EQ(box_, "first\r\n \r\n\r\n");
  EXPECT_EQ(repaints_, 3);
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  bytes += std::string("a\0b", 3);
  LogLine(bytes);
  EXPECT_EQ(LogFile(), "old\r\nfirst\r\n \r\n\r\n" + bytes + "\r\n");
}

TEST_F(LogLineTest, ALogDeletedMovedOrReplacedMeanwhileIsWrittenAtItsPath) {
  namespace fs = std::filesystem;
  LogLine("a");
  fs::remove(dir_ / "ketch.log");
  LogLine("b");
  EXPECT_EQ(LogFile(), "b\r\n");
  fs::rename(dir_ / "ketch.log", dir_ / "moved.log");
  LogLine("c");
  EXPECT_EQ(LogFile(), "c\r\n");
  EXPECT_EQ(test::ReadFile(dir_ / "moved.log"), "b\r\n");
  test::WriteFile(dir_ / "other.log", "other\r\n");
  fs::rename(dir_ / "other.log", dir_ / "ketch.log");
  LogLine("d");
  EXPECT_EQ(LogFile(), "other\r\nd\r\n");
  settings_->LogPath(dir_ / "missing");
  LogLine("lost");
  settings_->LogPath(dir_.Path());
  LogLine("e");
  EXPECT_EQ(LogFile(), "other\r\nd\r\ne\r\n");
}

TEST_F(LogLineTest, AMissingFolderOrALogThatCannotBeWrittenPutsFourLinesInTheBoxOnly) {
  settings_->LogPath(dir_ / "missing");
  LogLine("lost");
  EXPECT_EQ(box_,
            "*******  Unable to log message in file " + dir_.Path() + "/missing\\ketch.log\r\n"
            "         Error numb:76\r\n"
            "         Error desc:Path not found\r\n"
            "         Error src :" + App::EXEName() + "\r\n");
  EXPECT_EQ(repaints_, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  box_.clear();
  settings_->LogPath(dir_.Path());
  // A folder where the log file should be: no process, root included, may
  // write it.
  std::filesystem::create_directories(dir_ / "ketch.log");
  LogLine("x");
  EXPECT_NE(box_.find("         Error numb:75\r\n         Error desc:Path/File access error\r\n"),
            std::string::npos)
      << box_;
  LogLine("y");
  EXPECT_EQ(std::count(box_.begin(), box_.end(), '*'), 14);
}

TEST_F(LogLineTest, BackslashesInTheLogFolderOpenTheRightFile) {
  std::filesystem::create_directories(dir_ / "Logs");
  settings_->LogPath(dir_.Path() + "\\logs");  // other case, Windows separator
  LogLine("here");
  EXPECT_EQ(test::ReadFile(dir_ / "Logs/ketch.log"), "here\r\n");
}

TEST_F(LogLineTest, TheBoxIsCutPast32000CharactersFromThe6000th) {
  box_ = std::string(32000, 'x');
  LogLine("m");
  EXPECT_EQ(box_.size(), 32000u + 3);
  box_ = std::string(5999, 'a') + "B" + std::string(32001 - 6000, 'c');
  LogLine("m");
  EXPECT_EQ(box_.substr(0, 1), "B");
  EXPECT_EQ(box_.size(), 32001u - 5999 + 3);
  EXPECT_EQ(box_.substr(box_.size() - 3), "m\r\n");
}

class LogRecordTest : public LogFixture {};

TEST_F(LogRecordTest, AnErrorReportHasFourLinesAndEndProgramCommitsFirst) {
  LogError(Error(-2147220480, "ketch.cFile", "KRUN finished with error"), "ReadINIFile");
  EXPECT_EQ(LogFile(),
            "Error : KRUN finished with error\r\n"
            "Number: -2147220480\r\n"
            "Source: ketch.cFile\r\n"
            "ReadINIFile\r\n");
  bool committed = false;
  SetBeforeEndHook([&] { committed = true; });
  EXPECT_THROW(EndProgram(), ProgramEnded);
  EXPECT_TRUE(committed);
}

TEST_F(LogRecordTest, WarningsPointAtTheHeaderLinePlusTheIndex) {
  struct Case {
    const char *file, *section;
    int32_t lineNo;
    int16_t index;
    const char *key, *value;
    int16_t code;
    std::string record;
  } cases[] = {
      {"C:\\g\\DATA\\ships.ini", "Ship", 10, 3, "mass", "", 10212,
       "WARN: File C:\\g\\DATA\\ships.ini line 13\r\n      Section [Ship] line 3\r\n"
       "      10212 - Too Few Values !mass!!\r\n\r\n"},
      {"f", "S", 1, 1, "k", "v", 10302, "WARN: File f line 2\r\n      Section [S] line 1\r\n      10302 - Unknown Entry !k!v!\r\n\r\n"},
      // The file's line is a 32-bit sum.
      {"", "", 100000, 2048, "", "", 1, "WARN: File  line 102048\r\n      Section [] line 2048\r\n      Unknown Error !!!\r\n\r\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir_ / "ketch.log");
    SectionRecord r;
    r.File = c.file;
    r.SectionName = c.section;
    r.LineNo = c.lineNo;
    r.EntryNames[c.index] = c.key;
    r.EntryValues[c.index] = c.value;
    LogWarning(r, c.code, c.index);
    EXPECT_EQ(LogFile(), c.record);
  }
}

TEST_F(LogRecordTest, ALocationWarningOfAFileNamedNowhereAndAFatalErrorEndingWithStatus2) {
  LocationRecord l{"N/A", 0, "N/A", "N/A", "missions\\x.ini", 0};
  LogLocationWarning(l, 10306);
  EXPECT_EQ(LogFile(),
            "WARN: File N/A line 0\r\n"
            "      Section [N/A] line 0\r\n"
            "      10306 - Could not open referred file !N/A!missions\\x.ini!\r\n"
            "\r\n");
  std::filesystem::remove(dir_ / "ketch.log");
  EXPECT_EQ(EndStatus([] {
              FatalError(Error(53, "ketch", "File not found"), "OpenSettingsDB: Unable to open settings database");
            }),
            2);
  EXPECT_EQ(fatal_,
            "OpenSettingsDB: Unable to open settings database\r\n\r\n"
            "Error: File not found\r\nNumber: 53\r\nSource: ketch\r\n");
  EXPECT_EQ(LogFile(), "");
}

// Each warning is handed to the sink as one finding, whose record is the very
// record logged; the log is the same with a sink and without one.
TEST_F(LogRecordTest, EachWarningIsOneFindingOfTheSinkAndTheLogIsTheSameWithOrWithoutIt) {
  struct Case {
    const char* what;
    std::function<void()> warn;
    Finding expected;
  } cases[] = {
      {"a line of a section",
       [] {
         SectionRecord r;
         r.File = "G\\DATA\\ships.ini";
         r.SectionName = "Ship";
         r.LineNo = 10;
         r.EntryNames[3] = "mass";
         r.EntryValues[3] = "x, \xE9";
         LogWarning(r, 10101, 3);
       },
       {"G\\DATA\\ships.ini", 13, "Ship", 3, "mass", "x, \xE9", 10101, "Value Type Mismatch", false, "", 0}},
      {"a code outside the table",
       [] {
         SectionRecord r;
         r.File = "f";
         LogWarning(r, 10150, 1);
       },
       {"f", 1, "", 1, "", "", 10150, "Unknown Error", false, "", 0}},
      {"a missing file named by a line",
       [] {
         LocationRecord l{"G\\DATA\\a.ini", 7, "Ship", "da_archetype", "b.ini", 2};
         LogLocationWarning(l, 10306, "G\\DATA\\b.ini");
       },
       {"G\\DATA\\b.ini", 0, "Ship", 2, "da_archetype", "b.ini", 10306, "Could not open referred file", true,
        "G\\DATA\\a.ini", 7}},
      {"a place without the file named",
       [] {
         LocationRecord l{"G\\EXE\\vandrel.ini", 4, "Data", "ships", "", 3};
         LogLocationWarning(l, 10304);
       },
       {"G\\EXE\\vandrel.ini", 4, "Data", 3, "ships", "", 10304, "Entry With no Value", false, "", 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_ / "ketch.log");
    SetFindingSink(nullptr);
    c.warn();
    const std::string alone = LogFile();
    std::filesystem::remove(dir_ / "ketch.log");
    std::vector<Finding> got;
    SetFindingSink([&](const Finding& f) { got.push_back(f); });
    c.warn();
    EXPECT_EQ(LogFile(), alone);
    ASSERT_EQ(got.size(), 1u);
    const Finding& f = got[0];
    const Finding& e = c.expected;
    EXPECT_EQ(std::tie(f.File, f.Line, f.Section, f.SectionLine, f.Key, f.Value, f.Code, f.Text),
              std::tie(e.File, e.Line, e.Section, e.SectionLine, e.Key, e.Value, e.Code, e.Text));
    EXPECT_EQ(std::tie(f.Named, f.NamedIn, f.NamedLine), std::tie(e.Named, e.NamedIn, e.NamedLine));
    EXPECT_EQ(WarningRecord(f) + "\r\n", alone);
  }
}

TEST_F(LogRecordTest, ErrorReportsAndLinesTheFileLostAreCountedAndShownTheLogCanBeSwitchedOff) {
  std::string shown;
  LogView view = CurrentLogView();
  view.ShowError = [&](const std::string& report) { shown += report; };
  SetLogView(view);
  LogLine("a line");
  LogWarning(SectionRecord(), 10302, 1);
  EXPECT_EQ(ErrorReports(), 0);
  EXPECT_EQ(shown, "");
  LogError(Error(9, "ketch", "Subscript out of range"), "ReadINIFile");
  EXPECT_EQ(ErrorReports(), 1);
  EXPECT_EQ(shown, "Error : Subscript out of range\r\nNumber: 9\r\nSource: ketch\r\nReadINIFile\r\n");
  shown.clear();
  settings_->LogPath(dir_ / "missing");
  LogLine("lost");
  EXPECT_EQ(ErrorReports(), 2);
  EXPECT_EQ(shown.rfind("*******  Unable to log message in file ", 0), 0u) << shown;
  // Off, the log file is neither written nor missed; the box hears all.
  SetLogFileOn(false);
  settings_->LogPath(dir_.Path());
  std::filesystem::remove(dir_ / "ketch.log");
  box_.clear();
  LogLine("box only");
  LogError(Error(5, "ketch", "x"), "c");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "ketch.log"));
  EXPECT_EQ(box_, "box only\r\nError : x\r\nNumber: 5\r\nSource: ketch\r\nc\r\n");
  EXPECT_EQ(ErrorReports(), 3);
}

TEST(TableText, EveryCodeOfTheTableHasTheTextErrorTextShowsAndNoOtherCodeHasOne) {
  for (int16_t code : kErrorCodes) {
    ASSERT_NE(TableText(code), nullptr) << code;
    EXPECT_EQ(ErrorText(code), std::to_string(code) + " - " + TableText(code));
  }
  for (int16_t code = 10000; code < 10400; ++code) {
    if (std::find(kErrorCodes.begin(), kErrorCodes.end(), code) == kErrorCodes.end()) {
      EXPECT_EQ(TableText(code), nullptr) << code;
    }
  }
}

TEST(ApiErrorText, SystemTextOrEmpty) {
  EXPECT_EQ(ApiErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(ApiErrorText(ENOEXEC), "Exec format error");
  EXPECT_EQ(ApiErrorText(999999), "");
}

}  // namespace
}  // namespace ketch
