// The commands of the main window: Init DB, All and Dump. The buttons and the
// headless mode call the same functions; the window adds nothing to them.
#pragma once

namespace ketch {

// Builds a fresh data database and, when that worked, loads the rule base.
// Returns true when the data database was made (All is then enabled).
bool cmdInitDB();

// Runs the whole analysis: the configuration walk, the further files, and the
// files named by stored values, after the header when Overwrite is ticked.
void cmdAll();

// Writes the rule listing into the log, after the header when the Overwrite
// box is ticked.
void cmdDumpRules();

}  // namespace ketch
