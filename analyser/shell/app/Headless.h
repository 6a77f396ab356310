// The analyser without a window, for scripts and CI:
//   ketch [--game DIR] [--log DIR] [--overwrite 0|1|2] [FINDINGS OPTIONS] [COMMAND ...]
//   ketch check [--log DIR] [--format text|gcc|json] [FINDINGS OPTIONS] PATH...
// The options set the settings as typing into the window's boxes would; what
// the log box would show goes to standard output. check stores nothing and
// changes no setting; its standard output is its findings.
#pragma once

namespace ketch {

// Runs headless with the program's arguments; returns the exit status (an
// ExitStatus of mError.h).
int RunHeadless(int argc, char** argv);

}  // namespace ketch
