// The progress line of a headless run on a terminal: one line on standard
// error, redrawn a few times a second, with the files taken of the files
// known so far, the pass under way, the rows stored and the findings. It is
// never drawn when standard error is not a terminal, and the log does not
// change with it.
#pragma once

#include <chrono>
#include <string>

namespace ketch {

// The line's text for the counts of the current run (RunCounts), without
// the terminal's control characters.
std::string ProgressText();

class ProgressLine {
 public:
  // on: draw at all (standard error is a terminal and the run is not quiet).
  explicit ProgressLine(bool on) : on_(on) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Redraws the line when the last drawing is old enough.
  void Tick();
  // Takes the line away, so that other output starts on a clean line.
  void Clear();

 private:
  bool on_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace ketch
