// The one way tests run a program: its arguments, environment, folder and
// standard input as the test says, both outputs captured, and its end (exit
// status or signal) reported; started and waited for at once (Run) or left
// running while the test acts on it (Child).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace ketch::test {

struct Command {
  std::vector<std::string> argv;  // argv[0]: a path, or a name looked up in PATH
  // "NAME=value" sets a variable, "NAME" alone removes it; the rest is inherited.
  std::vector<std::string> env = {};
  std::string dir = {};                // working folder; empty: the test's
  std::string input = {};              // the bytes on standard input
  int inputFd = -1;                    // or this descriptor as standard input
  std::function<void()> prepare = {};  // runs in the child just before the program
  double timeout = 0;                  // seconds until the program is killed; 0: never
};

struct RunResult {
  int status = -1;  // exit status; -N when signal N ended it; 127 when it did not start
  std::string out;
  std::string err;
  off_t inputTaken = 0;  // bytes of `input` the program read
};

// A running program; killed, if still running, when the object goes.
class Child {
 public:
  explicit Child(const Command& command);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // What it wrote so far.
  std::string Out() const;
  std::string Err() const;
  void Kill(int signal);
  // Waits for its end (killing it once the timeout is over).
  RunResult Wait();

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1, in_ = -1;
  double timeout_ = 0;
};

// The environment of a program that must run without a display.
inline const std::vector<std::string> kNoDisplay = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};

inline RunResult Run(const Command& command) { return Child(command).Wait(); }

}  // namespace ketch::test
