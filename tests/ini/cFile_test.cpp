// Tests of the INI line reader: line splitting and cleaning from memory at
// every block boundary, the repairs with their log lines, push-back, and the
// real file reader on disk, including binary files converted by the real krun.
#include "ini/cFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ErrorOf.h"
#include "KrunWriter.h"
#include "TestUtil.h"
#include "platform/App.h"
#include "LogFixture.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Line {
  std::string text;
  int32_t lineNum;
  bool operator==(const Line&) const = default;
};

void PrintTo(const Line& l, std::ostream* os) { *os << "{\"" << l.text << "\", " << l.lineNum << "}"; }

std::vector<Line> ReadAll(cFile& f) {
  std::vector<Line> lines;
  while (!f.EndOfFile()) {
    std::string text = f.ReadLine();
    lines.push_back({text, f.LineNum()});
  }
  return lines;
}

std::vector<std::string> Texts(const std::vector<Line>& lines) {
  std::vector<std::string> out;
  for (const Line& l : lines) out.push_back(l.text);
  return out;
}

// The chunk sizes put the block boundary before, inside and after every line end.
const size_t kChunks[] = {1, 2, 3, 5, static_cast<size_t>(-1)};

std::vector<std::string> ReadFromMemory(const std::string& bytes, size_t chunk) {
  cFile f;
  f.OpenSource("mem.ini", std::make_unique<MemoryLineSource>(bytes, chunk));
  return Texts(ReadAll(f));
}

struct SplitCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(cFile, LinesEndAtCarriageReturnAndSkipOneFollowingLineFeed) {
  const SplitCase cases[] = {
      {"empty", "", {}},
      {"no end", "a", {"a"}},
      {"cr", "a\rb\r", {"a", "b"}},
      {"crlf", "a\r\nb\r\n", {"a", "b"}},
      {"last without end", "a\r\nb", {"a", "b"}},
      {"lone lf is text", "a\nb\r\n", {"a\nb"}},
      {"lf before cr", "a\n\rb", {"a\n", "b"}},
      {"second lf starts a line", "a\r\n\n", {"a", "\n"}},
      {"cr cr lf", "a\r\r\n", {"a", ""}},
      {"empty lines", "\r\n\r\n\r", {"", "", ""}},
      {"lf cr lf", "\n\r\n", {"\n"}},
      {"crlf then cr", "a\r\n\r", {"a", ""}},
  };
  for (const SplitCase& c : cases) {
    for (size_t chunk : kChunks) {
      EXPECT_EQ(ReadFromMemory(c.bytes, chunk), c.lines) << c.name << ", chunk " << chunk;
    }
  }
}

TEST(cFile, LinesLongerThanTheBlockAreJoined) {
  std::string longLine(1000, 'x');
  std::string bytes = longLine + "\r\n" + "b" + "\r\n" + longLine;
  for (size_t block : {size_t{1}, size_t{7}, size_t{999}, size_t{1000}, size_t{1001}}) {
    LineSplitter s(std::make_unique<MemoryLineSource>(bytes), block);
    std::vector<std::string> got;
    std::string_view line;
    while (s.Next(line)) got.emplace_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{longLine, "b", longLine})) << "block " << block;
    EXPECT_TRUE(s.AtEnd());
  }
}

TEST(cFile, LinesAreCleanedOfTabsCommentsAndOuterBlanks) {
  const std::pair<std::string, std::string> cases[] = {
      {"a = b ; note", "a = b"},
      {"; whole line", ""},
      {" \t \t", ""},
      {"\tkey\t=\tv\t", "key = v"},
      {"a;b;c", "a"},
      {"a = \"x;y\"", "a = \"x"},
      {"  x  ", "x"},
      {"x\t;", "x"},
      {"\xA0x\xA0", "\xA0x\xA0"},  // only the blank is trimmed
      {"x \n", "x \n"},
      {"\v x", "\v x"},
  };
  for (const auto& [raw, clean] : cases) {
    for (size_t chunk : kChunks) {
      EXPECT_EQ(ReadFromMemory(raw + "\r\n", chunk), std::vector<std::string>{clean})
          << "raw \"" << raw << "\", chunk " << chunk;
    }
  }
}

TEST(cFile, CommentAndTabAreFoundAtEveryPositionOfLongLines) {
  // Lines of up to 48 bytes put each mark before, inside and after every
  // sixteen-byte stretch the search takes at once.
  for (size_t size = 1; size <= 48; ++size) {
    for (size_t at = 0; at < size; ++at) {
      std::string text(size, 'x');
      text[at] = ';';
      std::string tabbed(size, 'x');
      tabbed[at] = '\t';
      std::string want = tabbed;
      want[at] = ' ';
      if (at == 0)
        want.erase(0, 1);  // a tab at either end is trimmed
      else if (at == size - 1)
        want.pop_back();
      EXPECT_EQ(ReadFromMemory(text + "\r\n" + tabbed + "\r\n", static_cast<size_t>(-1)),
                (std::vector<std::string>{text.substr(0, at), want}))
          << "size " << size << ", mark at " << at;
    }
  }
}

class cFileLog : public test::LogFixture {
 protected:
  std::vector<std::string> LogLines() { return test::TextLines(LogFile()); }
};

struct RepairCase {
  const char* name;
  std::string line;  // the third line of the file
  std::vector<Line> lines;
  std::vector<std::string> log;
};

TEST_F(cFileLog, MalformedLinesAreRepairedAndLogged) {
  const std::string h = "WARN: File C:\\G\\DATA\\x.ini line 3";
  const RepairCase cases[] = {
      {"bare separable", "separable", {{"separable = true", 3}},
       {h, "      !separable! line found. Changed to !separable = true!"}},
      {"bare offer_missions", "offer_missions", {{"offer_missions = true", 3}},
       {h, "      !offer_missions! line found. Changed to !offer_missions = true!"}},
      {"bare after cleaning", "\tseparable  ; x", {{"separable = true", 3}},
       {h, "      !separable! line found. Changed to !separable = true!"}},
      {"2a", "separable = true = x", {{"separable = true", 3}, {"x", 3}},
       {h, "      !separable = true = x! line found.",
        "      Splited in two lines: !separable = true!x!"}},
      {"2a from tabs", "separable\t=\ttrue\t=\tx", {{"separable = true", 3}, {"x", 3}},
       {h, "      !separable = true = x! line found.",
        "      Splited in two lines: !separable = true!x!"}},
      {"2b", "separable = false = 3", {{"separable = true", 3}, {"false = 3", 3}},
       {h, "      !separable = false = 3! line found.",
        "      Splited in two lines: !separable = true!false = 3!"}},
      {"2b no blank", "separable = a=b", {{"separable = true", 3}, {"a=b", 3}},
       {h, "      !separable = a=b! line found.", "      Splited in two lines: !separable = true!a=b!"}},
      {"3a", "offer_missions = true = y = 1", {{"offer_missions = true", 3}, {"y = 1", 3}},
       {h, "      !offer_missions = true = y = 1! line found.",
        "      Splited in two lines: !offer_missions = true!y = 1!"}},
      {"3b", "offer_missions = a=b", {{"offer_missions = true", 3}, {"a=b", 3}},
       {h, "      !offer_missions = a=b! line found.",
        "      Splited in two lines: !offer_missions = true!a=b!"}},
      {"pushed-back line repaired again", "separable = true = offer_missions",
       {{"separable = true", 3}, {"offer_missions = true", 3}},
       {h, "      !separable = true = offer_missions! line found.",
        "      Splited in two lines: !separable = true!offer_missions!", h,
        "      !offer_missions! line found. Changed to !offer_missions = true!"}},
      {"chain", "separable = separable = true = x",
       {{"separable = true", 3}, {"separable = true", 3}, {"x", 3}},
       {h, "      !separable = separable = true = x! line found.",
        "      Splited in two lines: !separable = true!separable = true = x!", h,
        "      !separable = true = x! line found.",
        "      Splited in two lines: !separable = true!x!"}},
      {"other case untouched", "Separable", {{"Separable", 3}}, {}},
      {"sound value untouched", "separable = true", {{"separable = true", 3}}, {}},
      {"offer untouched", "offer_missions = true", {{"offer_missions = true", 3}}, {}},
      {"no second =", "separable = x y", {{"separable = x y", 3}}, {}},
      {"no blank after =", "separable =true = x", {{"separable =true = x", 3}}, {}},
      {"prefix only", "separables", {{"separables", 3}}, {}},
  };
  for (const RepairCase& c : cases) {
    std::filesystem::remove(dir_ / "ketch.log");
    cFile f;
    f.OpenSource("C:\\G\\DATA\\x.ini",
                 std::make_unique<MemoryLineSource>("[S]\r\na = 1\r\n" + c.line + "\r\nlast"));
    std::vector<Line> want = {{"[S]", 1}, {"a = 1", 2}};
    want.insert(want.end(), c.lines.begin(), c.lines.end());
    want.push_back({"last", 4});
    EXPECT_EQ(ReadAll(f), want) << c.name;
    EXPECT_EQ(LogLines(), c.log) << c.name;
  }
}

TEST_F(cFileLog, BacklineHasOneSlotAndIsCleanedAgainAndARepairAtTheVeryEndKeepsItsRestPending) {
  cFile f;
  f.OpenSource("x.ini", std::make_unique<MemoryLineSource>("a\r\nb\r\n"));
  EXPECT_EQ(f.ReadLine(), "a");
  f.Backline("first");
  f.Backline("\tsecond ; c");
  EXPECT_EQ(f.ReadLine(), "second");
  EXPECT_EQ(f.LineNum(), 1);
  EXPECT_EQ(f.ReadLine(), "b");
  EXPECT_EQ(f.LineNum(), 2);

  // Pushed back after the last line: still given out, and repaired on the way.
  EXPECT_TRUE(f.EndOfFile());
  f.Backline("offer_missions");
  EXPECT_FALSE(f.EndOfFile());
  EXPECT_EQ(f.ReadLine(), "offer_missions = true");
  EXPECT_TRUE(f.EndOfFile());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "WARN: File x.ini line 2",
                            "      !offer_missions! line found. Changed to !offer_missions = true!"}));
  f.OpenSource("x.ini", std::make_unique<MemoryLineSource>("separable = true = last"));
  EXPECT_EQ(f.ReadLine(), "separable = true");
  EXPECT_FALSE(f.EndOfFile());
  EXPECT_EQ(f.ReadLine(), "last");
  EXPECT_TRUE(f.EndOfFile());
  EXPECT_EQ(f.LineNum(), 1);
}

TEST(cFile, ReadingPastTheEndRaisesError62) {
  cFile f;
  f.OpenSource("x.ini", std::make_unique<MemoryLineSource>("a"));
  f.ReadLine();
  EXPECT_EQ(ErrorOf([&] { f.ReadLine(); }), errEndOfFile);
  cFile closed;
  EXPECT_TRUE(closed.EndOfFile());
  EXPECT_THROW(closed.ReadLine(), Error);
}

// Reading files on disk; binary files go through the real krun, and the
// system's temporary folder is a test folder so that leftovers show.
class cFileDisk : public test::LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    App::SetPath(KETCH_PROGRAM_DIR);
  }
  // Nothing but the run's own folder, empty.
  bool TmpIsEmpty() const {
    for (const auto& item : fs::directory_iterator(tmp_.Path()))
      if (item.path().filename().string().rfind("ketch-krun-", 0) != 0 || !fs::is_empty(item.path())) return false;
    return true;
  }

  TempDir data_;
  test::TempTmpDir tmp_;
};

const char* kBinaryText = "[Ship]\r\nname = li_gun\r\nhit_pts = 7, 2.500000\r\nseparable = true\r\n\r\n";
const std::vector<std::string> kConverted = {"[Ship]", "name = li_gun", "hit_pts = 7, 2.500000",
                                             "separable = true", ""};

Error OpenError(cFile& f, const std::string& path) {
  return RaisedBy([&] { f.FileName(path); });
}

TEST_F(cFileDisk, TextFilesAreReadAsTheyAreAlsoEmptyAndAtAWindowsStylePath) {
  App::SetPath(data_.Path());  // no converter here: a conversion would fail
  const std::string path = data_ / "plain.ini";
  WriteFile(path, "[S]\r\n\tk = v ; c\r\nlast");
  cFile f;
  f.FileName(path);
  EXPECT_FALSE(f.IsConverted());
  EXPECT_EQ(f.LineNum(), 0);
  EXPECT_EQ(ReadAll(f), (std::vector<Line>{{"[S]", 1}, {"k = v", 2}, {"last", 3}}));
  EXPECT_EQ(f.FileName(), path);

  WriteFile(data_ / "empty.ini", "");
  f.FileName(data_ / "empty.ini");
  EXPECT_TRUE(f.EndOfFile());
  EXPECT_EQ(f.LineNum(), 0);
  EXPECT_FALSE(f.IsConverted());

  WriteFile(data_ / "DATA/Ships/ship.ini", "a = 1\r\n");
  const std::string windows = data_.Path() + "\\data\\SHIPS\\Ship.INI";
  f.FileName(windows);
  EXPECT_EQ(f.ReadLine(), "a = 1");
  EXPECT_EQ(f.FileName(), windows);
}

TEST_F(cFileDisk, FileLargerThanSeveralBlocksGivesEveryLine) {
  std::string bytes;
  std::vector<std::string> want;
  for (int i = 0; bytes.size() < 3 * LineSplitter::kBlockSize + 100; ++i) {
    std::string text = "key" + std::to_string(i) + " = " + std::string(1 + i % 97, 'v');
    want.push_back(text);
    bytes += text + (i % 3 ? "\r\n" : "\r");
  }
  const std::string path = data_ / "big.ini";
  WriteFile(path, bytes);
  cFile f;
  f.FileName(path);
  EXPECT_EQ(Texts(ReadAll(f)), want);
  EXPECT_EQ(f.LineNum(), static_cast<int32_t>(want.size()));
}

TEST_F(cFileDisk, MissingFileAndMissingFolderRaise53And76) {
  const struct {
    std::string path;
    int32_t number;
  } cases[] = {
      {data_ / "none.ini", errFileNotFound},
      {data_ / "nofolder/none.ini", errPathNotFound},
      {data_.Path() + "\\NoFolder\\none.ini", errPathNotFound},
  };
  for (const auto& c : cases) {
    cFile f;
    Error e = OpenError(f, c.path);
    EXPECT_EQ(e.Number, c.number) << c.path;
    EXPECT_EQ(f.FileName(), c.path);
    EXPECT_TRUE(f.EndOfFile());
  }
  WriteFile(data_ / "file", "x");
  cFile f;
  EXPECT_EQ(OpenError(f, data_ / "file/none.ini").Number, errPathNotFound);
  EXPECT_EQ(OpenError(f, data_.Path()).Number, 75);  // a folder is no file
}

TEST_F(cFileDisk, BinaryFileIsReadThroughTheConverterWhoseTextReopeningLeaves) {
  const std::string path = data_ / "x.ini";
  krun::WriteBinaryIniFile(path, kBinaryText);
  const std::string binary = ReadFile(path);
  {
    cFile f;
    f.FileName(path);
    EXPECT_TRUE(f.IsConverted());
    EXPECT_EQ(f.FileName(), path);
    EXPECT_EQ(f.LineNum(), 0);
    EXPECT_FALSE(fs::exists(path + ".txt"));
    EXPECT_EQ(Texts(ReadAll(f)), kConverted);
    EXPECT_EQ(f.LineNum(), 5);
  }
  EXPECT_FALSE(fs::exists(path + ".txt"));
  EXPECT_EQ(ReadFile(path), binary);
  EXPECT_TRUE(TmpIsEmpty());
  // Reopening leaves the converted text for the next file.
  const std::string a = data_ / "a.ini", b = data_ / "b.ini";
  krun::WriteBinaryIniFile(a, kBinaryText);
  WriteFile(b, "only\r\n");
  cFile f;
  f.FileName(a);
  EXPECT_EQ(f.ReadLine(), "[Ship]");
  f.FileName(b);
  EXPECT_FALSE(f.IsConverted());
  EXPECT_EQ(f.LineNum(), 0);
  EXPECT_EQ(ReadAll(f), (std::vector<Line>{{"only", 1}}));
  f.FileName("");
  EXPECT_EQ(f.FileName(), "");
  EXPECT_TRUE(f.EndOfFile());
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(cFileDisk, APathWithShellCharactersIsConvertedAndTheUsersOwnTextBesideItSurvives) {
  const std::string path = data_ / "a b'\"$HOME;`x`|&<>*?/q \"$(false)\";rm -rf.ini";
  WriteFile(path, krun::TextToBinaryIni(kBinaryText));
  const std::string mine = "my notes\r\nKRUN\0\xff\r\n"s;
  WriteFile(path + ".txt", mine);
  {
    cFile f;
    f.FileName(path);
    EXPECT_EQ(Texts(ReadAll(f)), kConverted);
    EXPECT_EQ(f.FileName(), path);
  }
  EXPECT_EQ(ReadFile(path + ".txt"), mine);
}

TEST_F(cFileDisk, FailedConversionRaisesTheConverterErrorAndLeavesNothing) {
  const std::string badVersion = std::string("KRUN\x02\0\0\0\x0c\0\0\0", 12);
  const std::string badType = krun::EncodeBinaryIni(
      {{"S", {{"a", {krun::BinaryValue::Integer(1), krun::BinaryValue::Raw(4, 0)}}}}});
  const struct {
    const char* name;
    std::string bytes;
    std::string programFolder;
  } cases[] = {
      {"bad version", badVersion, KETCH_PROGRAM_DIR},
      {"unknown value type, partial text", badType, KETCH_PROGRAM_DIR},
      {"text starting with the magic", "KRUNNER = 1\r\n", KETCH_PROGRAM_DIR},
      {"no converter", krun::TextToBinaryIni(kBinaryText), data_.Path()},
  };
  for (const auto& c : cases) {
    const std::string path = data_ / "bad.ini";
    WriteFile(path, c.bytes);
    App::SetPath(c.programFolder);
    cFile f;
    Error e = OpenError(f, path);
    EXPECT_EQ(e.Number, static_cast<int32_t>(0x80040400u)) << c.name;
    EXPECT_EQ(e.Source, App::EXEName() + ".cFile") << c.name;
    EXPECT_EQ(e.Description, "KRUN finished with error") << c.name;
    EXPECT_EQ(f.FileName(), path) << c.name;
    EXPECT_TRUE(f.EndOfFile()) << c.name;
    EXPECT_FALSE(f.IsConverted()) << c.name;
    EXPECT_FALSE(fs::exists(path + ".txt")) << c.name;
    EXPECT_TRUE(TmpIsEmpty()) << c.name;
  }
}

}  // namespace
}  // namespace ketch
