// Loading the rule base from the rule listing _bc_ListSections of the
// settings database, dumping that listing into the log, and the accessors of
// what a load sets up (RunState.h): the rule base and the set of files already
// read (the storage record sets are in Storage.h).
//
// The module has a second half, gamedata/mParse.h, which follows the files
// named by stored values: the loading and the following share a name but not
// a layer, since the walk reads files and the rules do not.
#pragma once

#include <string>

#include "rules/KeyedCollection.h"
#include "rules/cSection.h"

namespace ketch {

// Builds the rule base from _bc_ListSections, opens the storage record sets
// on the data database and starts a new run with them (an empty set of files
// already read, counts from zero). With storing false the run stores nothing
// and needs no data database: no record sets are opened. Any failure is
// logged with the context "InitParse" and ends the program; the previous
// state is then left untouched.
void InitParse(bool storing = true);

// Writes the rule listing into the log, one line per section, entry and
// value. Any failure is logged with the context "DumpRules" and ends the
// program.
void DumpRules();

// The rule base: section rules keyed by their upper-cased names. Raises 91
// before the first load.
KeyedCollection<cSection>& RuleBase();

// The set of files already read: paths keyed by themselves, compared without
// regard to letter case. Raises 91 before the first load.
KeyedCollection<std::string>& FilesRead();

// True once a load has succeeded.
bool RuleBaseLoaded();

// False when the current run checks files and stores nothing (InitParse's
// storing); true otherwise.
bool StoresRows();

}  // namespace ketch
