// The analyser without a window, for scripts and CI:
//   ketch [--game DIR] [--log DIR] [--overwrite 0|1|2] [COMMAND ...]
// The options set the settings as typing into the window's boxes would; what
// the log box would show goes to standard output.
#pragma once

namespace ketch {

// Exit statuses of the program.
enum ExitStatus {
  exitNormal = 0,
  exitUsage = 1,
  exitFatal = 2,         // start-up or settings failure
  exitEnded = 3,         // the program ended itself after an error report
  exitAllRefused = 4,    // all refused because init failed earlier in the run
};

// Runs headless with the program's arguments; returns the exit status.
int RunHeadless(int argc, char** argv);

}  // namespace ketch
