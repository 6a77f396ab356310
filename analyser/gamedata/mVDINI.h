// The walk over the game's main configuration file: every [Data] entry of a
// known kind names a data file, which is read, tested and stored under that
// kind as its area.
#pragma once

#include <string>

#include "shell/Records.h"

namespace ketch {

// Where a file named by a value lies: the game folder, "\DATA\" and the
// value, as the game builds it.
std::string DataPath(const std::string& value);

// True for a [Data] kind whose files are read (compared exactly).
bool IsProcessedKind(const std::string& kind);

// The game's main configuration file: VDPath\EXE\vandrel.ini.
std::string GameINIPath();

// Walks VDPath\EXE\vandrel.ini and reads every [Data] file of the known kinds.
void ReadGameINI();

// Handles every entry of the [Data] section record R, in order.
void DoSectionData(SectionRecord& R);

}  // namespace ketch
