// Tests of the converter launch: exit statuses, arguments that reach the
// program intact, the child's standard streams, descriptors and signals, and a
// wait that survives interruptions.
#include "ini/mShell.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "KrunWriter.h"
#include "TestUtil.h"

namespace ketch {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kSh = "/bin/sh";
const std::string kKrun = std::string(KETCH_PROGRAM_DIR) + "/krun";

TEST(mShell, ReturnsTheExitStatusOrMinusOneAndDoesNotWaitOnAPause) {
  const struct {
    const char* name;
    std::vector<std::string> argv;
    int32_t status;
  } cases[] = {
      {"zero", {kSh, "-c", "exit 0"}, 0},
      {"seven", {kSh, "-c", "exit 7"}, 7},
      {"krun -1", {kSh, "-c", "exit 255"}, 255},
      {"killed", {kSh, "-c", "kill -9 $$"}, -1},
      {"not found", {"/nonexistent/krun"}, -1},
      {"not a program", {"/dev/null"}, -1},
      {"nothing", {}, -1},
      // krun without an argument prints its usage and then reads a character.
      {"krun pausing after its usage", {kKrun}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(RunAndWait(c.argv), c.status) << c.name;
}

TEST(mShell, ArgumentsReachTheProgramIntact) {
  TempDir dir;
  const std::string arg = "a b  'c' \"d\" $HOME $(false) `false`; rm -rf x & | > < * ? \\ \t end ";
  const std::string out = dir / "out";
  EXPECT_EQ(RunAndWait({kSh, "-c", "printf '%s|%s' \"$1\" \"$#\" > \"$2\"", "sh", arg, out}), 0);
  EXPECT_EQ(ReadFile(out), arg + "|2");

  // The converter itself, on a file whose path is full of shell characters.
  const std::string path = dir / "x \"$y\"; z'.ini";
  WriteFile(path, krun::TextToBinaryIni("[S]\r\na = 1\r\n\r\n"));
  EXPECT_EQ(RunAndWait({kKrun, path}), 0);
  EXPECT_EQ(ReadFile(path + ".txt"), "[S]\r\na = 1\r\n\r\n");
}

TEST(mShell, TheChildHasDevNullStreamsAndInheritsNoDescriptorAndNoIgnoredSignal) {
  TempDir dir;
  // Opened without close-on-exec, as a library might.
  const int held = open((dir / "held").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(held, 3);
  const std::string out = dir / "out";
  const std::string script =
      "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2); "
      "printf '%s\\n' \"$streams\" > \"$1\"; "
      "if [ -e /proc/$$/fd/" + std::to_string(held) + " ]; then echo leaked >> \"$1\"; fi";
  EXPECT_EQ(RunAndWait({kSh, "-c", script, "sh", out}), 0);
  close(held);
  EXPECT_EQ(ReadFile(out), "/dev/null\n/dev/null\n/dev/null\n");
  // An ignored signal is not passed on.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  const std::string signals = dir / "signals";
  const int32_t status = RunAndWait({kSh, "-c", "grep SigIgn /proc/$$/status > \"$1\"", "sh", signals});
  sigaction(SIGPIPE, &old, nullptr);
  ASSERT_EQ(status, 0);
  const std::string line = ReadFile(signals);
  ASSERT_EQ(line.rfind("SigIgn:\t", 0), 0u) << line;
  const unsigned long long mask = std::stoull(line.substr(8), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << line;
}

void OnAlarm(int) {}

TEST(mShell, WaitSurvivesInterruptions) {
  struct sigaction alarm {}, old {};
  alarm.sa_handler = OnAlarm;  // no SA_RESTART: waitpid fails with EINTR
  sigaction(SIGALRM, &alarm, &old);
  itimerval every{{0, 20000}, {0, 20000}};
  setitimer(ITIMER_REAL, &every, nullptr);
  const int32_t status = RunAndWait({kSh, "-c", "sleep 0.3; exit 5"});
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(status, 5);
}

}  // namespace
}  // namespace ketch
