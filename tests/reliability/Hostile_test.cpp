// The analyser on game folders that hold what is no data file where a data
// file is named (a FIFO without a writer, a socket, a link to an endless
// device, a loop of links), a file that grows while it is read and a line
// without end. Each run must end by itself within seconds, with a finding
// against the naming line, and store every other file.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ReliabilityFixture.h"

namespace ketch {
namespace {

using test::CrLf;

class Hostile : public test::ReliabilityFixture {
 protected:
  // A game whose [Data] names `bad` between two good files.
  void BetweenGoodFiles(const std::string& bad) {
    GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = before.ini", "goods = " + bad, "stars = after.ini"}));
    GameFile("DATA/before.ini", CrLf({"[Ship]", "nickname = before"}));
    GameFile("DATA/after.ini", CrLf({"[Ship]", "nickname = after"}));
  }
  test::RunResult Check(std::vector<std::string> paths) {
    paths.insert(paths.begin(), {bin_ + "/ketch", "check"});
    return test::Run({.argv = paths, .env = test::kNoDisplay, .timeout = 20});
  }
  void ExpectSkippedAndOthersStored(const test::RunResult& r, const std::string& bad) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Log().find("      10306 - Could not open referred file !goods!" + bad + "!\r\n"), std::string::npos)
        << Log();
    EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] ORDER BY DB_ID"),
              (std::vector<std::string>{"before", "after"}));
    EXPECT_NE(Log().find("Done Reading files for value ID 872"), std::string::npos);
  }
};

TEST_F(Hostile, WhatIsNoRegularFileIsWarnedAboutLikeAFolder) {
  const std::string data = game_ + "/DATA/";
  std::filesystem::create_directories(data);
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
  };
  const Case cases[] = {
      {"fifo.ini", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
      {"zero.ini", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); }},
      {"loop.ini", [](const std::string& p) { std::filesystem::create_symlink("loop.ini", p); }},
      {"sock.ini",
       [](const std::string& p) {
         const int s = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un a{};
         a.sun_family = AF_UNIX;
         ASSERT_LT(p.size(), sizeof a.sun_path);
         p.copy(a.sun_path, p.size());
         ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
         close(s);  // the socket file stays
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(data + c.name);
    BetweenGoodFiles(c.name);
    auto r = Checked({"init", "all"}, 10);
    ExpectSkippedAndOthersStored(r, c.name);
    // As the other-INI list names it (read through the converting thread's queue as well).
    SetOtherINIs({c.name});
    GameFile("EXE/vandrel.ini", "");
    r = Checked({"init", "all"}, 10);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Log().find("      10306 - Could not open referred file !N/A!" + std::string(c.name) + "!\r\n"),
              std::string::npos)
        << Log();
    SetOtherINIs({});
    // check names it on its command line, and decodes inside the program.
    r = Check({data + c.name, data + "after.ini"});
    if (std::string(c.name) == "loop.ini") {
      // Its command line takes a loop of links for a missing path.
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("no such file or folder"), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.out.find("10306"), std::string::npos) << r.out;
    }
    std::filesystem::remove(data + c.name);
  }
}

TEST_F(Hostile, AFileGrowingWhileReadIsReadAsLongAsItWasWhenOpened) {
  BetweenGoodFiles("grow.ini");
  const std::string grow = game_ + "/DATA/grow.ini";
  test::WriteFile(grow, CrLf({"[Ship]", "nickname = first"}));
  // The writer starts when the file is first opened and appends sections far
  // faster than they can be stored, for at most 20 s.
  const int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, grow.c_str(), IN_OPEN), 0);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> written{0};
  std::thread writer([&] {
    char event[sizeof(inotify_event) + 256];
    if (read(watch, event, sizeof event) <= 0) return;
    const int fd = open(grow.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    std::string chunk;
    for (int i = 0; i < 2000; ++i) chunk += "[Ship]\r\nnickname = late\r\n";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop && std::chrono::steady_clock::now() < end && written < (512u << 20)) {
      if (write(fd, chunk.data(), chunk.size()) > 0) written += chunk.size();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    close(fd);
  });
  // Every file but the growing one keeps its bytes.
  auto before = test::TreeSums(game_);
  before.erase("DATA/grow.ini");
  const auto start = std::chrono::steady_clock::now();
  auto r = Ketch({"init", "all"});
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const uint64_t atEnd = written;
  stop = true;
  writer.join();
  close(watch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(took, 10 * test::kSlowdown);
  EXPECT_GT(atEnd, 0u) << "the writer never wrote";
  const auto late = std::stoull(One("VD.MDB", "SELECT count(*) FROM [Values] WHERE Value = 'late'"));
  EXPECT_LT(late * 26, atEnd);
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] WHERE Value <> 'late' ORDER BY DB_ID"),
            (std::vector<std::string>{"before", "first", "after"}));
  ExpectIntact(before);
}

TEST_F(Hostile, ALineBeyondTheBoundIsAFindingAndTheFileIsReadOn) {
  // 16 MiB and one byte, once with a line end and once to the end of the file.
  const std::string endless((16u << 20) + 1, 'x');
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = long.ini", "goods = bare.ini", "stars = after.ini"}));
  GameFile("DATA/long.ini", "[Ship]\r\nnickname = a\r\n" + endless + "\r\nids_name = 5\r\n");
  GameFile("DATA/bare.ini", CrLf({"[Ship]", "nickname = b"}) + endless);
  GameFile("DATA/after.ini", CrLf({"[Ship]", "nickname = after"}));
  auto r = Checked({"init", "all"}, 20);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string G = game_;
  EXPECT_NE(Log().find(CrLf({"WARN: File " + G + "\\DATA\\long.ini line 3", "      Section [N/A] line 0",
                             "      10307 - Line too long !N/A!16777217 bytes!"})),
            std::string::npos)
      << Log().substr(0, 3000);
  EXPECT_NE(Log().find("WARN: File " + G + "\\DATA\\bare.ini line 3\r\n"), std::string::npos);
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] ORDER BY DB_ID"),
            (std::vector<std::string>{"a", "5", "b", "after"}));

  r = Check({game_ + "/DATA/long.ini"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("long.ini:3: warning: 10307 - Line too long"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace ketch

namespace ketch {
namespace {

// Another program (a user's database browser) holds a database in a
// transaction while ketch runs: a second connection of this test.
class Busy : public test::ReliabilityFixture {
 protected:
  struct Holder {
    sqlite3* db = nullptr;
    void Release() {
      if (db) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      db = nullptr;
    }
    ~Holder() { Release(); }
  };
  // Holds file in a write transaction (BEGIN IMMEDIATE) or a read one.
  void Hold(Holder& h, const std::string& file, bool write) {
    ASSERT_EQ(sqlite3_open_v2((bin_ + "/" + file).c_str(), &h.db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(h.db, 20000);
    ASSERT_EQ(sqlite3_exec(h.db, write ? "BEGIN IMMEDIATE" : "BEGIN; SELECT count(*) FROM sqlite_schema", nullptr,
                           nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(h.db);
  }
  std::string Links() {
    const auto rows = Rows("KETCH.MDB", "SELECT Name, Connect, SourceTable FROM _ketch_Links ORDER BY Name");
    std::string all;
    for (const auto& r : rows) all += r + "\n";
    return all;
  }
  // A run whose waits for a lock end after `wait` seconds.
  test::Command Waiting(std::vector<std::string> args, const char* wait) {
    test::Command c = KetchCommand(std::move(args));
    c.env.push_back(std::string("KETCH_LOCK_WAIT=") + wait);
    c.timeout = 30;
    return c;
  }
  void SmallGame() {
    GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = s.ini"}));
    GameFile("DATA/s.ini", CrLf({"[Ship]", "nickname = s"}));
  }
  // What a run that gave up on file says: the wait, then the report in the
  // log, on the output that shows the log and on standard error.
  void ExpectLockedReported(const test::RunResult& r, const std::string& file) {
    const std::string held = bin_ + "\\" + file;
    // On the output: all, after init, starts the log afresh.
    EXPECT_NE(r.out.find("waiting for " + held + " (locked by another program)\n"), std::string::npos) << r.out;
    const std::string report = "Error : database is locked (by another program): " + held;
    EXPECT_NE(Log().find(report), std::string::npos) << Log();
    EXPECT_NE(r.out.find(report), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("database is locked (by another program): " + held), std::string::npos) << r.err;
    EXPECT_EQ(Log().find("already exists"), std::string::npos) << Log();
  }
  static double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(Busy, DuringInitALockedDatabaseIsWaitedForThenNamedAndTheLinksStayAsTheyWere) {
  SmallGame();
  ASSERT_EQ(Checked({"init", "all"}, 10).status, 0);
  const std::string links = Links();
  ASSERT_EQ(test::Count(links, "\n"), 3u) << links;

  for (const bool write : {true, false}) {
    SCOPED_TRACE(write ? "write transaction" : "read transaction");
    for (const char* file : {"KETCH.MDB", "VD.MDB"}) {
      SCOPED_TRACE(file);
      test::RunResult r;
      double took = 0;
      {
        Holder h;
        Hold(h, file, write);
        const auto start = std::chrono::steady_clock::now();
        r = test::Run(Waiting({"init", "all"}, "0.5"));
        took = Since(start);
      }
      EXPECT_EQ(Links(), links);
      EXPECT_EQ(One("KETCH.MDB", "PRAGMA integrity_check"), "ok");
      // Each wait is bounded: init's, and the settings' at the end.
      EXPECT_LT(took, 8 * test::kSlowdown);
      if (r.status == 0) {
        // A reader that does not keep ketch from its work.
        EXPECT_FALSE(write) << r.err;
        EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "1");
        continue;
      }
      ExpectLockedReported(r, file);
      EXPECT_GE(took, 0.5);
      // 4: all refused; 2 when the settings cannot be saved at the end either.
      EXPECT_TRUE(r.status == 4 || r.status == 2) << r.status << r.err;
      // A later run works.
      EXPECT_EQ(Checked({"init", "all"}, 10).status, 0);
      EXPECT_EQ(Links(), links);
      EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "1");
    }
  }
}

TEST_F(Busy, ALockLetGoOfWithinTheWaitIsTakenAndTheRunGoesOn) {
  SmallGame();
  ASSERT_EQ(Checked({"init", "all"}, 10).status, 0);
  for (const char* file : {"KETCH.MDB", "VD.MDB"}) {
    SCOPED_TRACE(file);
    Holder h;
    Hold(h, file, true);
    test::Child run(Waiting({"init", "all"}, "20"));
    // Let go of once ketch has said that it waits.
    const auto start = std::chrono::steady_clock::now();
    while (Log().find("waiting for") == std::string::npos && Since(start) < 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    h.Release();
    const test::RunResult r = run.Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("waiting for " + bin_ + "\\" + file + " (locked by another program)\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err.find("locked"), std::string::npos) << r.err;
    EXPECT_LT(Since(start), 10 * test::kSlowdown);
    EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "1");
  }
}

TEST_F(Busy, DuringAllAHeldDataDatabaseIsWaitedForThenNamedAndALaterRunWorks) {
  // The converter waits for the file "go", so that the test takes its lock
  // while all is at its first file and no transaction of its own is open.
  std::filesystem::rename(bin_ + "/krun", bin_ + "/krun.real");
  test::WriteFile(bin_ + "/krun", "#!/bin/sh\nd=$(dirname \"$0\")\nwhile [ ! -e \"$d/go\" ]; do sleep 0.01; done\n"
                                  "exec \"$d/krun.real\" \"$@\"\n");
  std::filesystem::permissions(bin_ + "/krun", std::filesystem::perms::owner_all);
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = packed.ini", "goods = s.ini"}));
  BinaryGameFile("DATA/packed.ini", "[Ship]\nnickname = packed\n\n");
  GameFile("DATA/s.ini", CrLf({"[Ship]", "nickname = s"}));
  for (const bool write : {true, false}) {
    SCOPED_TRACE(write ? "write transaction" : "read transaction");
    for (const char* file : {"KETCH.MDB", "VD.MDB"}) {
      SCOPED_TRACE(file);
      std::filesystem::remove(bin_ + "/go");
      std::filesystem::remove(log_ + "/ketch.log");
      test::Child run(Waiting({"init", "all"}, "0.5"));
      const auto start = std::chrono::steady_clock::now();
      while (Log().find("Processing ships packed.ini") == std::string::npos && Since(start) < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      test::RunResult r;
      {
        Holder h;
        Hold(h, file, write);
        test::WriteFile(bin_ + "/go", "");
        r = run.Wait();
      }
      EXPECT_LT(Since(start), 10 * test::kSlowdown);
      EXPECT_EQ(One("VD.MDB", "PRAGMA integrity_check"), "ok");
      if (write && std::string(file) == "VD.MDB") {
        // Nothing can be stored: the run ends after its report.
        ExpectLockedReported(r, file);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "0");
      } else {
        // A reader, or a writer of the settings, which all does not write.
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "2");
      }
      EXPECT_EQ(Checked({"init", "all"}, 10).status, 0);
      EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "2");
    }
  }
}

}  // namespace
}  // namespace ketch
