// How the program ends when something other than its own error reports ends
// it. SIGTERM and SIGINT during a run that reads files end it as its Cancel
// does: at the next file boundary, the files read whole committed, exit
// status 128 + the signal. At any other time, or asked a second time, they
// end the program at once, as they always did (no file is then half stored:
// the store's transactions hold whole files only).
#pragma once

#include <exception>
#include <string>

namespace ketch {

// Exit status 128 + N: all or check stopped by signal N before its next file.

// Takes the two signals away from every thread but a watching one. Call from
// main before any other thread starts; the children the program forks get
// them back.
void WatchEndSignals();

// While one lives, the two signals ask the run to stop (StopSignal in
// shell/Progress) instead of ending the process.
class StopOnEndSignals {
 public:
  StopOnEndSignals();
  ~StopOnEndSignals();
  StopOnEndSignals(const StopOnEndSignals&) = delete;
  StopOnEndSignals& operator=(const StopOnEndSignals&) = delete;
};

// A failure nobody expected (memory exhaustion among them), caught where the
// stack is already unwound: reported as an error of the context and the
// program ended (EndProgram, status 3), so that the files read whole are kept.
[[noreturn]] void EndOnException(std::exception_ptr failure, const std::string& context);
// From now on an exception that reaches std::terminate on the calling thread
// ends the program the same way; on another thread it aborts, as before,
// since the store is the calling thread's.
void EndOnUncaughtExceptions();

}  // namespace ketch
