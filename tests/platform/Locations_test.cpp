// Where the program keeps its files: its own folder when it may write there
// and holds a KETCH.MDB (or no copy is supplied under share/), else the user's
// folder, seeded once from the supplied copy.
#include "platform/Locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "ErrorOf.h"
#include "TestUtil.h"
#include "platform/App.h"
#include "platform/Error.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object (unset: nullopt).
class Env {
 public:
  Env(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~Env() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

mode_t Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class LocationsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(bin_); }
  void TearDown() override { App::SetPath(""); }

  // An installed tree: prefix/bin without KETCH.MDB, prefix/share/ketch/KETCH.MDB read-only.
  void Installed() {
    fs::create_directories(dir_ / "share/ketch");
    test::WriteFile(supplied_, "supplied rules");
    chmod(supplied_.c_str(), 0444);
    App::SetPath(bin_);
  }

  test::TempDir dir_;
  std::string bin_ = dir_ / "bin";
  std::string supplied_ = dir_ / "share/ketch/KETCH.MDB";
  std::string home_ = dir_ / "home";
  Env xdg_{"XDG_DATA_HOME", std::nullopt};
  Env home_env_{"HOME", home_};
};

TEST_F(LocationsTest, AWritableProgramFolderKeepsEverythingBesideTheProgram) {
  test::WriteFile(bin_ + "/KETCH.MDB", "rules");
  App::SetPath(bin_);
  EXPECT_TRUE(Locations::InProgramFolder());
  EXPECT_EQ(Locations::DataFolder(), bin_);
  EXPECT_EQ(Locations::SettingsDB(), bin_ + "\\KETCH.MDB");
  EXPECT_EQ(Locations::PrepareSettingsDB(), bin_ + "\\KETCH.MDB");
  EXPECT_EQ(Locations::SuppliedSettingsDB(), bin_ + "/KETCH.MDB");
  EXPECT_EQ(Locations::LogFolder(""), bin_);
  EXPECT_EQ(Locations::LogFolder("/elsewhere"), "/elsewhere");
  EXPECT_FALSE(fs::exists(home_)) << "nothing is made in the user's folder";
  // A share/ copy beside does not move a folder that has its own KETCH.MDB.
  Installed();
  EXPECT_TRUE(Locations::InProgramFolder());
  // A missing KETCH.MDB without a share/ copy stays the program folder's:
  // opening it then fails as it always did.
  fs::remove_all(dir_ / "share");
  fs::remove(bin_ + "/KETCH.MDB");
  EXPECT_TRUE(Locations::InProgramFolder());
}

TEST_F(LocationsTest, AnInstalledProgramWorksOnTheUsersCopyMadeOnceFromTheSuppliedOne) {
  Installed();
  const std::string user = home_ + "/.local/share/ketch";
  EXPECT_FALSE(Locations::InProgramFolder());
  EXPECT_EQ(Locations::SuppliedSettingsDB(), supplied_);
  EXPECT_EQ(Locations::DataFolder(), user);
  EXPECT_EQ(Locations::LogFolder(""), user) << "never the root folder";
  EXPECT_EQ(Locations::PrepareSettingsDB(), user + "\\KETCH.MDB");
  EXPECT_EQ(test::ReadFile(user + "/KETCH.MDB"), "supplied rules");
  EXPECT_EQ(Mode(user + "/KETCH.MDB"), 0644u) << "the user's copy must be writable";
  EXPECT_EQ(Mode(supplied_), 0444u);
  EXPECT_EQ(std::distance(fs::directory_iterator(user), fs::directory_iterator()), 1) << "no temporary left";
  // The user's settings are theirs: a later start does not copy again.
  test::WriteFile(user + "/KETCH.MDB", "the user's settings");
  EXPECT_EQ(Locations::PrepareSettingsDB(), user + "\\KETCH.MDB");
  EXPECT_EQ(test::ReadFile(user + "/KETCH.MDB"), "the user's settings");
}

TEST_F(LocationsTest, TheUsersFolderFollowsXdgDataHomeThenHomeThenThePasswdEntry) {
  Installed();
  {
    Env xdg("XDG_DATA_HOME", dir_ / "xdg");
    EXPECT_EQ(Locations::DataFolder(), dir_ / "xdg/ketch");
  }
  {
    // A relative XDG_DATA_HOME is to be ignored.
    Env xdg("XDG_DATA_HOME", "relative");
    EXPECT_EQ(Locations::DataFolder(), home_ + "/.local/share/ketch");
  }
  Env noHome("HOME", std::nullopt);
  const std::string folder = Locations::UserFolder();
  EXPECT_EQ(folder.rfind("/", 0), 0u);
  EXPECT_TRUE(folder.size() > std::string("/.local/share/ketch").size() &&
              folder.substr(folder.size() - 19) == "/.local/share/ketch")
      << folder;
}

TEST_F(LocationsTest, AUsersCopyThatCannotBeMadeIsAnErrorNotAnEmptyDatabase) {
  Installed();
  // HOME is a plain file: no folder can be made below it, whoever runs the test.
  test::WriteFile(home_, "x");
  EXPECT_EQ(ErrorOf([] { Locations::PrepareSettingsDB(); }), errPathNotFound);
  // No supplied copy either: file not found, with its path.
  fs::remove(home_);
  chmod(supplied_.c_str(), 0644);
  fs::remove(supplied_);
  fs::remove(bin_ + "/KETCH.MDB");
  // Without share/ the program folder is used again; with an empty share/ketch
  // and a read-only bin/ an installed program has nothing to copy.
  if (geteuid() != 0) {
    chmod(bin_.c_str(), 0555);
    Error e = RaisedBy([] { Locations::PrepareSettingsDB(); });
    EXPECT_EQ(e.Number, errFileNotFound);
    EXPECT_NE(e.Description.find("KETCH.MDB"), std::string::npos) << e.Description;
    chmod(bin_.c_str(), 0755);
  }
}

}  // namespace
}  // namespace ketch
