// The commands of the main window: Init DB, All and Dump. The buttons and the
// headless mode call the same functions; the window adds nothing to them.
// Check is the headless mode's own: the checks of All on files named.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ketch {

class cSettings;

// The settings of a run, made the current ones, with the settings database
// they open named (the user's copy made first when needed); ends the program
// when it cannot be made. Both the window and the headless mode start here.
std::unique_ptr<cSettings> StartSettings();

// Builds a fresh data database and, when that worked, loads the rule base.
// Returns true when the data database was made (All is then enabled).
bool cmdInitDB();

// Runs the whole analysis: the configuration walk, the further files, and the
// files named by stored values, after the header when Overwrite is ticked.
void cmdAll();

// Writes the rule listing into the log, after the header when the Overwrite
// box is ticked.
void cmdDumpRules();

// Learns the rules from the game's own files into KETCH.MDB (merged with the
// rules there, or fresh), after the header when Overwrite is ticked; a rule
// base loaded before is loaded again. Returns the exit status: normal, or
// why nothing was changed (message then tells it).
int cmdLearn(bool fresh, std::string& message);

// Checks the files at the given paths as All checks its files (line reader,
// repairs, section and entry checks) against a rule base loaded for a run
// that stores nothing: no data database, no files named inside them followed.
void cmdCheck(const std::vector<std::string>& files);

}  // namespace ketch
