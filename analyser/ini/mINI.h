// Reading one game data file: each file is read once per rule-base load,
// section by section, and its rows are stored in one transaction.
#pragma once

#include <string>
#include <vector>

#include "shell/Records.h"

namespace ketch {

class cFile;

// Reads, tests and stores the file at path P under area A (stores nothing in
// a run that stores no rows). A file already read is skipped ("Already
// parsed. Skipped."), a missing one is warned 10306 against L, the place that
// named it. Unexpected failures are logged with the context "ReadINIFile" and
// end the program.
void ReadINIFile(const std::string& A, const std::string& P, LocationRecord& L);

// Reads every section of the open reader, checks it under area A and stores
// it (unless the run stores no rows), and counts the reader's lines; raises
// what the readers raise (9 for a section of too many lines).
void ReadSections(const std::string& A, cFile& reader);

// The findings of a data file's text in memory (code page 1252 bytes, read as
// a text file under the name given), checked as ReadINIFile checks a file in
// a run that stores nothing, as the finding sink hears them; the finding sink
// is unset afterwards. Needs a loaded rule base. Unexpected failures are
// logged with the context "CheckText" and end the program (EndProgram), as
// for ReadINIFile.
std::vector<Finding> CheckText(const std::string& name, std::string bytes);

// Tells the reader that ReadINIFile will soon be given path P, so that a
// binary file there can be converted ahead; a file already read is left out.
// Raises nothing.
void ReadAhead(const std::string& P);

// How ReadINIFile opens a path: reader.FileName(path), unless an opener has
// been set (tests give the lines of a path from memory). Null restores it.
using FileOpener = void (*)(cFile& reader, const std::string& path);
void SetFileOpener(FileOpener opener);

}  // namespace ketch
