// Sub Main: the program with its window, and the wiring of the window's
// buttons to the commands.
#pragma once

namespace ketch {

class frmMain;

// Opens the main window on the settings of KETCH.MDB in the program folder
// and runs it until it closes; returns the window system's exit status.
int SubMain(int argc, char** argv);

// Gives the window's buttons the commands Init DB, All and Dump.
void WireCommands(frmMain& window);

}  // namespace ketch
