// Converting binary files ahead of the reader: the reader gets the text of the
// very file it opens, whatever happened to the file or to the conversion in
// between, and nothing is left open or behind. The converter in these tests is
// a script that notes each run and hands over to the real krun.
#include "ini/Conversion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "KrunWriter.h"
#include "Process.h"
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
    // A run folder an earlier test left open is not this test's descriptor.
    StopConvertingAhead();
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

// Check decodes binary files inside the program: its text must be krun's,
// byte for byte, and it must refuse exactly the files krun refuses.
class DecodeHereTest : public ConvertAheadTest {
 protected:
  void TearDown() override {
    DecodeInProcess(false);
    ConvertAheadTest::TearDown();
  }
  // krun's text of the file (empty when it failed) and whether it succeeded.
  static std::pair<bool, std::string> ByKrun(const std::string& file, const TempDir& work) {
    const std::string copy = work / "copy.ini";
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    const auto r = test::Run({.argv = {std::string(KETCH_PROGRAM_DIR) + "/krun", copy}, .timeout = 30});
    const bool ok = r.status == 0;
    std::string text = ok ? ReadFile(copy + ".txt") : std::string();
    fs::remove(copy + ".txt");
    return {ok, text};
  }
  static std::pair<bool, std::string> Here(const std::string& file) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << file;
    std::string text;
    const bool ok = DecodeBinaryFile(fd, text);
    close(fd);
    return {ok, ok ? text : std::string()};
  }
};

TEST_F(DecodeHereTest, TextIsKrunsAndEveryFileKrunRefusesIsRefused) {
  std::vector<std::string> files;
  for (const auto& item : fs::directory_iterator(std::string(KETCH_SOURCE_DIR) + "/tests/converter/corpus"))
    files.push_back(item.path().string());
  std::sort(files.begin(), files.end());
  // Files with the values whose spelling is easiest to get wrong, in
  // sections of varying shapes.
  const std::vector<krun::BinaryValue> odd = {
      krun::BinaryValue::Integer(INT32_MIN), krun::BinaryValue::Integer(INT32_MAX),
      krun::BinaryValue::Integer(0),        krun::BinaryValue::Float(-0.0f),
      krun::BinaryValue::Float(1e-40f),     krun::BinaryValue::Float(3.4028235e38f),
      krun::BinaryValue::Float(INFINITY),   krun::BinaryValue::Float(NAN),
      krun::BinaryValue::Float(2.5f),       krun::BinaryValue::String(""),
      krun::BinaryValue::String("caf\xE9"), krun::BinaryValue::String("a b;c=d")};
  unsigned seed = 7;
  auto next = [&seed](unsigned n) { return (seed = seed * 1103515245u + 12345u) / 65536u % n; };
  for (int n = 0; n < 16; ++n) {
    krun::BinaryIni ini(1 + next(4));
    for (auto& section : ini) {
      section.name = "S" + std::to_string(next(100));
      section.entries.resize(next(5));
      for (auto& entry : section.entries) {
        entry.name = "k" + std::to_string(next(10));
        entry.values.resize(next(6));
        for (auto& v : entry.values) v = odd[next(static_cast<unsigned>(odd.size()))];
      }
    }
    // Every fourth file ends in a value type krun does not know.
    if (n % 4 == 3) ini.back().entries.push_back({"bad", {krun::BinaryValue::Raw(9, 1)}});
    const std::string path = data_ / ("gen" + std::to_string(n) + ".ini");
    WriteFile(path, krun::EncodeBinaryIni(ini));
    files.push_back(path);
  }
  // The version after the magic is not 1.
  const std::string wrong = data_ / "version.ini";
  std::string bytes = ReadFile(files.back());
  bytes[4] = 2;
  WriteFile(wrong, bytes);
  files.push_back(wrong);
  WriteFile(data_ / "short.ini", "KRU");
  files.push_back(data_ / "short.ini");

  TempDir work;
  int converted = 0, refused = 0;
  for (const std::string& file : files) {
    const auto [krunOk, krunText] = ByKrun(file, work);
    const auto [hereOk, hereText] = Here(file);
    EXPECT_EQ(hereOk, krunOk) << file;
    EXPECT_EQ(hereText, krunText) << file;
    ++(krunOk ? converted : refused);
  }
  // The corpus holds both kinds, or the comparison says little.
  EXPECT_GT(converted, 12);
  EXPECT_GT(refused, 100);
}

TEST_F(DecodeHereTest, TheReaderGetsTheSameLinesWithoutStartingKrunAheadOrNot) {
  const std::string a = Binary("a.ini", "[A]\r\nx = 1, 2.5\r\n");
  const std::string b = Binary("b.ini", "[B]\r\ny = z\r\n");
  const auto byKrunA = Lines(a);
  const auto byKrunB = Lines(b);
  ASSERT_EQ(Runs(), 2);
  StopConvertingAhead();  // and the run's folder that krun's runs held
  const int before = OpenDescriptors();
  DecodeInProcess(true);
  ConvertAhead(b);  // decoded on the converting thread
  EXPECT_EQ(Lines(a), byKrunA);
  EXPECT_EQ(Lines(b), byKrunB);
  EXPECT_EQ(Runs(), 2);
  ExpectNothingLeft(before);
}

TEST_F(DecodeHereTest, AFileKrunWouldRefuseRaisesTheConverterError) {
  const std::string bad = data_ / "bad.ini";
  WriteFile(bad, std::string("KRUN\x02\0\0\0", 8));
  DecodeInProcess(true);
  cFile f;
  try {
    f.FileName(bad);
    ADD_FAILURE() << "opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number, errKrunFailed);
  }
  EXPECT_EQ(Runs(), 0);
}

}  // namespace
}  // namespace ketch
