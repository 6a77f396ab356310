// Opening a finding's place: the editor command for each kind of editor, the
// file name kept as one argument whatever it holds, the converted text of a
// binary file (made once, gone with the opener), and a missing file's
// naming line.
#include "shell/app/OpenAtLine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "KrunWriter.h"
#include "TestUtil.h"
#include "shell/mError.h"

namespace ketch {
namespace {

using Args = std::vector<std::string>;

TEST(EditorCommand, EachKnownEditorGetsTheLineItsWayAndAnUnknownOneTheFileAlone) {
  const std::string f = "/g/DATA/a b;$(rm x).ini";  // one argument, never read by a shell
  struct Case {
    const char* editor;
    const char* program;
    Args args;
  } cases[] = {
      {"vim", "vim", {"+12", f}},
      {"/usr/bin/nvim", "/usr/bin/nvim", {"+12", f}},
      {"emacsclient -n", "emacsclient", {"-n", "+12", f}},
      {"nano", "nano", {"+12", f}},
      {"kate", "kate", {"--line", "12", f}},
      {"code --reuse-window", "code", {"--reuse-window", "-g", f + ":12"}},
      {"subl", "subl", {f + ":12"}},
      {"leafpad", "leafpad", {f}},
      {"'/opt/my editor/ed' --at={line} {file}", "/opt/my editor/ed", {"--at=12", f}},
      {"\"/opt/a \\\"b\\\"\" -x\\ y", "/opt/a \"b\"", {"-x y", f}},
  };
  for (const Case& c : cases) {
    const OpenCommand command = EditorCommand(c.editor, f, 12);
    EXPECT_EQ(command.program, c.program) << c.editor;
    EXPECT_EQ(command.args, c.args) << c.editor;
  }
  // No line: the file alone; no editor: the desktop's opener.
  EXPECT_EQ(EditorCommand("vim", f, 0).args, Args{f});
  EXPECT_EQ(EditorCommand("  ", f, 3).program, "");
  // A terminal editor runs in the terminal when there is one; others do not.
  const OpenCommand vi = EditorCommand("vi", f, 5, "/usr/bin/x-terminal-emulator");
  EXPECT_EQ(vi.program, "/usr/bin/x-terminal-emulator");
  EXPECT_EQ(vi.args, (Args{"-e", "vi", "+5", f}));
  EXPECT_EQ(EditorCommand("kate", f, 5, "/usr/bin/x-terminal-emulator").program, "kate");
}

class PlaceOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEndHook([](int) { std::abort(); });
    test::WriteFile(dir_ / "game/DATA/Text.ini", "[Ship]\r\nnickname = a\r\n");
    krun::WriteBinaryIniFile(dir_ / "game/DATA/bin.ini", "[Ship]\nnickname = b\nmass = 7\n");
    unsetenv("VISUAL");
    setenv("EDITOR", "vim", 1);
  }
  void TearDown() override {
    unsetenv("EDITOR");
    SetEndHook(nullptr);
  }
  Finding At(const std::string& file, int line) {
    Finding f;
    f.File = file;
    f.Line = line;
    return f;
  }
  test::TempDir dir_;
  std::vector<std::pair<std::string, Args>> launched_;
  std::vector<std::string> desktop_;
  PlaceOpener::Launcher launch_ = [this](const std::string& p, const Args& a) {
    launched_.emplace_back(p, a);
    return true;
  };
  PlaceOpener::DesktopOpener desktop_open_ = [this](const std::string& f) {
    desktop_.push_back(f);
    return true;
  };
};

TEST_F(PlaceOpenerTest, ATextFileOpensAsItIsOnDiskAtItsLineInTheUsersEditor) {
  PlaceOpener opener(launch_, desktop_open_);
  // A game path: backslashes, any letter case.
  EXPECT_EQ(opener.Open(At(dir_ / "game\\data\\TEXT.INI", 2)), "");
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].first, "vim");
  EXPECT_EQ(launched_[0].second, (Args{"+2", dir_ / "game/DATA/Text.ini"}));

  // The setting goes before $EDITOR; without either the desktop opens the file.
  opener.Editor("kate");
  opener.Open(At(dir_ / "game\\DATA\\Text.ini", 1));
  EXPECT_EQ(launched_.back().first, "kate");
  opener.Editor("");
  unsetenv("EDITOR");
  opener.Open(At(dir_ / "game\\DATA\\Text.ini", 1));
  EXPECT_EQ(desktop_, Args{dir_ / "game/DATA/Text.ini"});

  EXPECT_NE(opener.Open(At(dir_ / "game\\DATA\\gone.ini", 1)), "");  // says why
}

TEST_F(PlaceOpenerTest, ABinaryFileOpensAsItsConvertedTextWhichGoesWithTheOpener) {
  std::string text;
  {
    PlaceOpener opener(launch_, desktop_open_);
    EXPECT_EQ(opener.Open(At(dir_ / "game\\DATA\\bin.ini", 3)), "");
    ASSERT_EQ(launched_.size(), 1u);
    text = launched_[0].second.at(1);
    EXPECT_EQ(launched_[0].second[0], "+3");
    EXPECT_TRUE(text.ends_with("/bin.ini.txt")) << text;
    EXPECT_EQ(test::ReadFile(text), "[Ship]\r\nnickname = b\r\nmass = 7\r\n\r\n");  // krun's text
    // Made once.
    opener.Open(At(dir_ / "game\\DATA\\bin.ini", 2));
    EXPECT_EQ(launched_[1].second.at(1), text);
  }
  EXPECT_FALSE(std::filesystem::exists(text));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(text).parent_path().parent_path()));
}

TEST_F(PlaceOpenerTest, AMissingFileOpensTheLineThatNamedIt) {
  PlaceOpener opener(launch_, desktop_open_);
  Finding f = At(dir_ / "game\\DATA\\missing.ini", 0);
  f.Code = errCouldNotOpenReferredFile;
  f.Named = true;
  f.NamedIn = dir_ / "game\\DATA\\Text.ini";
  f.NamedLine = 2;
  EXPECT_EQ(opener.Open(f), "");
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].second, (Args{"+2", dir_ / "game/DATA/Text.ini"}));
  // Named by a built-in list: nothing to open, and it says so.
  f.NamedIn = "N/A";
  EXPECT_NE(opener.Open(f), "");
  EXPECT_EQ(launched_.size(), 1u);
}

}  // namespace
}  // namespace ketch
