// The findings window joined to the commands: while All or Check runs from
// the window, each finding goes to the list (path relative to the game
// folder), the readers' progress to the bar, Cancel and Escape to the stop
// request; a row opens its place through the PlaceOpener; Check on chosen
// files runs beside the loaded run, so that All works after it as before;
// Learn runs with the same bar and Cancel, its summary in the log box.
#pragma once

#include <QString>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "shell/app/OpenAtLine.h"

namespace ketch {

class frmMain;
class frmFindings;

class FindingsWiring {
 public:
  // Wraps the main window's All (wired before, WireCommands) and gives both
  // windows their findings hooks. Both windows outlive this object.
  FindingsWiring(frmMain& main, frmFindings& list, PlaceOpener::Launcher launch,
                 PlaceOpener::DesktopOpener desktop);
  ~FindingsWiring();  // unsets the hooks it set
  FindingsWiring(const FindingsWiring&) = delete;
  FindingsWiring& operator=(const FindingsWiring&) = delete;

  PlaceOpener& Opener() { return opener_; }

  // Check on these files, with the findings in the list, as the window's
  // Check button does (not while another command runs).
  void Check(const std::vector<std::string>& files);
  // Learn from the game's files into KETCH.MDB, as the window's Learn button
  // does (not while another command runs). The outcome line tells whether it
  // wrote; a failure is said under the list, and logged.
  void Learn(bool fresh);
  // Asks the running command to stop after the file being read.
  void Cancel();

 private:
  // Runs command with the list, the bar and Cancel hooked to it.
  void Watched(const char* what, const std::function<void()>& command);

  frmMain& main_;
  frmFindings& list_;
  PlaceOpener opener_;
  std::function<void()> all_;
  bool cancelled_ = false;
  // The line a run ends with, when its command has a better one than the
  // count of files read.
  QString outcome_;
  // Files known and done, upper-cased: a file may be named twice.
  std::set<std::string> known_, done_;
};

// Starts a program detached, without a shell; the launcher of the window.
bool LaunchDetached(const std::string& program, const std::vector<std::string>& args);
// Opens a file with the desktop's opener.
bool OpenWithDesktop(const std::string& file);

}  // namespace ketch
