// The progress hooks and the stop request: process-wide, set by the window.
#include "shell/Progress.h"

namespace ketch {
namespace {

ProgressHooks& Hooks() {
  static ProgressHooks hooks;
  return hooks;
}

bool stopRequested = false;

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
bool StopRequested() { return stopRequested; }

}  // namespace ketch
