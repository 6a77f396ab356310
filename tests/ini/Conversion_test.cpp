// Converting binary files ahead of the reader: the reader gets the text of the
// very file it opens, whatever happened to the file or to the conversion in
// between, and nothing is left open or behind. The converter in these tests is
// a script that notes each run and hands over to the real krun.
#include "ini/Conversion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "KrunWriter.h"
#include "TestUtil.h"
#include "ini/cFile.h"
#include "platform/App.h"
#include "LogFixture.h"
#include "shell/mError.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using test::OpenDescriptors;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Lines(const std::string& path) {
  cFile f;
  f.FileName(path);
  EXPECT_TRUE(f.IsConverted()) << path;
  std::vector<std::string> lines;
  while (!f.EndOfFile()) lines.push_back(f.ReadLine());
  return lines;
}

class ConvertAheadTest : public test::LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    App::SetPath(prog_.Path());
    UseConverter("");
  }

  // A converter that notes its run, does before first (shell text) and then
  // runs the real krun.
  void UseConverter(const std::string& before) {
    const std::string script = prog_ / "krun";
    WriteFile(script, "#!/bin/sh\necho run >> '" + runs_ + "'\n" + before + "\nexec '" + KETCH_PROGRAM_DIR +
                          "/krun' \"$@\"\n");
    chmod(script.c_str(), 0755);
  }
  int Runs() const {
    if (!fs::exists(runs_)) return 0;
    const std::string text = ReadFile(runs_);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }
  // Waits until the converter has started n times.
  void AwaitRuns(int n) const {
    test::WaitFor([&] { return Runs() >= n; }, 10);
    ASSERT_GE(Runs(), n);
  }
  // Once the converting thread is stopped, no descriptor of it is left open
  // and no file in the temporary folder.
  void ExpectNothingLeft(int descriptorsBefore) {
    StopConvertingAhead();
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    EXPECT_TRUE(fs::is_empty(tmp_.Path()));
  }
  std::string Binary(const std::string& name, const std::string& text) {
    const std::string path = data_ / name;
    krun::WriteBinaryIniFile(path, text);
    return path;
  }

  TempDir data_, prog_;
  test::TempTmpDir tmp_;
  std::string runs_ = data_ / "runs.txt";
};

TEST_F(ConvertAheadTest, QueuedFileIsReadFromItsConversionAheadAndNotConvertedAgain) {
  const std::string a = Binary("a.ini", "[A]\r\nx = 1\r\n");
  const int before = OpenDescriptors();
  ConvertAhead(a);
  ConvertAhead(data_.Path() + "/A.INI");  // the same file, queued once
  AwaitRuns(1);
  EXPECT_EQ(Lines(a), (std::vector<std::string>{"[A]", "x = 1", ""}));
  EXPECT_EQ(Runs(), 1);
  ExpectNothingLeft(before);
}

TEST_F(ConvertAheadTest, FileChangedAfterItsConversionIsConvertedAgain) {
  const std::string a = Binary("a.ini", "[A]\r\nx = 1\r\n");
  ConvertAhead(a);
  AwaitRuns(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  krun::WriteBinaryIniFile(a, "[A]\r\nx = 2\r\n");
  EXPECT_EQ(Lines(a), (std::vector<std::string>{"[A]", "x = 2", ""}));
  EXPECT_EQ(Runs(), 2);
}

TEST_F(ConvertAheadTest, FailedConversionAheadIsLeftToTheReader) {
  // The first run fails, as it would on a full temporary folder.
  UseConverter("[ -e '" + (data_ / "failed") + "' ] || { touch '" + (data_ / "failed") + "'; exit 1; }");
  const std::string a = Binary("a.ini", "[A]\r\nx = 1\r\n");
  ConvertAhead(a);
  AwaitRuns(1);
  EXPECT_EQ(Lines(a), (std::vector<std::string>{"[A]", "x = 1", ""}));
  EXPECT_EQ(Runs(), 2);
}

TEST_F(ConvertAheadTest, PassedAndUnqueuedFilesLeaveNothingOpenOrBehind) {
  const std::string a = Binary("a.ini", "[A]\r\n"), b = Binary("b.ini", "[B]\r\n"),
                    c = Binary("c.ini", "[C]\r\n"), d = Binary("d.ini", "[D]\r\n");
  const std::string text = data_ / "t.ini";
  WriteFile(text, "[T]\r\n");
  const int before = OpenDescriptors();
  for (const std::string& p : {a, text, b, c}) ConvertAhead(p);
  AwaitRuns(3);
  // The reader skips a and b (read before, say) and takes c.
  EXPECT_EQ(Lines(c), (std::vector<std::string>{"[C]", ""}));
  EXPECT_EQ(Lines(d), (std::vector<std::string>{"[D]", ""}));  // never queued
  EXPECT_EQ(Lines(a), (std::vector<std::string>{"[A]", ""}));  // given up: converted again
  EXPECT_EQ(Runs(), 5);
  ExpectNothingLeft(before);
}

TEST_F(ConvertAheadTest, AFilePassedWhileItConvertsIsLeftToTheThreadWhenPassedAgain) {
  // The first conversion (a's) is slow; the reader passes a twice while the
  // thread is still converting it, and takes the files after it.
  UseConverter("[ -e '" + (data_ / "slow") + "' ] || { touch '" + (data_ / "slow") + "'; sleep 0.6; }");
  const std::string a = Binary("a.ini", "[A]\r\n"), b = Binary("b.ini", "[B]\r\n"),
                    c = Binary("c.ini", "[C]\r\n");
  const int before = OpenDescriptors();
  for (const std::string& p : {a, b, c}) ConvertAhead(p);
  AwaitRuns(1);
  EXPECT_EQ(Lines(b), (std::vector<std::string>{"[B]", ""}));
  EXPECT_EQ(Lines(c), (std::vector<std::string>{"[C]", ""}));
  AwaitRuns(3);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // a's conversion ends
  EXPECT_EQ(Lines(a), (std::vector<std::string>{"[A]", ""}));
  ExpectNothingLeft(before);
}

TEST_F(ConvertAheadTest, EndingTheProgramWaitsForTheConverterAndRemovesItsFolder) {
  UseConverter("sleep 0.3");
  const std::string a = Binary("a.ini", "[A]\r\n");
  ConvertAhead(a);
  AwaitRuns(1);
  EXPECT_FALSE(fs::is_empty(tmp_.Path()));
  EXPECT_EQ(EndStatus([] { EndProgram(); }), 3);
  EXPECT_TRUE(fs::is_empty(tmp_.Path()));
  // Queuing again afterwards works with a new folder.
  ConvertAhead(a);
  EXPECT_EQ(Lines(a), (std::vector<std::string>{"[A]", ""}));
}

}  // namespace
}  // namespace ketch
