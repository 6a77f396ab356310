// The folders conversions leave in the temporary folder: one that an
// earlier, ended run left (no process holds its lock) goes at the next
// conversion; one a running process holds, or one just made, stays; the run
// leaves none of its own.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "ReliabilityFixture.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;

class TempFolders : public test::ReliabilityFixture {
 protected:
  // A folder as a run leaves it, with a copy of a game file, written `age` ago.
  std::string Leftover(const std::string& name, std::chrono::seconds age) {
    const std::string folder = tmp_.Path() + "/" + name;
    fs::create_directories(folder + "/AbCdEf");
    test::WriteFile(folder + "/AbCdEf/packed.ini", "KRUN");
    fs::last_write_time(folder, fs::file_time_type::clock::now() - age);
    return folder;
  }
  std::vector<std::string> Left() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(tmp_.Path())) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  test::TempTmpDir tmp_;
};

TEST_F(TempFolders, AnEndedRunsFolderIsRemovedAndAHeldOrYoungOneStays) {
  GameFile("EXE/vandrel.ini", test::CrLf({"[Data]", "ships = packed.ini"}));
  BinaryGameFile("DATA/packed.ini", "[Ship]\nnickname = packed\n\n");
  const auto old = std::chrono::seconds(600);
  Leftover("ketch-krun-ended1", old);
  Leftover("ketch-krun-ended2", old);
  const std::string held = Leftover("ketch-krun-held", old);
  Leftover("ketch-krun-young", std::chrono::seconds(0));
  Leftover("other-old", old);  // not a run's folder
  // This process stands for a run still converting.
  const int fd = open(held.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);

  const auto r = Checked({"init", "all"}, 10);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values]"), std::vector<std::string>{"packed"});
  EXPECT_EQ(Left(), (std::vector<std::string>{"ketch-krun-held", "ketch-krun-young", "other-old"}));
  EXPECT_TRUE(fs::exists(held + "/AbCdEf/packed.ini"));

  // Once its run has ended, the next run removes it.
  close(fd);
  EXPECT_EQ(Checked({"init", "all"}, 10).status, 0);
  EXPECT_EQ(Left(), (std::vector<std::string>{"ketch-krun-young", "other-old"}));
}

}  // namespace
}  // namespace ketch
