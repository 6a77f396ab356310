// The progress hooks and the stop request: process-wide, set by the window.
#include "shell/Progress.h"

#include <atomic>

namespace ketch {
namespace {

ProgressHooks& Hooks() {
  static ProgressHooks hooks;
  return hooks;
}

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

}  // namespace

void SetProgressHooks(ProgressHooks hooks) { Hooks() = std::move(hooks); }

void ReportFileKnown(const std::string& path) {
  if (Hooks().FileKnown) Hooks().FileKnown(path);
}

void ReportFileDone(const std::string& path) {
  if (Hooks().FileDone) Hooks().FileDone(path);
}

void ReportPass(const std::string& pass) {
  if (Hooks().Pass) Hooks().Pass(pass);
}

void RequestStop() { stopRequested = true; }
void ClearStop() { stopRequested = false; }
bool StopRequested() { return stopRequested || stopSignal != 0; }

void RequestStopBySignal(int signo) { stopSignal = signo; }
int StopSignal() { return stopSignal; }

}  // namespace ketch
