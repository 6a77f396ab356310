// Reading a data file section by section and testing each section against
// the rule base: ReadNextSection collects one section into the section
// record, DoSection checks its lines and stores the good ones.
#pragma once

#include <string>

#include "ini/cFile.h"
#include "shell/Records.h"

namespace ketch {

// Reads the next section of F into R: skips to the next header line (lines
// before it are ignored), warns 10301 for a header without "]", and collects
// the entry lines up to the next header, which is pushed back. Returns false
// when F ends before another header. Raises 9 for a 2049th entry line.
bool ReadNextSection(SectionRecord& R, cFile& F);

// Splits an entry line into its key and value: at the first "=", both
// without outer blanks; a line without "=", or starting with it, is all key.
void SplitEntryLine(const std::string& line, std::string& key, std::string& value);

// Tests every entry line of R against the rule of its section and stores the
// section under area A (unless the run stores no rows). Findings become
// warning records; an unexpected failure is logged with the context
// "DoSection" and ends the program.
void DoSection(const std::string& A, SectionRecord& R);

}  // namespace ketch
