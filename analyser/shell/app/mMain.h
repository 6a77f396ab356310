// Sub Main: the program with its window, and the wiring of the window's
// buttons to the commands.
#pragma once

#include <memory>

namespace ketch {

class cSettings;
class frmMain;

// Opens the main window on the settings of KETCH.MDB in the program folder
// and runs it until it closes; returns the window system's exit status.
int SubMain(int argc, char** argv);

// Gives the window's buttons the commands Init DB, All and Dump.
void WireCommands(frmMain& window);

// The normal end of a run with the window, once it has closed: the window's
// hooks go and the settings are saved. A failed save shows the fatal box and
// ends the program.
void EndWindowRun(std::unique_ptr<cSettings> settings);
// The window's event pump: pending events processed, at most a hundred
// times a second however often the engine asks.
void PumpWindowEvents();

}  // namespace ketch
