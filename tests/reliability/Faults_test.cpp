// Faults injected into real runs of ketch: killed in the middle of a run, a
// converter that fails, the log folder taken away, a full disk, a program
// folder and a data file that cannot be changed. Each test asserts what
// survives: the databases' integrity, the settings, whole files' rows only,
// the reports, and every game file.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "ReliabilityFixture.h"

namespace ketch {
namespace {

using test::CrLf;

class Faults : public test::ReliabilityFixture {
 protected:
  void TearDown() override {
    for (const auto& path : immutable_) SetImmutable(path, false);
  }

  // A game of n files (ManyFiles) and settings that differ from what the
  // runs are given on their command line; the settings as stored.
  std::string ManyFilesAndOldSettings(int n) {
    ManyFiles(n);
    GameFile("EXE/vandrel.ini", "");
    Sql("KETCH.MDB", "UPDATE _bc_Settings SET VDPath='C:\\old', LogPath='C:\\oldlog', OverwriteLog=2");
    return SettingsRow();
  }
  std::string SettingsRow() { return One("KETCH.MDB", "SELECT VDPath, LogPath, OverwriteLog FROM _bc_Settings"); }
  // After a run cut short: both databases whole, the settings unchanged, only whole files stored.
  void ExpectWhole(const std::string& settings) {
    EXPECT_EQ(One("KETCH.MDB", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(SettingsRow(), settings);
    ExpectWholeFilesOnly();
  }

  // The rows of VD.MDB are those of whole files of ManyFiles: two sections of
  // three lines and seven values each.
  void ExpectWholeFilesOnly() {
    EXPECT_EQ(One("VD.MDB", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM (SELECT File FROM Sections GROUP BY File HAVING count(*) <> 2)"), "0");
    EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections s WHERE (SELECT count(*) FROM Entries e WHERE e.Link = s.DB_ID) <> 3"),
              "0");
    EXPECT_EQ(One("VD.MDB", "SELECT count(*) * 7 = (SELECT count(*) FROM [Values]) FROM (SELECT DISTINCT File FROM Sections)"),
              "1");
  }

  // Sets or clears the immutable flag (root may not change such a file or
  // folder either); false when the file system does not support it.
  bool SetImmutable(const std::string& path, bool on) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    if (ok && on) immutable_.push_back(path);
    return ok;
  }

  // A converter that waits for the file "go" in the program folder before it
  // converts, so that a test can act while a run is in a known place.
  void GatedConverter() {
    std::filesystem::rename(bin_ + "/krun", bin_ + "/krun.real");
    test::WriteFile(bin_ + "/krun", "#!/bin/sh\nd=$(dirname \"$0\")\nwhile [ ! -e \"$d/go\" ]; do sleep 0.01; done\n"
                                    "exec \"$d/krun.real\" \"$@\"\n");
    std::filesystem::permissions(bin_ + "/krun", std::filesystem::perms::owner_all);
  }

  // Every file of `before` is in `after` with the same bytes (the database
  // engine may leave empty companions of a file it could only read).
  static void ExpectSame(const std::map<std::string, uint64_t>& before, const std::map<std::string, uint64_t>& after) {
    for (const auto& [file, sum] : before) {
      auto it = after.find(file);
      EXPECT_TRUE(it != after.end() && it->second == sum) << file;
    }
  }

  std::vector<std::string> immutable_;
};

TEST_F(Faults, KilledInTheMiddleOfARun) {
  const std::string settings = ManyFilesAndOldSettings(3000);
  const auto before = test::TreeSums(game_);
  auto run = Start({"init", "all"});
  ASSERT_TRUE(LogShows("\\f1000.ini\r\n", 60)) << run->Err();
  run->Kill(SIGKILL);
  ASSERT_EQ(run->Wait().status, -SIGKILL);
  ExpectWhole(settings);
  // Files are committed in small groups soon after they are done: nearly all
  // of those read before the kill are kept.
  const int stored = std::stoi(One("VD.MDB", "SELECT count(DISTINCT File) FROM Sections"));
  EXPECT_GE(stored, 900);
  EXPECT_LT(stored, 3000);
  ExpectIntact(before);

  auto r = Checked({"init", "all"}, 60);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "6000");
  ExpectWholeFilesOnly();
}

TEST_F(Faults, AConverterThatFailsEndsTheRunWithTheReadersError) {
  struct Case {
    const char* what;
    const char* script;  // null: no converter at all
  } cases[] = {{"exits with 1", "#!/bin/sh\nexit 1\n"},
               {"killed by a signal", "#!/bin/sh\nkill -KILL $$\n"},
               {"writes half and fails", "#!/bin/sh\nprintf '[Ship]\\r\\nnick' > \"$1.txt\"\nexit 2\n"},
               {"missing", nullptr}};
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = first.ini", "goods = packed.ini", "stars = never.ini"}));
  GameFile("DATA/first.ini", CrLf({"[Ship]", "nickname = first"}));
  BinaryGameFile("DATA/packed.ini", "[Ship]\nnickname = packed\n\n");
  GameFile("DATA/never.ini", CrLf({"[Ship]", "nickname = never"}));
  for (const Case& c : cases) {
    std::filesystem::remove(bin_ + "/krun");
    if (c.script) {
      test::WriteFile(bin_ + "/krun", c.script);
      std::filesystem::permissions(bin_ + "/krun", std::filesystem::perms::owner_all);
    }
    auto r = Checked({"init", "all"}, 30);
    EXPECT_EQ(r.status, 3) << c.what;
    EXPECT_NE(Log().find(CrLf({"    Processing " + game_ + "\\DATA\\packed.ini", "Error : KRUN finished with error",
                               "Number: -2147220480", "Source: ketch.cFile", "ReadINIFile"})),
              std::string::npos)
        << c.what << "\n" << Log();
    EXPECT_EQ(Log().find("never.ini\r\n"), std::string::npos) << c.what;
    EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values]"), std::vector<std::string>{"first"}) << c.what;
    EXPECT_EQ(One("VD.MDB", "PRAGMA integrity_check"), "ok");
    EXPECT_FALSE(std::filesystem::exists(game_ + "/DATA/packed.ini.txt")) << c.what;
  }
}

TEST_F(Faults, TheLogFolderRemovedInTheMiddleOfARun) {
  GatedConverter();
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = first.ini", "goods = packed.ini", "stars = last.ini"}));
  GameFile("DATA/first.ini", CrLf({"[Ship]", "nickname = first"}));
  BinaryGameFile("DATA/packed.ini", "[Ship]\nnickname = packed\n\n");
  GameFile("DATA/last.ini", CrLf({"[Ship]", "nickname = last", "hit = 1"}));
  const auto before = test::TreeSums(game_);
  auto run = Start({"init", "all"});
  ASSERT_TRUE(LogShows("packed.ini\r\n", 30));
  std::filesystem::remove_all(log_);
  test::WriteFile(bin_ + "/go", "");
  const auto r = run->Wait();
  // The run ends normally; the status tells that the log lost lines.
  EXPECT_EQ(r.status, 6) << r.err;

  // Every later message reaches the box (standard output) as a failure record.
  const std::string& out = r.out;
  const std::string failure = "*******  Unable to log message in file " + log_ + "\\ketch.log\n" +
                              "         Error numb:76\n         Error desc:Path not found\n" +
                              "         Error src :ketch\n";
  EXPECT_NE(out.find(failure), std::string::npos) << out;
  EXPECT_GE(test::Count(out, failure), 4u);  // the last file's lines, its warning, the passes
  EXPECT_FALSE(std::filesystem::exists(log_));
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] ORDER BY DB_ID"),
            (std::vector<std::string>{"first", "packed", "last"}));
  ExpectIntact(before);
}

TEST_F(Faults, AFullDiskIsReportedAndTheDatabasesStayWhole) {
  const std::string settings = ManyFilesAndOldSettings(400);
  const auto before = test::TreeSums(game_);
  // No file of the run may grow past 256 KiB; SIGXFSZ ignored, writes fail with EFBIG.
  const auto full = Start({"init", "all"}, [] {
                     signal(SIGXFSZ, SIG_IGN);
                     struct rlimit limit = {256 * 1024, 256 * 1024};
                     setrlimit(RLIMIT_FSIZE, &limit);
                   })->Wait();
  EXPECT_EQ(full.status, 3) << full.err;
  const std::string log = Log();
  // SQLite's report of the failed write, under the operation that met it.
  const size_t report = log.find("\r\nError : disk I/O error");
  ASSERT_NE(report, std::string::npos) << log.substr(log.size() > 800 ? log.size() - 800 : 0);
  const std::string tail = log.substr(report);
  bool named = false;
  for (const char* context : {"ReadINIFile", "DoSection", "ReadOtherINIs", "ReadINIFromValues"})
    named = named || tail.ends_with(std::string("\r\nSource: SQLite\r\n") + context + "\r\n");
  EXPECT_TRUE(named) << tail;
  ExpectWhole(settings);
  EXPECT_LT(std::stoi(One("VD.MDB", "SELECT count(DISTINCT File) FROM Sections")), 400);
  ExpectIntact(before);

  auto r = Checked({"init", "all"}, 60);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "800");
}

TEST_F(Faults, AnUndeletableDataFileAndAReadOnlyProgramFolderRefuseAll) {
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = s.ini"}));
  GameFile("DATA/s.ini", CrLf({"[Ship]", "nickname = s"}));
  ASSERT_EQ(Ketch({"init", "all"}).status, 0);
  const std::string links = One("KETCH.MDB", "SELECT count(*) FROM sqlite_schema");
  const auto program = test::TreeSums(bin_);
  if (!SetImmutable(bin_ + "/VD.MDB", true))
    GTEST_SKIP() << "this file system has no immutable flag, which even root must respect";

  const std::string refused = "ketch: 'all' refused: 'init' failed (see the log)\n";
  std::filesystem::remove(log_ + "/ketch.log");
  auto r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, refused);
  EXPECT_NE(Log().find("\r\nUnable to delete " + bin_ + "\\VD.MDB\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("Processing"), std::string::npos);
  ExpectSame(program, test::TreeSums(bin_));
  EXPECT_EQ(One("KETCH.MDB", "SELECT count(*) FROM sqlite_schema"), links);
  SetImmutable(bin_ + "/VD.MDB", false);

  // The folder itself unchangeable, as an installed program's: the run works
  // on the user's own copy of KETCH.MDB, and the program folder stays as it is.
  ASSERT_TRUE(SetImmutable(bin_, true));
  std::filesystem::remove(log_ + "/ketch.log");
  r = Checked({"init", "all"}, 30);
  SetImmutable(bin_, false);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string user = userData_ + "/ketch";
  EXPECT_NE(r.out.find("Initialising DATA database: " + user + "\\VD.MDB\n"), std::string::npos) << r.out;
  EXPECT_EQ(test::Rows(user + "/VD.MDB", "SELECT Value FROM [Values]"), (std::vector<std::string>{"s"}));
  EXPECT_EQ(test::One(user + "/KETCH.MDB", "SELECT count(*) FROM _bc_values"),
            One("KETCH.MDB", "SELECT count(*) FROM _bc_values"));
  ExpectSame(program, test::TreeSums(bin_));
}

}  // namespace
}  // namespace ketch
