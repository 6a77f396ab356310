// Where the program keeps its files. A program folder that can be written (the
// build's bin/, an unpacked copy, a test's folder) keeps everything beside the
// program, as it always did. An installed program cannot write its folder:
// each user then gets a folder of their own under $XDG_DATA_HOME/ketch
// (~/.local/share/ketch), with a copy of the supplied KETCH.MDB made on first
// use, VD.MDB beside it, and the log there unless the settings name another.
#pragma once

#include <string>

namespace ketch::Locations {

// True when the program keeps its files in its own folder: that folder can be
// written, and it holds a KETCH.MDB or no supplied copy lies in
// ../share/ketch.
bool InProgramFolder();

// The supplied, read-only rule base: KETCH.MDB of the program folder, or
// ../share/ketch/KETCH.MDB beside bin/ when the program folder has none.
std::string SuppliedSettingsDB();

// The user's own folder: $XDG_DATA_HOME/ketch, else $HOME/.local/share/ketch
// (the home of the passwd entry without HOME). Nothing is made.
std::string UserFolder();

// The folder of the settings database in use, of VD.MDB and of the default
// log: the program folder or the user's folder, without a trailing slash.
std::string DataFolder();

// The settings database in use, as the program names it (DataFolder() +
// "\KETCH.MDB").
std::string SettingsDB();

// The settings database in use, made first when needed: in the user's folder
// a copy of the supplied one, writable by its user. Raises 53 when there is
// no supplied copy, 75 or 76 when the folder or the copy cannot be made.
std::string PrepareSettingsDB();

// The log folder a run writes into: logPath, or DataFolder() when it is empty
// (never the root of the file system).
std::string LogFolder(const std::string& logPath);

}  // namespace ketch::Locations
