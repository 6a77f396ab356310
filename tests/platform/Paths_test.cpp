#include "platform/Paths.h"
#include "platform/Text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "TestUtil.h"
#include "platform/Error.h"

namespace ketch {
namespace {

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::WriteFile(dir_ / "Game/EXE/Vandrel.INI", "x"); }
  test::TempDir dir_;
};

TEST_F(PathsTest, BackslashesAndLetterCaseAreMappedOnlyWhereNeeded) {
  const std::string real = dir_ / "Game/EXE/Vandrel.INI";
  EXPECT_EQ(ResolvePath(real), real);
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\Game\\EXE\\Vandrel.INI"), real);
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\game\\exe\\vandrel.ini"), real);
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\GAME\\\\Exe\\VANDREL.ini"), real);
}

TEST_F(PathsTest, AnExactSpellingWinsOverAnotherCase) {
  test::WriteFile(dir_ / "Game/exe/vandrel.ini", "lower");
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\Game\\exe\\vandrel.ini"), dir_ / "Game/exe/vandrel.ini");
}

TEST_F(PathsTest, MissingPartsStayAsSpelled) {
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\game\\NoSuch\\file.ini"), dir_ / "Game/NoSuch/file.ini");
  EXPECT_FALSE(FileExists(dir_.Path() + "\\game\\NoSuch\\file.ini"));
  EXPECT_TRUE(FileExists(dir_.Path() + "\\game\\exe\\vandrel.ini"));
  EXPECT_FALSE(FileExists(dir_.Path() + "\\game\\exe"));  // a folder is no file
}

TEST_F(PathsTest, OpenPathOpensWhatResolvePathNamesAndSaysWhatItTried) {
  const std::string real = dir_ / "Game/EXE/Vandrel.INI";
  std::string file;
  for (const std::string& spelled : {real, dir_.Path() + "\\game\\exe\\vandrel.ini"}) {
    const int fd = OpenPath(spelled, O_RDONLY | O_CLOEXEC, file);
    ASSERT_GE(fd, 0) << spelled;
    char c = 0;
    EXPECT_EQ(read(fd, &c, 1), 1);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(file, real);
    close(fd);
  }
  errno = 0;
  EXPECT_EQ(OpenPath(dir_.Path() + "\\game\\NoSuch\\file.ini", O_RDONLY, file), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(file, dir_ / "Game/NoSuch/file.ini");
  EXPECT_EQ(OpenPath(real + "/below", O_RDONLY, file), -1);
  EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(PathsTest, RelativeAndClimbingPathsKeepTheirMeaning) {
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\game\\exe\\..\\EXE\\vandrel.ini"),
            dir_ / "Game/EXE/../EXE/Vandrel.INI");
  EXPECT_EQ(ResolvePath(""), "");
}

TEST_F(PathsTest, DeleteFileReportsWhatIsMissing) {
  auto number = [](const std::string& path) {
    try {
      DeleteFile(path);
    } catch (const Error& e) {
      return e.Number;
    }
    return 0;
  };
  EXPECT_EQ(number(dir_.Path() + "\\game\\exe\\VANDREL.ini"), 0);
  EXPECT_FALSE(FileExists(dir_ / "Game/EXE/Vandrel.INI"));
  EXPECT_EQ(number(dir_ / "Game/EXE/Vandrel.INI"), 53);
  EXPECT_EQ(number(dir_ / "Nowhere/x.ini"), 76);
}

TEST_F(PathsTest, CodePage1252NamesFindTheirUtf8FilesOnDisk) {
  test::WriteFile(dir_ / "Jeux \xC3\xA9t\xC3\xA9/DATA/x.ini", "x");  // UTF-8 on disk
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\Jeux \xE9t\xE9\\data\\X.INI"),
            dir_ / "Jeux \xC3\xA9t\xC3\xA9/DATA/x.ini");
  EXPECT_EQ(ResolvePath(dir_.Path() + "\\JEUX \xC9T\xC9\\data\\x.ini"),
            dir_ / "Jeux \xC3\xA9t\xC3\xA9/DATA/x.ini");
}

TEST(CaseFolding, CodePage1252Letters) {
  EXPECT_EQ(UpperCase("ship_Arch\xE9\xFF\x9A"), "SHIP_ARCH\xC9\x9F\x8A");
  EXPECT_EQ(LowerCase("SHIP_ARCH\xC9\x9F\x8A\xD7"), "ship_arch\xE9\xFF\x9A\xD7");
  EXPECT_EQ(UpperCase("\xF7\xDF"), "\xF7\xDF");  // division sign and sharp s stay
}

}  // namespace
}  // namespace ketch
