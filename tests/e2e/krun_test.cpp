// End-to-end tests of krun: the real program on files made here, compared byte
// for byte (output file, standard output, exit status, standard input taken),
// and the binary writer's files given back by it as the text they came from.
#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KrunWriter.h"
#include "Process.h"
#include "TestUtil.h"

namespace krun {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using ketch::test::ReadFile;
using ketch::test::WriteFile;
using KrunRun = ketch::test::RunResult;

// Runs krun in folder dir. Standard input is stdinFd when given, otherwise
// "xy", of which the run reports how much it took: a pause after an error
// reads one character. A krun that waits on its input fails the test, not
// hangs it.
KrunRun RunKrun(const std::vector<std::string>& args, const fs::path& dir, int stdinFd = -1) {
  std::vector<std::string> argv{KETCH_PROGRAM_DIR "/krun"};
  argv.insert(argv.end(), args.begin(), args.end());
  return ketch::test::Run({.argv = argv, .dir = dir, .input = "xy", .inputFd = stdinFd, .timeout = 20});
}

// The text krun wrote beside its input, or a note that it wrote none.
std::string Output(const fs::path& input) {
  const std::string path = input.string() + ".txt";
  return fs::exists(path) ? ReadFile(path) : "<no output>";
}

const std::string kBanner = "Vandrel INI uncompressor\n\n";
const std::string kEcho = "K R U N\n";

std::string Le(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> 8 * i & 0xFF));
  return out;
}

// A file with the given records and string table and a T that fits them.
std::string File(const std::string& records, const std::string& table) {
  return "KRUN" + Le(1, 4) + Le(static_cast<std::uint32_t>(12 + records.size()), 4) + records +
         table;
}
std::string Section(std::uint16_t name, std::uint16_t entries) { return Le(name, 2) + Le(entries, 2); }
std::string Entry(std::uint16_t name, std::uint8_t values) { return Le(name, 2) + Le(values, 1); }
std::string Value(std::uint8_t type, std::uint32_t data) { return Le(type, 1) + Le(data, 4); }

class Krun : public ::testing::Test {
 protected:
  fs::path Put(const std::string& bytes, const std::string& name = "data.ini") {
    WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  KrunRun Run(const fs::path& input) { return RunKrun({input.string()}, dir_.Path()); }

  ketch::test::TempDir dir_;
  const fs::path folder_ = dir_.Path();
};

TEST_F(Krun, WritesEachLayoutCaseByteForByte) {
  struct Case {
    const char* name;
    BinaryIni ini;
    std::string text;
    std::string bytes = {};  // the file, when not the encoding of ini
  };
  BinaryEntry many{"many", {}};
  std::string line = "many = ";
  for (int i = 0; i < 255; ++i) {
    many.values.push_back(BinaryValue::Integer(i));
    line += std::to_string(i) + (i < 254 ? ", " : "\r\n");
  }
  const std::vector<Case> cases = {
      {"no sections", {}, ""},
      {"the header alone", {}, "", "KRUN" + Le(1, 4) + Le(12, 4)},
      {"an entry with the most values", {{"s", {many}}}, "[s]\r\n" + line + "\r\n"},
      {"section without entries", {{"Empty", {}}}, "[Empty]\r\n\r\n"},
      {"entry without values", {{"s", {{"separable", {}}}}}, "[s]\r\nseparable = true\r\n\r\n"},
      {"one value of each type",
       {{"Ship", {{"name", {BinaryValue::Integer(7), BinaryValue::Float(2.5f),
                            BinaryValue::String("li_gun")}}}}},
       "[Ship]\r\nname = 7, 2.500000, li_gun\r\n\r\n"},
      {"integers at their limits",
       {{"s", {{"i", {BinaryValue::Integer(-1), BinaryValue::Integer(INT32_MIN),
                      BinaryValue::Integer(INT32_MAX), BinaryValue::Integer(0)}}}}},
       "[s]\r\ni = -1, -2147483648, 2147483647, 0\r\n\r\n"},
      {"floats in fixed notation",
       {{"s", {{"f", {BinaryValue::Float(1.5f), BinaryValue::Float(-0.25f),
                      BinaryValue::Float(-0.0f), BinaryValue::Float(1e-7f),
                      BinaryValue::Float(0.1f), BinaryValue::Float(16777216.0f),
                      BinaryValue::Float(0.0000005f)}}}}},
       "[s]\r\nf = 1.500000, -0.250000, -0.000000, 0.000000, 0.100000, 16777216.000000, "
       "0.000000\r\n\r\n"},
      {"largest float and the non-finite ones",
       {{"s", {{"f", {BinaryValue::Float(FLT_MAX), BinaryValue::Raw(2, 0x7F800000),
                      BinaryValue::Raw(2, 0xFF800000), BinaryValue::Raw(2, 0x7FC00000),
                      BinaryValue::Raw(2, 0xFFC00000)}}}}},
       "[s]\r\nf = 340282346638528859811704183484516925440.000000, inf, -inf, nan, "
       "-nan\r\n\r\n"},
      {"strings as they stand",
       {{"s", {{"t", {BinaryValue::String("a b"), BinaryValue::String(""),
                      BinaryValue::String("x=y;z")}}}}},
       "[s]\r\nt = a b, , x=y;z\r\n\r\n"},
      {"sections and entries in file order",
       {{"B", {{"z", {BinaryValue::Integer(1)}}, {"a", {}}}}, {"A", {}}, {"B", {}}},
       "[B]\r\nz = 1\r\na = true\r\n\r\n[A]\r\n\r\n[B]\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path input = Put(c.bytes.empty() ? EncodeBinaryIni(c.ini) : c.bytes);
    const KrunRun run = Run(input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + kEcho);
    EXPECT_EQ(run.inputTaken, 0) << "a successful run must not pause";
    EXPECT_EQ(Output(input), c.text);
  }
}

TEST_F(Krun, RefusesFilesThatAreNotVersionOneKrun) {
  struct Case {
    const char* name;
    std::string bytes;
    int status;
    std::string out;
  };
  const std::string notKrun = "Error: this doesn't appear to be a Vandrel compressed INI\n";
  const std::string version = "Error: this doesn't appear to be a Vandrel compressed INI (2)\n";
  const std::vector<Case> cases = {
      {"other magic", "KRUX" + Le(1, 4) + Le(12, 4), 3, "K R U X\n" + notKrun},
      {"lower-case magic", "krun" + Le(1, 4) + Le(12, 4), 3, "k r u n\n" + notKrun},
      {"shorter than the magic", "KR", 3, "K R    \n" + notKrun},
      {"empty file", "", 3, "       \n" + notKrun},
      {"version 2", "KRUN" + Le(2, 4) + Le(12, 4), 4, kEcho + version},
      {"version 0x100", "KRUN" + Le(0x100, 4) + Le(12, 4), 4, kEcho + version},
      {"version cut short", "KRUN" + Le(1, 2), 4, kEcho + version},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path input = Put(c.bytes);
    const KrunRun run = Run(input);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, kBanner + c.out);
    EXPECT_EQ(run.inputTaken, 1) << "an error message is followed by the pause";
    EXPECT_FALSE(fs::exists(input.string() + ".txt"));
  }
}

TEST_F(Krun, UnrecognizedTypeKeepsTheTextBeforeItUnlessAnInconsistencyComesFirst) {
  struct Case {
    const char* name;
    BinaryIni ini;
    std::string message;
    std::string text;
  };
  const auto i = BinaryValue::Integer;
  const auto raw = BinaryValue::Raw;
  const std::vector<Case> cases = {
      {"type 4 in a second value",
       {{"S", {{"a", {i(1)}}, {"b", {i(5), raw(4, 0)}}, {"c", {i(2)}}}}},
       "Unrecognized type 4 at 32\n",
       "[S]\r\na = 1\r\nb = 5, "},
      {"type 0 in a first value",
       {{"A", {}}, {"S", {{"b", {raw(0, 0), i(1)}}}}},
       "Unrecognized type 0 at 23\n",
       "[A]\r\n\r\n[S]\r\nb = "},
      {"type 255", {{"S", {{"b", {raw(255, 0)}}}}}, "Unrecognized type 255 at 19\n", "[S]\r\nb = "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = EncodeBinaryIni(c.ini);
    const fs::path input = Put(bytes);
    const KrunRun run = Run(input);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, kBanner + kEcho + c.message);
    EXPECT_EQ(run.inputTaken, 1);
    EXPECT_EQ(Output(input), c.text);
    EXPECT_EQ(ReadFile(input), bytes);
  }
  const std::string s = "s\0"s;
  // The type byte comes first: the partial text is written, as for any bad type.
  const fs::path typeFirst =
      Put(File(Section(0, 2) + Entry(0, 1) + Value(9, 0) + Entry(40, 0), s), "a.ini");
  EXPECT_EQ(Run(typeFirst).status, 255);
  EXPECT_EQ(Output(typeFirst), "[s]\r\ns = ");
  // The broken record comes first: nothing is written.
  const fs::path faultFirst =
      Put(File(Section(0, 2) + Entry(40, 0) + Entry(0, 1) + Value(9, 0), s), "b.ini");
  EXPECT_EQ(Run(faultFirst).status, 6);
  EXPECT_FALSE(fs::exists(faultFirst.string() + ".txt"));
}

TEST_F(Krun, InconsistentFilesAreReportedWithoutOutput) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string message;
  };
  const std::string s = "s\0"s;
  const std::string sab = "s\0ab"s;
  const std::vector<Case> cases = {
      {"header cut after the version", "KRUN" + Le(1, 4), "file ends inside the header at offset 8"},
      {"table offset inside the header", "KRUN" + Le(1, 4) + Le(11, 4),
       "string table offset lies inside the header at offset 8"},
      {"table offset beyond the end", "KRUN" + Le(1, 4) + Le(13, 4),
       "string table offset lies beyond the end of the file at offset 8"},
      {"section record cut by the table", File(Le(0, 2), s),
       "section record runs past the string table at offset 12"},
      {"entry record cut by the table", File(Section(0, 1) + Le(0, 2), s),
       "entry record runs past the string table at offset 16"},
      {"value record cut by the table", File(Section(0, 1) + Entry(0, 1) + Le(1, 1) + Le(7, 3), s),
       "value record runs past the string table at offset 19"},
      {"entry count beyond the records", File(Section(0, 2) + Entry(0, 0), s),
       "entry record runs past the string table at offset 19"},
      {"section name just past the table", File(Section(2, 0), s),
       "section name offset lies outside the string table at offset 12"},
      {"section name with an empty table", File(Section(0, 0), ""),
       "section name offset lies outside the string table at offset 12"},
      {"entry name outside", File(Section(0, 1) + Entry(0xFFFF, 0), s),
       "entry name offset lies outside the string table at offset 16"},
      {"string just past the table", File(Section(0, 1) + Entry(0, 1) + Value(3, 2), s),
       "string offset lies outside the string table at offset 19"},
      {"string far outside", File(Section(0, 1) + Entry(0, 1) + Value(3, 0xFFFFFFFF), s),
       "string offset lies outside the string table at offset 19"},
      {"section name without zero", File(Section(2, 0), sab),
       "section name has no terminating zero at offset 12"},
      {"entry name without zero", File(Section(0, 1) + Entry(3, 0), sab),
       "entry name has no terminating zero at offset 16"},
      {"string without zero", File(Section(0, 1) + Entry(0, 1) + Value(3, 2), sab),
       "string has no terminating zero at offset 19"},
      {"fault after good records",
       File(Section(0, 1) + Entry(0, 1) + Value(1, 5) + Section(0, 1) + Entry(9, 0), s),
       "entry name offset lies outside the string table at offset 28"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path input = Put(c.bytes);
    const KrunRun run = Run(input);
    EXPECT_EQ(run.status, 6);
    EXPECT_EQ(run.out, kBanner + kEcho + "Error: inconsistent compressed INI: " + c.message + "\n");
    EXPECT_EQ(run.inputTaken, 1);
    EXPECT_FALSE(fs::exists(input.string() + ".txt"));
    EXPECT_EQ(ReadFile(input), c.bytes);
  }
}

TEST_F(Krun, AnEarlierOutputIsReplacedOrRemovedAndOneBehindALinkEmptied) {
  const fs::path good = Put(EncodeBinaryIni({{"s", {}}}), "good.ini");
  WriteFile(good.string() + ".txt", std::string(1000, 'x'));
  EXPECT_EQ(Run(good).status, 0);
  EXPECT_EQ(Output(good), "[s]\r\n\r\n");
  // Good records first, so that some text had been written when the fault shows.
  const fs::path bad = Put(
      File(Section(0, 2) + Entry(0, 1) + Value(3, 0) + std::string(200, '\0') + Entry(7, 0), "s\0"s), "bad.ini");
  WriteFile(bad.string() + ".txt", "earlier text\r\n");
  EXPECT_EQ(Run(bad).status, 6);
  EXPECT_FALSE(fs::exists(bad.string() + ".txt"));

  const fs::path linked = Put(File(Section(0, 1) + Entry(0, 1) + Value(1, 1) + Section(9, 0), "s\0"s), "linked.ini");
  const fs::path elsewhere = folder_ / "elsewhere.txt";
  WriteFile(elsewhere, "earlier text\r\n");
  fs::create_symlink(elsewhere, linked.string() + ".txt");
  EXPECT_EQ(Run(linked).status, 6);
  EXPECT_FALSE(fs::exists(fs::symlink_status(linked.string() + ".txt")));
  EXPECT_EQ(ReadFile(elsewhere), "");
}

TEST_F(Krun, CommandLineAndFileErrorsAndPathsLongerThanTwoHundredCharacters) {
  const std::string good = EncodeBinaryIni({{"s", {}}});
  {
    SCOPED_TRACE("no argument");
    const KrunRun run = RunKrun({}, folder_);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Usage is: krun \n");
    EXPECT_EQ(run.inputTaken, 1);
  }
  {
    SCOPED_TRACE("further arguments are ignored");
    const fs::path input = Put(good);
    const KrunRun run = RunKrun({input.string(), "more", "args"}, folder_);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Output(input), "[s]\r\n\r\n");
  }
  {
    SCOPED_TRACE("relative path, output beside it");
    Put(good, "rel.ini");
    EXPECT_EQ(RunKrun({"rel.ini"}, folder_).status, 0);
    EXPECT_TRUE(fs::exists(folder_ / "rel.ini.txt"));
  }
  for (const fs::path& missing : {folder_ / "missing.ini", folder_}) {
    SCOPED_TRACE("input cannot be read: " + missing.string());
    const KrunRun run = Run(missing);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, kBanner + "Error opening file " + missing.string() + "\n");
    EXPECT_EQ(run.inputTaken, 1);
  }
  {
    SCOPED_TRACE("output name is taken by a folder");
    const fs::path input = Put(good, "f.ini");
    fs::create_directory(input.string() + ".txt");
    const KrunRun run = Run(input);
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.out, kBanner + kEcho + "Error: Cannot open output file " + input.string() + ".txt\n");
    EXPECT_EQ(run.inputTaken, 1);
  }
  // Paths longer than two hundred characters.
  fs::path folder = folder_;
  for (int i = 0; i < 6; ++i) folder /= std::string(100, static_cast<char>('a' + i));
  fs::create_directories(folder);
  const fs::path input = folder / (std::string(150, 'n') + ".ini");
  ASSERT_GT(input.string().size(), 750u);
  WriteFile(input, EncodeBinaryIni({{"s", {}}}));
  const KrunRun run = Run(input);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Output(input), "[s]\r\n\r\n");
}

TEST_F(Krun, AnOutputThatCannotBeWrittenSparesTheInputAndLeavesNothing) {
  const std::string bytes = EncodeBinaryIni({{"s", {{"a", {BinaryValue::Integer(1)}}}}});
  const fs::path input = Put(bytes, "self.ini");
  fs::create_symlink(input, input.string() + ".txt");
  EXPECT_EQ(Run(input).status, 5);
  EXPECT_EQ(ReadFile(input), bytes);

  if (!fs::exists("/dev/full")) return;
  const fs::path full = Put(EncodeBinaryIni({{"s", {}}}), "full.ini");
  fs::create_symlink("/dev/full", full.string() + ".txt");
  const KrunRun run = Run(full);
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.out, kBanner + kEcho + "Error: Cannot write output file " + full.string() + ".txt\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(full.string() + ".txt")));
}

TEST_F(Krun, ThePauseWaitsNeitherOnAnIdlePipeNorAtTheEndOfInput) {
  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  // The write end stays open: a blocking read would never return.
  EXPECT_EQ(RunKrun({}, folder_, in[0]).status, 1);
  close(in[0]);
  close(in[1]);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(null, 0);
  EXPECT_EQ(RunKrun({(folder_ / "missing").string()}, folder_, null).status, 2);
  close(null);
}

TEST(KrunWriter, KrunGivesBackTheTextTheWriterWasGiven) {
  const std::vector<std::string> texts = {
      "",
      "[Empty]\r\n\r\n",
      "[Ship]\r\nname = 7, 2.500000, li_gun\r\nseparable = true\r\n\r\n",
      "[a]\r\nx = -2147483648, -0.000000, 007, 2.5, , a b\r\nlabel = \r\n\r\n[a]\r\n\r\n[b]\r\n"
      "y = 340282346638528859811704183484516925440.000000, 0.000001\r\n\r\n",
  };
  ketch::test::TempDir dir;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(texts[i]);
    const fs::path input = dir / ("case" + std::to_string(i) + ".ini");
    WriteBinaryIniFile(input, texts[i]);
    ASSERT_EQ(RunKrun({input.string()}, dir.Path()).status, 0);
    EXPECT_EQ(Output(input), texts[i]);
  }
}

}  // namespace
}  // namespace krun
