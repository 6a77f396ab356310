// The progress line: counts of the run, drawn over itself with CR and the
// terminal's erase-line sequence.
#include "shell/app/Progress.h"

#include <unistd.h>

#include <cstdio>

#include "shell/RunCounts.h"

namespace ketch {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

void Write(const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;  // a terminal that went away is no reason to stop the run
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::string ProgressText() {
  const RunCounts& c = Counts();
  int64_t findings = 0;
  for (const auto& [code, n] : c.findings) findings += n;
  const int64_t known = c.filesNamed > c.filesTaken ? c.filesNamed : c.filesTaken;
  std::string pass = c.pass;
  if (c.passId) pass += " " + std::to_string(c.passId);
  char line[200];
  std::snprintf(line, sizeof line, "file %lld of %lld, %s: %lld rows stored, %lld findings",
                static_cast<long long>(c.filesTaken), static_cast<long long>(known),
                pass.empty() ? "starting" : pass.c_str(), static_cast<long long>(c.rowsStored),
                static_cast<long long>(findings));
  return line;
}

void ProgressLine::Tick() {
  if (!on_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < kRedrawEvery) return;
  last_ = now;
  Write("\r\033[K" + ProgressText());
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  Write("\r\033[K");
  shown_ = false;
}

}  // namespace ketch
