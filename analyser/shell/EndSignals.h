// SIGTERM and SIGINT during a run that reads files end it as its Cancel
// does: at the next file boundary, the files read whole committed, exit
// status 128 + the signal. At any other time, or asked a second time, they
// end the program at once, as they always did (no file is then half stored:
// the store's transactions hold whole files only).
#pragma once

namespace ketch {

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

}  // namespace ketch
