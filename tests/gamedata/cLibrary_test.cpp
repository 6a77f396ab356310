#include "gamedata/cLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ErrorOf.h"
#include "TestUtil.h"
#include "platform/App.h"

namespace ketch {
namespace {

using test::OpenDescriptors;

// A minimal PE image: the DOS header with its "MZ" and the offset of the PE
// signature, the signature, and padding for a file header.
std::string MinimalPe(uint32_t peOffset = 0x80, size_t size = 0x200) {
  std::string bytes(size, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(peOffset >> (8 * i));
  if (peOffset + 4 <= size) bytes.replace(peOffset, 4, std::string("PE\0\0", 4));
  return bytes;
}

bool Mapped(const std::string& path) {
  return test::ReadFile("/proc/self/maps").find(path) != std::string::npos;
}

class LibraryTest : public ::testing::Test {
 protected:
  Error LoadFails(cLibrary& lib, const std::string& name) {
    return RaisedBy([&] { lib.FileName(name); });
  }
  test::TempDir dir_;
};

TEST_F(LibraryTest, LoadsAPeImageAgainUnderTheSameNameAndUnloadsWithAnEmptyName) {
  std::string dll = dir_ / "res.dll";
  test::WriteFile(dll, MinimalPe());
  int fds = OpenDescriptors();
  cLibrary lib;
  lib.FileName(dll);
  EXPECT_EQ(lib.FileName(), dll);
  EXPECT_NE(lib.hModule(), 0u);
  EXPECT_EQ(lib.ImageSize(), 0x200u);
  EXPECT_TRUE(Mapped(dll));
  EXPECT_EQ(OpenDescriptors(), fds);  // the mapping holds no descriptor
  lib.FileName(dll);  // the same name again loads again, mapped once
  EXPECT_NE(lib.hModule(), 0u);
  const std::string maps = test::ReadFile("/proc/self/maps");
  EXPECT_EQ(maps.find(dll, maps.find(dll) + 1), std::string::npos) << "mapped twice";
  lib.FileName("");
  EXPECT_EQ(lib.FileName(), "");
  EXPECT_EQ(lib.hModule(), 0u);
  EXPECT_FALSE(Mapped(dll));
}

TEST_F(LibraryTest, WindowsStylePathsOpen) {
  test::WriteFile(dir_ / "DLLs/Res.dll", MinimalPe());
  cLibrary lib;
  lib.FileName(dir_.Path() + "\\dlls\\res.DLL");
  EXPECT_NE(lib.hModule(), 0u);
}

TEST_F(LibraryTest, FailuresCarryTheSystemTextAndKeepTheName) {
  std::string text = dir_ / "notes.txt";
  test::WriteFile(text, std::string(300, 'x'));
  test::WriteFile(dir_ / "badoffset.dll", MinimalPe(0x1F0 + 0x20));
  test::WriteFile(dir_ / "short.dll", "MZ");
  test::WriteFile(dir_ / "empty.dll", "");
  struct Case {
    std::string name;
    const char* text;
  } cases[] = {
      {dir_ / "missing.dll", "No such file or directory"},
      {text, "Exec format error"},
      {dir_ / "badoffset.dll", "Exec format error"},
      {dir_ / "short.dll", "Exec format error"},
      {dir_ / "empty.dll", "Exec format error"},
      {dir_.Path(), "Is a directory"},
  };
  int fds = OpenDescriptors();
  for (const auto& c : cases) {
    cLibrary lib;
    Error e = LoadFails(lib, c.name);
    EXPECT_EQ(e.Number, -2147220455) << c.name;
    EXPECT_EQ(e.Source, App::EXEName() + ".cLibrary");
    EXPECT_EQ(e.Description, c.text) << c.name;
    EXPECT_EQ(lib.FileName(), c.name);
    EXPECT_EQ(lib.hModule(), 0u);
  }
  EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(LibraryTest, AFailedLoadAfterAGoodOneAndDestructionUnmap) {
  std::string dll = dir_ / "res.dll";
  test::WriteFile(dll, MinimalPe());
  cLibrary lib;
  lib.FileName(dll);
  EXPECT_NE(LoadFails(lib, dir_ / "missing.dll").Number, 0);
  EXPECT_FALSE(Mapped(dll));
  EXPECT_EQ(lib.hModule(), 0u);
  lib.FileName("");
  EXPECT_EQ(lib.FileName(), "");
  {
    cLibrary other;
    other.FileName(dll);
    EXPECT_TRUE(Mapped(dll));
  }
  EXPECT_FALSE(Mapped(dll));
  cLibrary empty;  // destroying an empty object touches nothing
}

}  // namespace
}  // namespace ketch
