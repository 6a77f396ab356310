// How far a run is, and a request to stop it, for a window that shows the
// one and offers the other. The readers report each file they know they will
// read and each file read whole; the loops over files ask StopRequested
// before the next file, so that a stop never leaves a file half stored.
// Nothing is reported while no hooks are set (headless).
#pragma once

#include <functional>
#include <string>

namespace ketch {

struct ProgressHooks {
  // A file that will be read (a game path as logged; may come again).
  std::function<void(const std::string& path)> FileKnown;
  // A file that was read to its end, or found missing.
  std::function<void(const std::string& path)> FileDone;
  // The pass now running ("Configuration walk", ...).
  std::function<void(const std::string& pass)> Pass;
};
void SetProgressHooks(ProgressHooks hooks);

void ReportFileKnown(const std::string& path);
void ReportFileDone(const std::string& path);
void ReportPass(const std::string& pass);

// Asks the running command to stop before its next file; ClearStop takes the
// request back (each command starts clear). Safe from any thread.
void RequestStop();
void ClearStop();
bool StopRequested();

// A signal that asked the run to stop (SIGTERM, SIGINT): the stop holds for
// the rest of the program, which then ends with 128 + StopSignal().
void RequestStopBySignal(int signo);
int StopSignal();  // 0 when none did

}  // namespace ketch
