// The log and its records: the error table, log lines in the file and the
// box, the box kept short, error, warning and fatal records, the end of the
// program.
#include "shell/mError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "LogFixture.h"
#include "shell/Records.h"
#include "platform/App.h"

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
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorText(c.code), c.text) << c.code;
  // Gaps of the table and codes outside it.
  for (int16_t code : {10105, 10200, 10213, 10300, 10307, 10100, 0, -1, 13, 32767})
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

TEST(ApiErrorText, SystemTextOrEmpty) {
  EXPECT_EQ(ApiErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(ApiErrorText(ENOEXEC), "Exec format error");
  EXPECT_EQ(ApiErrorText(999999), "");
}

}  // namespace
}  // namespace ketch
