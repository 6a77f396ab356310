// Game paths are built Windows-style ("C:\Game" + "\EXE\vandrel.ini") and are
// logged and stored exactly as built. Only opening a file maps them onto the
// file system: backslashes become slashes, and a component that does not exist
// as spelled is matched without regard to letter case, as the game's own file
// system would.
#pragma once

#include <sys/stat.h>

#include <string>

namespace ketch {

// The file system path a Windows-style path names. Components that exist as
// spelled are kept; others are matched ignoring case; when nothing matches the
// rest of the path is returned as spelled (opening it then fails).
std::string ResolvePath(const std::string& windowsPath);

// Opens the file at the Windows-style path with open(2)'s flags. A path that
// opens as spelled costs no search of its folders; file is the path opened
// (or tried last). -1 with errno as open left it when it cannot be opened.
int OpenPath(const std::string& windowsPath, int flags, std::string& file);

// True when a file (not a folder) exists at the Windows-style path.
bool FileExists(const std::string& windowsPath);

// Opens the file at the Windows-style path for reading (as OpenPath, which
// sets file), never waiting on it: a FIFO without a writer, a socket, a
// device or a loop of links cannot hang or feed the reader. Fills st;
// returns the descriptor (blocking again) or -1 with errno set, EISDIR for
// anything that is not a regular file.
int OpenDataFile(const std::string& windowsPath, std::string& file, struct stat& st);

// Deletes the file at the Windows-style path; raises the platform's error when
// it cannot (53 when it does not exist, 75 when access is denied).
void DeleteFile(const std::string& windowsPath);

// The platform error number and text for an errno value met while opening or
// writing a file: 53 file not found, 76 path not found, 75 access denied, 61
// disk full, 57 otherwise.
int32_t FileErrorNumber(int errnoValue, bool wantedFolder = false);

}  // namespace ketch
